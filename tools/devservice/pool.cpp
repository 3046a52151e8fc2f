#include "pool.h"

namespace devservice {

GrowingPool::GrowingPool(size_t initial, size_t max) : max_(max) {
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < initial && i < max; ++i) workers_.emplace_back([this] { Work(); });
}

GrowingPool::~GrowingPool() { shutdown(); }

void GrowingPool::enqueue(std::function<void()> job) {
  std::lock_guard lock(mutex_);
  jobs_.push_back(std::move(job));
  // Woken workers still count as idle until they take a job, so compare with
  // everything pending rather than with this one job.
  if (idle_ < jobs_.size() && workers_.size() < max_) workers_.emplace_back([this] { Work(); });
  wake_.notify_one();
}

void GrowingPool::shutdown() {
  std::vector<std::thread> workers;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    workers.swap(workers_);
  }
  wake_.notify_all();
  for (auto& worker : workers)
    if (worker.joinable()) worker.join();
}

void GrowingPool::Work() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock lock(mutex_);
      ++idle_;
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      --idle_;
      if (jobs_.empty()) return;  // stopping, and nothing left to run
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job();
  }
}

}  // namespace devservice
