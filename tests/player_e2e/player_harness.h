#pragma once
// Drives the real player: a content link through the real parser and
// service, the real player window and browser, waits and page probes.
#include <QString>
#include <QVariant>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <QPoint>

#include <sys/types.h>

class QWidget;

#include "player/player_window_qt.h"

namespace PlayerTesting {

class PlayerTest : public ::testing::Test {
public:
    // Runs the event loop until the condition holds (false when time ran out), or for ms.
    static bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 20000);
    static void Pump(int ms);

protected:
    void SetUp() override;
    void TearDown() override;

    // Seals a link naming content (an identifier of the service's catalogue or
    // an address) on a service base, parses it and opens the player on it.
    bool OpenContent(const std::string& content, const std::string& domain = "https://127.0.0.1:47443");
    // A script in the top document; its value.
    QVariant RunJs(const QString& script, int timeoutMs = 10000);
    // Collects what the player posts to the page (printResult and others).
    void ListenForPlayerMessages();
    QString PlayerMessages();
    // Writes a screenshot of the window (the player by default) for a person to look at.
    void Screenshot(const std::string& name, QWidget* window = nullptr);

    std::unique_ptr<PlayerWindow> player;
};

// Real input through the X server (XTEST), as a user gives it: the window
// takes the keyboard focus, then the keys (xdotool names: "F11", "Escape").
void PressKeys(QWidget* window, const std::vector<std::string>& keys);
// Moves the pointer to a point of the screen, and clicks there that many times.
void PointerTo(const QPoint& global, int clicks = 0);

// Collects what the process writes to standard error (the player's log)
// from construction until Text().
class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    std::string Text();

private:
    int saved_ = -1;
    std::string path_;
};

// Starts the player program on link without waiting for it, its standard
// error written to logPath; its pid (the caller ends and reaps it), or -1.
pid_t StartPlayerProgram(const std::string& link, const std::string& logPath);
// The same with variables set for it alone (unset for an empty value); an
// empty link starts the init screen.
pid_t StartPlayerProgram(const std::string& link, const std::string& logPath,
                         const std::vector<std::pair<std::string, std::string>>& environment);
// Which window system the tests run on: TOVANI_TEST_DISPLAY=wayland for a
// Wayland compositor (weston, tests/player_e2e/with_weston.sh), X otherwise.
bool OnWayland();

// Answers the next modal printer dialog: choose printerName, or press
// Escape when it is empty. Returns the names the dialog listed, through seen.
void AnswerPrinterDialog(const QString& printerName, QStringList* seen = nullptr);

} // namespace PlayerTesting
