#pragma once
// Worker pool for one listener that grows with demand. Tests park requests on
// deliberate delays (up to a minute, even after the client gave up); a fixed
// pool would then queue every other request behind them.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <httplib.h>

namespace devservice {

class GrowingPool : public httplib::TaskQueue {
 public:
  GrowingPool(size_t initial, size_t max);
  ~GrowingPool() override;

  void enqueue(std::function<void()> job) override;
  void shutdown() override;  // runs what is queued, then joins every worker

 private:
  void Work();

  const size_t max_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  std::vector<std::thread> workers_;
  size_t idle_ = 0;
  bool stopping_ = false;
};

}  // namespace devservice
