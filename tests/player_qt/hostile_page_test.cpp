// Pages that misuse the message channel or the host's entry points: the
// host ignores what is not a string message and keeps working.
#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QInputDialog>
#include <QMessageBox>
#include <QTimer>

#include <gmock/gmock.h>

#include "browser_fixture.h"
#include "player/webview_host_qt.h"

using BrowserTesting::BrowserTest;
using ::testing::ElementsAre;

namespace {

class HostilePageTest : public BrowserTest {};

QString ChannelLibrary() {
    QFile file(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

TEST_F(HostilePageTest, DirectChannelAbuseIsIgnoredAndTheBridgeSurvives) {
    ASSERT_TRUE(Start());
    const QString library = ChannelLibrary();
    ASSERT_FALSE(library.isEmpty());
    const QString page = QStringLiteral("<script>") + library + QStringLiteral(R"JS(
var t = qt.webChannelTransport;
t.send('garbage');
t.send('{"type":6}');
t.send(JSON.stringify({type: 6, object: 'chromeWebView', method: 99999, args: [], id: 1}));
t.send(JSON.stringify({type: 7, object: 'nothing', property: 1, value: 2}));
new QWebChannel(t, function (channel) {
  var o = channel.objects.chromeWebView;
  o.deleteLater();
  o.post(123);
  o.post({a: 1});
  o.post('not json');
  o.post('[1,2]');
  o.post('"direct"');
  o.objectName = 'renamed';
});
</script>)JS");
    ASSERT_TRUE(NavigateAndWait([&] { host->NavigateToString(page.toStdU16String()); }));
    ASSERT_TRUE(WaitFor([&] { return !messages.empty(); }));
    Pump(500);
    EXPECT_THAT(messages, ElementsAre(u"direct"));
    // A new document gets a working channel to the same, living object.
    ASSERT_TRUE(NavigateAndWait([&] {
        host->NavigateToString(u"<script>window.chrome.webview.postMessage('alive')</script>");
    }));
    ASSERT_TRUE(WaitFor([&] { return messages.size() == 2; }));
    EXPECT_EQ(messages.back(), u"alive");
    host->PostWebMessageAsJson(u"{\"still\":true}");
}

TEST_F(HostilePageTest, FloodsAndOddValuesDoNotHurtTheHost) {
    ASSERT_TRUE(Start());
    ASSERT_TRUE(NavigateAndWait([&] {
        host->NavigateToString(
            u"<script>"
            u"var w = window.chrome.webview;"
            u"for (var i = 0; i < 3000; ++i) w.postMessage('m' + i);"
            u"w.postMessage('x'.repeat(4 * 1024 * 1024));"
            u"w.postMessage('\\ud800 lone');"
            u"w.postMessage(Symbol ? 'after symbol' : '');"
            u"try { w.postMessage(Symbol('s')); } catch (e) {}"
            u"try { w.postMessage(10n); } catch (e) {}"
            u"w.addEventListener('message', function () { throw new Error('listener'); });"
            u"</script>");
    }));
    // Messages queued before the channel came up are capped; the rest flow.
    ASSERT_TRUE(WaitFor([&] { return messages.size() >= 1000; }, 20000));
    Pump(500);
    EXPECT_EQ(messages.front(), u"m0");
    RunJs(QStringLiteral("window.chrome.webview.postMessage('end')"));
    ASSERT_TRUE(WaitFor([&] { return !messages.empty() && messages.back() == u"end"; }));
    host->PostWebMessageAsJson(u"{\"x\":1}");
    host->PostWebMessageAsJson(WString(u"\"") + WString(100000, u'y') + u"\"");
    host->PostWebMessageAsJson(u"");
    host->PostWebMessageAsJson(WString(u"{\"a\":\"\0\"}", 10));
    Pump(300);
    EXPECT_EQ(RunJs(QStringLiteral("1 + 1")).toInt(), 2);
}

// The page's own dialogs answer as the user does, and show the page's text
// as text.
TEST_F(HostilePageTest, PageDialogsAnswerAndShowTextLiterally) {
    ASSERT_TRUE(Start());
    ASSERT_TRUE(NavigateAndWait([&] { host->NavigateToString(u"<p>dialogs</p>"); }));
    QStringList texts;
    int answered = 0;
    QTimer user;
    user.setInterval(100);
    QObject::connect(&user, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (!widget->isVisible() || widget->objectName() != QStringLiteral("tovaniPageDialog")) continue;
            if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                texts << box->text();
                EXPECT_EQ(box->textFormat(), Qt::PlainText);
                EXPECT_EQ(box->windowModality(), Qt::NonModal);
                // The first confirm is accepted, the second cancelled.
                const bool cancel = answered == 2;
                box->button(cancel ? QMessageBox::Cancel : QMessageBox::Ok)->click();
                ++answered;
            } else if (auto* input = qobject_cast<QInputDialog*>(widget)) {
                texts << input->labelText();
                input->setTextValue(QStringLiteral("typed"));
                input->accept();
                ++answered;
            }
            return;
        }
    });
    user.start();
    const QString results = RunJs(QStringLiteral(
        "alert('<b>a</b>\\x1b[2J'); var r = [confirm('c1'), confirm('c2'), prompt('p', 'd')]; JSON.stringify(r)"), 30000)
                                .toString();
    user.stop();
    EXPECT_EQ(results.toStdString(), R"([true,false,"typed"])");
    EXPECT_EQ(texts, QStringList({QStringLiteral("<b>a</b>[2J"), QStringLiteral("c1"), QStringLiteral("c2"), QStringLiteral("p")}));
}

} // namespace
