// A browser that cannot start: the host reports it instead of hanging or
// taking the process down. Each case runs this test program again in a
// child process, since Qt WebEngine starts once per process.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QProcess>
#include <QProcessEnvironment>

#include <gmock/gmock.h>

#include "browser_fixture.h"

using BrowserTesting::BrowserTest;

namespace {

constexpr char kChildSwitch[] = "TOVANI_START_FAILURE_CHILD";

// The child's side: only runs when the parent asks for it.
class StartFailureChild : public BrowserTest {};

TEST_F(StartFailureChild, InitializeReportsFailure) {
    if (qEnvironmentVariableIsEmpty(kChildSwitch)) GTEST_SKIP() << "runs as a child of StartFailure tests";
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(Start());
    EXPECT_THAT(readyCalls, ::testing::ElementsAre(false));
    EXPECT_FALSE(host->IsReady());
    EXPECT_LT(timer.elapsed(), 25000);
    host->NavigateToString(u"<p>x</p>");
    host->PostWebMessageAsJson(u"{}");
    std::printf("child finished\n");
}

struct ChildRun {
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QString output;
};

ChildRun RunChild(const QString& helperPath) {
    // A repair already tried: the failure is reported instead of repaired
    // (a repair would end the child and relaunch it).
    QTemporaryDir temp;
    QFile flag(temp.filePath(QStringLiteral("webview2_repair_done.flag")));
    flag.open(QIODevice::WriteOnly);
    flag.write("repair_attempted\n");
    flag.close();
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kChildSwitch), QStringLiteral("1"));
    env.insert(QStringLiteral("QTWEBENGINEPROCESS_PATH"), helperPath);
    env.insert(QStringLiteral("TMPDIR"), temp.path());
    // A private folder of this user's: where the flag of a repair lives.
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), temp.path());
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=StartFailureChild.InitializeReportsFailure")});
    ChildRun run;
    if (!child.waitForFinished(60000)) {
        child.kill();
        child.waitForFinished(5000);
        return run;
    }
    run.exitCode = child.exitCode();
    run.status = child.exitStatus();
    run.output = QString::fromUtf8(child.readAll());
    if (flag.exists()) run.output += QStringLiteral("\n(the repair flag was not consumed)");
    return run;
}

TEST(StartFailure, HelperThatCannotRunPagesIsReportedAsFailure) {
    // Chromium itself aborts now and then when its helper dies while it
    // starts the zygote; that start is tried again.
    ChildRun run;
    for (int attempt = 0; attempt < 3; ++attempt) {
        run = RunChild(QStringLiteral("/bin/false"));
        if (!run.output.contains(QStringLiteral("Cannot communicate with zygote"))) break;
    }
    EXPECT_EQ(run.status, QProcess::NormalExit) << run.output.toStdString();
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains(QStringLiteral("child finished"))) << run.output.toStdString();
    EXPECT_FALSE(run.output.contains(QStringLiteral("not consumed"))) << run.output.toStdString();
}

TEST(StartFailure, MissingHelperIsReportedInsteadOfAborting) {
    // Qt WebEngine itself would abort the process here.
    const ChildRun run = RunChild(QStringLiteral("/nonexistent/QtWebEngineProcess"));
    EXPECT_EQ(run.status, QProcess::NormalExit) << run.output.toStdString();
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains(QStringLiteral("child finished"))) << run.output.toStdString();
    EXPECT_FALSE(run.output.contains(QStringLiteral("not consumed"))) << run.output.toStdString();
}

} // namespace
