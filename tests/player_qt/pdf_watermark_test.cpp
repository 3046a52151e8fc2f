// The watermark qpdf adds to a PDF's own pages, read back as a reader sees
// them (poppler's tools): a document whose pages try to trip it, a damaged
// one, a watermark in a script WinAnsi cannot show, and documents that ask
// for gigabytes of work.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <chrono>
#include <fstream>
#include <regex>
#include <set>

#include "player/pdf_watermark.h"
#include "tests/player_qt/test_pdfs.h"
#include "tests/support/test_support.h"

namespace {

// Two pages sharing resources from their page tree, whose font has the name
// the watermark's own would take first; page one's content leaves a halving
// scale set (no q/Q), page two is shown turned by 90 degrees.
std::string TrickyDocument() {
    const auto stream = [](const std::string& content) {
        return "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream";
    };
    const std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /MediaBox [0 0 600 800] "
        "/Resources << /Font << /TovaniWatermarkFont1 5 0 R >> >> >>",
        "<< /Type /Page /Parent 2 0 R /Contents 6 0 R >>",
        "<< /Type /Page /Parent 2 0 R /Rotate 90 /Contents 7 0 R >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Courier /Encoding /WinAnsiEncoding >>",
        stream("0.5 0 0 0.5 0 0 cm BT /TovaniWatermarkFont1 24 Tf 72 1400 Td (First page) Tj ET"),
        stream("BT /TovaniWatermarkFont1 12 Tf 72 720 Td (Second page) Tj ET"),
        "<< /Title (Two pages) >>",
    };
    return TestPdfs::PdfOf(objects, " /Info 8 0 R");
}

// The document encrypted (AES-256) with this user password and printing right.
std::string Encrypted(const std::string& document, const char* userPassword, qpdf_r3_print_e print) {
    QPDF pdf;
    pdf.processMemoryFile("document", document.data(), document.size());
    QPDFWriter writer(pdf);
    writer.setOutputMemory();
    writer.setR6EncryptionParameters(userPassword, "owner", true, true, true, true, true, true, print, true);
    writer.write();
    const std::shared_ptr<Buffer> written = writer.getBufferSharedPointer();
    return std::string(reinterpret_cast<const char*>(written->getBuffer()), written->getSize());
}

std::string Saved(const QTemporaryDir& folder, const std::string& name, const std::string& bytes) {
    const std::string path = folder.path().toStdString() + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

std::string Tool(const std::string& tool, std::vector<std::string> args) {
    const auto result = TestSupport::RunProcess("/usr/bin/" + tool, args);
    EXPECT_EQ(result.status, 0) << tool << ": " << result.err;
    return result.out;
}

struct Box {
    double left = 1e9, top = 1e9, right = -1e9, bottom = -1e9;
};

// Where pdftotext finds the watermark's pieces on the shown page (y down):
// all of it, its "L" and its "2".
struct Pieces {
    Box all, letterL, digit2;
};

Pieces WatermarkPieces(const std::string& pdf, int page, const std::set<std::string>& pageWords) {
    const std::string n = std::to_string(page);
    const std::string html = Tool("pdftotext", {"-bbox", "-f", n, "-l", n, pdf, "-"});
    static const std::regex word(
        R"re(<word xMin="([-0-9.]+)" yMin="([-0-9.]+)" xMax="([-0-9.]+)" yMax="([-0-9.]+)">([^<]*)</word>)re");
    Pieces pieces;
    const auto add = [](Box& box, const std::smatch& m) {
        box = Box{std::min(box.left, std::stod(m[1])), std::min(box.top, std::stod(m[2])),
                  std::max(box.right, std::stod(m[3])), std::max(box.bottom, std::stod(m[4]))};
    };
    for (std::sregex_iterator it(html.begin(), html.end(), word), end; it != end; ++it) {
        const std::smatch& m = *it;
        const std::string text = m[5];
        if (pageWords.count(text) != 0) continue;
        add(pieces.all, m);
        if (text.find('L') != std::string::npos) add(pieces.letterL, m);
        if (text.find('2') != std::string::npos) add(pieces.digit2, m);
    }
    return pieces;
}

} // namespace

TEST(PdfWatermark, EveryPageGetsItAsTextAcrossItsCentreWhateverThePageLeavesSet) {
    const WatermarkedPdf watermarked = WatermarkPdf(TrickyDocument(), u"Learner 42");
    ASSERT_TRUE(watermarked.ok) << watermarked.error;
    EXPECT_EQ(watermarked.title, "Two pages");
    QTemporaryDir folder;
    const std::string pdf = Saved(folder, "watermarked.pdf", watermarked.pdf);

    // The page's own font kept beside the watermark's (no name taken twice).
    const std::string fonts = Tool("pdffonts", {pdf});
    EXPECT_NE(fonts.find("Courier"), std::string::npos) << fonts;
    EXPECT_NE(fonts.find("Helvetica-Bold"), std::string::npos) << fonts;

    const std::string first = Tool("pdftotext", {"-raw", "-f", "1", "-l", "1", pdf, "-"});
    const std::string second = Tool("pdftotext", {"-raw", "-f", "2", "-l", "2", pdf, "-"});
    EXPECT_NE(first.find("First page\nLearner 42\n"), std::string::npos) << first;
    EXPECT_NE(second.find("Second"), std::string::npos) << second;
    EXPECT_NE(second.find("\nLearner 42\n"), std::string::npos) << second;

    // Centred on the page as shown (the first page's halving scale stays in
    // its own graphics state), rising to the right on the turned page too.
    const std::set<std::string> own = {"First", "Second", "page"};
    const struct {
        int page;
        double width, height;
    } shown[] = {{1, 600, 800}, {2, 800, 600}};
    for (const auto& s : shown) {
        const Pieces p = WatermarkPieces(pdf, s.page, own);
        EXPECT_NEAR((p.all.left + p.all.right) / 2, s.width / 2, s.width * 0.05) << "page " << s.page;
        EXPECT_NEAR((p.all.top + p.all.bottom) / 2, s.height / 2, s.height * 0.05) << "page " << s.page;
        // At 3% of the shown width: "Learner 42" is 5.06 Helvetica-Bold
        // sizes long, across the page by cos 30 degrees of that.
        EXPECT_NEAR((p.all.right - p.all.left) / s.width, 0.03 * 5.06 * 0.866, 0.015) << "page " << s.page;
        EXPECT_GT(p.digit2.left, p.letterL.right) << "page " << s.page;
        EXPECT_LT(p.digit2.bottom, p.letterL.top) << "page " << s.page;
    }
}

TEST(PdfWatermark, ScriptsWinAnsiLacksAreDrawnAndDamagedDocumentsFail) {
    // Runs in the order they stand: a right-to-left run takes the digits
    // after it, not the spaces around it.
    const std::vector<WatermarkRun> runs = WatermarkRuns(u"Learner 42 \u2013 \u0645\u0631\u062D\u0628\u0627 7 x");
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_TRUE(runs[0].text);
    EXPECT_EQ(runs[0].winAnsi, "Learner 42 \x96 ");
    EXPECT_FALSE(runs[1].text);
    EXPECT_EQ(runs[1].other, u"\u0645\u0631\u062D\u0628\u0627 7");
    EXPECT_TRUE(runs[2].text);
    EXPECT_EQ(runs[2].winAnsi, " x");

    const WatermarkedPdf watermarked = WatermarkPdf(TrickyDocument(), u"Learner 42 \u2013 \u0645\u0631\u062D\u0628\u0627");
    ASSERT_TRUE(watermarked.ok) << watermarked.error;
    QTemporaryDir folder;
    const std::string pdf = Saved(folder, "arabic.pdf", watermarked.pdf);
    // The Latin part as text, the Arabic part as a stencil in the same colour (no transparency anywhere).
    EXPECT_NE(Tool("pdftotext", {"-raw", "-f", "1", "-l", "1", pdf, "-"}).find("Learner 42 \xE2\x80\x93"), std::string::npos);
    const std::string images = Tool("pdfimages", {"-list", pdf});
    EXPECT_NE(images.find("stencil"), std::string::npos) << images;
    EXPECT_EQ(watermarked.pdf.find("/SMask"), std::string::npos);
    EXPECT_EQ(watermarked.pdf.find("/ca"), std::string::npos);

    for (const std::string& damaged : {std::string("%PDF-1.4 damaged\n"), std::string(), TrickyDocument().substr(0, 200)}) {
        const WatermarkedPdf result = WatermarkPdf(damaged, u"Learner 42");
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.pdf.empty());
        EXPECT_FALSE(result.error.empty());
    }
}

TEST(PdfWatermark, AnEncryptedDocumentPrintsOnlyWhereItAllowsPrintingAndStaysEncrypted) {
    const std::string document = TrickyDocument();
    const WatermarkedPdf allowed = WatermarkPdf(Encrypted(document, "", qpdf_r3p_low), u"Learner 42");
    ASSERT_TRUE(allowed.ok) << allowed.error;
    QTemporaryDir folder;
    const std::string pdf = Saved(folder, "encrypted.pdf", allowed.pdf);
    const std::string info = Tool("pdfinfo", {pdf});
    EXPECT_NE(info.find("algorithm:AES-256"), std::string::npos) << info;
    EXPECT_NE(Tool("pdftotext", {"-raw", "-f", "1", "-l", "1", pdf, "-"}).find("First page\nLearner 42\n"), std::string::npos);

    // No printing right, or a password the learner was never given: nothing to print.
    for (const std::string& locked : {Encrypted(document, "", qpdf_r3p_none), Encrypted(document, "secret", qpdf_r3p_full)}) {
        const WatermarkedPdf result = WatermarkPdf(locked, u"Learner 42");
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.pdf.empty());
    }
    EXPECT_EQ(WatermarkPdf(Encrypted(document, "", qpdf_r3p_none), u"Learner 42").error, "the document does not allow printing");
}

TEST(PdfWatermark, TheDocumentsOwnStreamsStayAsTheyCameAndDocumentsAskingForGigabytesFailAtOnce) {
    // The page's own content goes out byte for byte: not decoded, not compressed.
    const WatermarkedPdf kept = WatermarkPdf(TrickyDocument(), u"Learner 42");
    ASSERT_TRUE(kept.ok) << kept.error;
    EXPECT_NE(kept.pdf.find("0.5 0 0 0.5 0 0 cm BT /TovaniWatermarkFont1 24 Tf 72 1400 Td (First page) Tj ET"),
              std::string::npos);

    const struct {
        const char* name;
        std::string document;
        std::string error;
    } hostile[] = {
        {"Flate three times over", TestPdfs::NestedFlatePdf(), "the document compresses a stream more than once (4 0 R)"},
        {"200000 pages", TestPdfs::ManyPagesPdf(200000, 200000), "the document has more than 10000 pages"},
        {"10001 pages said to be one", TestPdfs::ManyPagesPdf(10001, 1), "the document has more than 10000 pages"},
    };
    for (const auto& h : hostile) {
        const auto start = std::chrono::steady_clock::now();
        const WatermarkedPdf result = WatermarkPdf(h.document, u"Learner 42");
        EXPECT_FALSE(result.ok) << h.name;
        EXPECT_TRUE(result.pdf.empty()) << h.name;
        EXPECT_EQ(result.error, h.error) << h.name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << h.name;
    }
}
