// Printing a PDF content end to end: the player's print button, its printer
// dialog, CUPS-PDF, and the file CUPS-PDF wrote, read back page by page; the
// outcome the window shows for a printed, a failed and a stopped-printer print;
// documents that ask for gigabytes of work, and a window closed mid-print.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QTemporaryDir>
#include <QTextDocumentFragment>

#include <QElapsedTimer>

#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <cerrno>
#include <set>
#include <thread>

#include "common/masking.h"
#include "common/process_list_linux.h"
#include "links/player_content.h"
#include "player/pdf_watermark_process_qt.h"
#include "player/print_gate.h"
#include "player/print_job_qt.h"
#include "tests/player_e2e/outside_listener.h"
#include "tests/player_e2e/player_harness.h"
#include "tests/player_e2e/window_close_x11.h"
#include "tests/player_qt/test_pdfs.h"
#include "tests/support/test_support.h"

using namespace PlayerTesting;

namespace {

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

const std::string kSamplePdf = std::string(TOVANI_SOURCE_DIR_PATH) + "/tools/devservice/media/sample.pdf";

// The files CUPS-PDF wrote for jobs of this name (it names them after the
// job; other tests of the machine print other jobs into the same folder).
std::set<QString> PdfFiles(const QString& job) {
    const QStringList names = QDir(QDir::homePath() + "/PDF").entryList({job + "*.pdf"}, QDir::Files);
    return std::set<QString>(names.begin(), names.end());
}

// The file CUPS-PDF wrote since before, once it is complete (it is renamed
// into place when Ghostscript is done, and is readable then).
QString NewPdfFile(const QString& job, const std::set<QString>& before, int timeoutMs) {
    QString found;
    PlayerTest::WaitFor([&] {
        for (const QString& name : PdfFiles(job))
            if (before.count(name) == 0) found = QDir::homePath() + "/PDF/" + name;
        return !found.isEmpty() && TestSupport::RunProcess("/usr/bin/pdfinfo", {found.toStdString()}).status == 0;
    }, timeoutMs);
    return found;
}

// The text of printed pages from first to last (pdftotext: text the printout
// holds as text, not pictures of it).
std::string PageText(const QString& pdf, int first, int last) {
    const auto text = TestSupport::RunProcess("/usr/bin/pdftotext", {"-raw", "-f", std::to_string(first), "-l", std::to_string(last),
                                                                     "-enc", "UTF-8", pdf.toStdString(), "-"});
    EXPECT_EQ(text.status, 0) << text.err;
    return text.out;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// The watermark's red pixels on each printed page, at a low resolution.
std::vector<int> RedPixels(const QString& pdf, const QString& folder) {
    const std::string prefix = (folder + "/page").toStdString();
    const auto rendered = TestSupport::RunProcess("/usr/bin/pdftoppm", {"-r", "40", "-png", pdf.toStdString(), prefix});
    EXPECT_EQ(rendered.status, 0) << rendered.err;
    std::vector<int> pages;
    for (const QString& name : QDir(folder).entryList({"page*.png"}, QDir::Files, QDir::Name)) {
        const QImage image = QImage(folder + "/" + name).convertToFormat(QImage::Format_RGB32);
        int red = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.red() - std::max(c.green(), c.blue()) > 20) ++red;
            }
        pages.push_back(red);
    }
    return pages;
}

// The window's print notice, once shown.
QLabel* Notice(QWidget* window) {
    QLabel* notice = nullptr;
    PlayerTest::WaitFor([&] {
        notice = window->findChild<QLabel*>(QStringLiteral("printNotice"));
        return notice != nullptr && notice->isVisible();
    }, 10000);
    return notice;
}

// What the outside host gives the player's own fetch of the shown
// document, while the browser gets the sample.
std::string gPlayersDocument;
std::string PlayersDocumentElsePdf(const std::string& request) {
    const bool browser = request.find("QtWebEngine") != std::string::npos;
    const std::string& body = browser ? TestSupport::ReadFile(kSamplePdf) : gPlayersDocument;
    return "HTTP/1.1 200 OK\r\nContent-Type: application/pdf\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

// The most memory this process has held, in kB.
long PeakMemoryKb() {
    const std::string status = TestSupport::ReadFile("/proc/self/status");
    const std::size_t at = status.find("VmHWM:");
    return at == std::string::npos ? 0 : std::stol(status.substr(at + 6));
}

// The player's watermarking processes (this process's children).
std::vector<pid_t> WatermarkingProcesses() {
    std::vector<pid_t> found;
    for (const ProcessEntry& p : ListProcesses()) {
        if (p.parent != getpid()) continue;
        const std::string command = TestSupport::ReadFile("/proc/" + std::to_string(p.pid) + "/cmdline");
        if (command.find(kWatermarkMode) != std::string::npos) found.push_back(p.pid);
    }
    return found;
}

const char kFailedNotice[] = "Printing failed.\n\xD8\xAA\xD8\xB9\xD8\xB0\xD8\xB1\xD8\xAA "
                             "\xD8\xA7\xD9\x84\xD8\xB7\xD8\xA8\xD8\xA7\xD8\xB9\xD8\xA9.";
const char kFailedResult[] = R"({"type":"printResult","status":"error","message":"Print failed. Please check your printer."})";

} // namespace

class PdfPrint : public PlayerTest {
protected:
    void Print(const QString& printer, QStringList* listed = nullptr) {
        RunJs(Text("window.__tovaniResults = []; true"));
        AnswerPrinterDialog(printer, listed);
        // The print button the player puts on every PDF, as the learner clicks it.
        RunJs(Text("document.getElementById('kelbro-print-btn').click(); true"));
    }
    // The window says how the print went, in both languages; a screenshot shows it.
    void ExpectNotice(const QString& text, const std::string& screenshot) {
        QLabel* notice = Notice(player.get());
        EXPECT_NE(notice, nullptr) << "no print notice in the window";
        if (notice == nullptr) return;
        EXPECT_EQ(QTextDocumentFragment::fromHtml(notice->text()).toPlainText(), text);
        Pump(300);
        // What the X server shows, the notice over the browser's picture.
        QDir().mkpath(QStringLiteral(TOVANI_ARTIFACT_DIR));
        const auto shot = TestSupport::RunProcess(
            "/usr/bin/import", {"-window", std::to_string(player->winId()),
                                std::string(TOVANI_ARTIFACT_DIR) + "/" + screenshot + ".png"});
        EXPECT_EQ(shot.status, 0) << shot.err;
    }
    // A new window showing notes.pdf from the outside host, its print button there.
    bool OpenOutsidePdf(const OutsideListener& outside) {
        player.reset();
        PlayerContent = PlayerContentRecord{};
        PlayerContent.domain = u"https://127.0.0.1:47443";
        PlayerContent.url = Utf8ToWide("http://" + outside.HostPort() + "/notes.pdf");
        PlayerContent.contentType = u"pdf";
        PlayerContent.watermarkText = u"Learner 42";
        player = std::make_unique<PlayerWindow>();
        player->show();
        if (!player->CreateBrowser() ||
            !WaitFor([&] { return RunJs(Text("!!document.getElementById('kelbro-print-btn')")).toBool(); }))
            return false;
        ListenForPlayerMessages();
        return true;
    }
    QString WaitForResult(int timeoutMs) {
        WaitFor([&] { return PlayerMessages().contains(Text("printResult")); }, timeoutMs);
        return PlayerMessages();
    }
};

TEST_F(PdfPrint, PrintsTheDocumentsPagesInOrderWithTheWatermarkAndSaysSo) {
    ASSERT_TRUE(OpenContent("pdf-1"));
    ASSERT_TRUE(WaitFor([&] { return RunJs(Text("!!document.getElementById('kelbro-print-btn')")).toBool(); }));
    ListenForPlayerMessages();

    const QString job = Text("Tovani_sample_document"); // the document's title
    const std::set<QString> before = PdfFiles(job);
    QStringList listed;
    Print(Text("PDF"), &listed);
    EXPECT_EQ(WaitForResult(90000).toStdString(),
              R"({"type":"printResult","status":"success","message":"Print job sent successfully."})");
    // The dialog says what each printer is doing (PDF may be printing
    // another test's job); the stopped one is marked.
    EXPECT_TRUE(listed.contains(Text("PDF  \xE2\x98\x85  (idle)")) || listed.contains(Text("PDF  \xE2\x98\x85  (printing)")))
        << listed.join('|').toStdString();
    EXPECT_TRUE(listed.contains(Text("Stopped  (stopped)"))) << listed.join('|').toStdString();

    ExpectNotice(Text("Printed.\n\xD8\xAA\xD9\x85\xD8\xAA \xD8\xA7\xD9\x84\xD8\xB7\xD8\xA8\xD8\xA7\xD8\xB9\xD8\xA9."),
                 "print-notice-printed");

    const QString file = NewPdfFile(job, before, 60000);
    ASSERT_FALSE(file.isEmpty()) << "CUPS-PDF wrote nothing for the document";
    const auto info = TestSupport::RunProcess("/usr/bin/pdfinfo", {file.toStdString()});
    EXPECT_NE(info.out.find("Pages:           2"), std::string::npos) << info.out;

    // The document's own pages, in order, their text still text; the
    // watermark's Latin part as text once on each (its Arabic part is drawn,
    // not written, so the red shows on each page too).
    const std::string first = PageText(file, 1, 1), second = PageText(file, 2, 2),
                      all = PageText(file, 1, 2);
    EXPECT_NE(first.find("Tovani sample document"), std::string::npos) << first;
    EXPECT_NE(first.find("Page 1 of 2. Used by the development service."), std::string::npos) << first;
    EXPECT_NE(second.find("Page 2 of 2."), std::string::npos) << second;
    EXPECT_EQ(first.find("Page 2 of 2"), std::string::npos) << first;
    EXPECT_LT(all.find("Page 1 of 2"), all.find("Page 2 of 2")) << all;
    for (const std::string* page : {&first, &second})
        EXPECT_EQ(Occurrences(*page, "Learner 42 \xE2\x80\x93"), 1u) << *page;
    QTemporaryDir pictures, source;
    const std::vector<int> red = RedPixels(file, pictures.path());
    ASSERT_EQ(red.size(), 2u);
    for (std::size_t i = 0; i < red.size(); ++i) EXPECT_GT(red[i], 40) << "page " << i + 1 << " has no watermark";
    EXPECT_EQ(RedPixels(Text(kSamplePdf.c_str()), source.path()), std::vector<int>({0, 0}));
}

TEST_F(PdfPrint, AStoppedPrinterAndADocumentThatCannotBePrintedAreSaidSo) {
    ASSERT_TRUE(OpenContent("pdf-1"));
    ASSERT_TRUE(WaitFor([&] { return RunJs(Text("!!document.getElementById('kelbro-print-btn')")).toBool(); }));
    ListenForPlayerMessages();
    Pump(1500); // the viewer draws the document, for the screenshots

    // A stopped printer takes no job: unavailable, in the window too.
    Print(Text("Stopped"));
    EXPECT_EQ(WaitForResult(20000).toStdString(),
              R"({"type":"printResult","status":"error","message":"The selected printer is unavailable."})");
    ExpectNotice(Text("The printer is unavailable.\n\xD8\xA7\xD9\x84\xD8\xB7\xD8\xA7\xD8\xA8\xD8\xB9\xD8\xA9 "
                      "\xD8\xBA\xD9\x8A\xD8\xB1 \xD9\x85\xD8\xAA\xD8\xA7\xD8\xAD\xD8\xA9."),
                 "print-notice-unavailable");
    player.reset();

    // The browser shows a PDF, the player's own fetch of it gets a damaged
    // one: the print fails and says so; nothing reaches the printer, and
    // the player's request carried no identity to a host off the platform.
    gPlayersDocument = "%PDF-1.4 damaged\n";
    OutsideListener outside("127.0.0.9", PlayersDocumentElsePdf);
    ASSERT_TRUE(outside.listening());
    ASSERT_TRUE(OpenOutsidePdf(outside));
    Pump(1500);
    const std::set<QString> before = PdfFiles(Text("notes"));
    Print(Text("PDF"));
    EXPECT_EQ(WaitForResult(60000).toStdString(),
              R"({"type":"printResult","status":"error","message":"Print failed. Please check your printer."})");
    ExpectNotice(Text("Printing failed.\n\xD8\xAA\xD8\xB9\xD8\xB0\xD8\xB1\xD8\xAA "
                      "\xD8\xA7\xD9\x84\xD8\xB7\xD8\xA8\xD8\xA7\xD8\xB9\xD8\xA9."),
                 "print-notice-failed");

    const std::vector<std::string> requests = outside.Requests();
    int playerFetches = 0;
    const std::string identity = UnmaskConstant(Config::kIdentityHeader);
    for (const std::string& request : requests) {
        if (request.find("QtWebEngine") != std::string::npos) continue;
        ++playerFetches;
        EXPECT_EQ(ToLowerAscii(request).find(ToLowerAscii(identity) + ":"), std::string::npos) << request;
    }
    EXPECT_EQ(playerFetches, 1);
    Pump(3000);
    EXPECT_EQ(PdfFiles(Text("notes")).size(), before.size()) << "a job reached CUPS-PDF";
}

TEST_F(PdfPrint, DocumentsAskingForGigabytesFailWithinSecondsInLittleMemory) {
    OutsideListener outside("127.0.0.9", PlayersDocumentElsePdf);
    ASSERT_TRUE(outside.listening());
    const long peakBefore = PeakMemoryKb();
    const struct {
        const char* name;
        std::string document;
    } hostile[] = {{"Flate three times over", TestPdfs::NestedFlatePdf()},
                   {"an object stream of Flate three times over", TestPdfs::NestedFlateObjectStreamPdf()},
                   {"200000 pages", TestPdfs::ManyPagesPdf(200000, 200000)}};
    for (const auto& h : hostile) {
        SCOPED_TRACE(h.name);
        gPlayersDocument = h.document;
        ASSERT_TRUE(OpenOutsidePdf(outside));
        const std::set<int> jobs = PrinterJobIds(Text("PDF"));
        QElapsedTimer clock;
        clock.start();
        Print(Text("PDF"));
        EXPECT_EQ(WaitForResult(60000).toStdString(), kFailedResult);
        EXPECT_LT(clock.elapsed(), 10000);
        QLabel* notice = Notice(player.get());
        ASSERT_NE(notice, nullptr);
        EXPECT_EQ(QTextDocumentFragment::fromHtml(notice->text()).toPlainText(), Text(kFailedNotice));
        EXPECT_EQ(PrinterJobIds(Text("PDF")), jobs) << "a job reached CUPS";
    }
    // The work ran in processes of the player's, each in little memory,
    // and none is left.
    EXPECT_LT(PeakMemoryKb() - peakBefore, 300 * 1024) << "the player itself took the memory";
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    EXPECT_LT(children.ru_maxrss, 400 * 1024) << "kB";
    EXPECT_TRUE(WatermarkingProcesses().empty());
}

TEST_F(PdfPrint, ClosingTheWindowDuringAPrintEndsTheWatermarkingAndPrintsNothing) {
    OutsideListener outside("127.0.0.9", PlayersDocumentElsePdf);
    ASSERT_TRUE(outside.listening());
    gPlayersDocument = TestPdfs::ManyPagesPdf(9000, 9000); // within the bounds, a moment's work
    ASSERT_TRUE(OpenOutsidePdf(outside));
    const std::set<int> jobs = PrinterJobIds(Text("PDF"));
    const std::set<QString> files = PdfFiles(Text("notes"));

    // The watermarking is held still as soon as it shows, so the window
    // closes while it has not finished (as a long document would have it).
    std::atomic<pid_t> worker{0};
    std::atomic<bool> stop{false};
    std::thread spy([&] {
        while (!stop && worker == 0) {
            for (const pid_t pid : WatermarkingProcesses()) {
                kill(pid, SIGSTOP);
                worker = pid;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    Print(Text("PDF"));
    WaitFor([&] { return worker != 0; }, 30000);
    stop = true;
    spy.join();
    ASSERT_NE(worker, 0) << "no watermarking process of its own";

    RequestCloseLikeAWindowManager(player->winId());
    const bool ended = WaitFor([&] { return kill(worker, 0) != 0 && errno == ESRCH; }, 5000);
    EXPECT_TRUE(ended) << "the watermarking outlived the window";
    if (!ended) kill(worker, SIGKILL);
    EXPECT_FALSE(player->isVisible());
    Pump(3000);
    EXPECT_EQ(PrinterJobIds(Text("PDF")), jobs) << "a job reached CUPS";
    EXPECT_EQ(PdfFiles(Text("notes")), files) << "CUPS-PDF wrote the document";
}
