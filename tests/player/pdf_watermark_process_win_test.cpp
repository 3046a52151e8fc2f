// The watermarking process of the Windows player (tovani.exe beside the
// test): a document comes back watermarked with its title; a print called
// off in the middle of a long one ends at once, its process gone; a document
// over the bounds fails without the process.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <chrono>
#include <string>
#include <thread>

#include "player/pdf_watermark_process_win.h"

namespace {

// A PDF of pages, each with its own few words, titled.
std::string Document(int pages) {
    std::string out = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    const auto object = [&](const std::string& body) {
        offsets.push_back(out.size());
        out += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    object("<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (int i = 0; i < pages; ++i) kids += std::to_string(5 + 2 * i) + " 0 R ";
    object("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
    object("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    object("<< /Title (Course notes) >>");
    for (int i = 0; i < pages; ++i) {
        object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents " + std::to_string(6 + 2 * i) +
               " 0 R /Resources << /Font << /F1 3 0 R >> >> >>");
        const std::string text = "BT /F1 12 Tf 72 700 Td (Page " + std::to_string(i + 1) + ") Tj ET";
        object("<< /Length " + std::to_string(text.size()) + " >>\nstream\n" + text + "\nendstream");
    }
    const std::size_t xref = out.size();
    out += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
    char line[32];
    for (const std::size_t at : offsets) {
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", at);
        out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root 1 0 R /Info 4 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return out;
}

// This process's children running the player's program.
int PlayerChildren() {
    int count = 0;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (entry.th32ParentProcessID == GetCurrentProcessId() && _wcsicmp(entry.szExeFile, L"tovani.exe") == 0) ++count;
    CloseHandle(snapshot);
    return count;
}

} // namespace

TEST(WatermarkProcess, WatermarksInItsOwnProcessAndEndsAtOnceWhenCalledOff) {
    PrintCancel keep;
    const WatermarkedPdf done = WatermarkPdfInProcess(Document(2), u"Learner 42 \u2013 \u0645\u0631\u062D\u0628\u0627", keep);
    ASSERT_TRUE(done.ok) << done.error;
    EXPECT_EQ(done.title, "Course notes");
    EXPECT_NE(done.pdf.find("(Page 2)"), std::string::npos) << "the page's own stream was not kept as it was";
    EXPECT_NE(done.pdf.find("/TovaniWatermarkFont"), std::string::npos);
    EXPECT_NE(done.pdf.find("/TovaniWatermarkImage"), std::string::npos) << "the Arabic run was not drawn";
    EXPECT_EQ(PlayerChildren(), 0);

    // Called off while a long document is watermarked.
    const std::string longDocument = Document(9000);
    PrintCancel cancel;
    std::thread caller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancel.Cancel();
    });
    const auto start = std::chrono::steady_clock::now();
    const WatermarkedPdf called = WatermarkPdfInProcess(longDocument, u"Learner 42", cancel);
    const auto took = std::chrono::steady_clock::now() - start;
    caller.join();
    EXPECT_FALSE(called.ok);
    EXPECT_EQ(called.error, "the print was called off");
    EXPECT_LT(took, std::chrono::seconds(3));
    EXPECT_EQ(PlayerChildren(), 0) << "the watermarking process outlived the call-off";

    // Called off before: nothing is started.
    EXPECT_EQ(WatermarkPdfInProcess(Document(1), u"x", cancel).error, "the print was called off");

    // Windows' own drawing for a printer that takes no PDF runs in its own
    // process too, and says so where Windows has no PDF support (Wine).
    const WindowsPdfPrint drawn = PrintPdfWithWindowsInProcess(done.pdf, u"PDF", u"Course notes", keep);
    if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr) {
        EXPECT_FALSE(drawn.available) << drawn.error;
        EXPECT_NE(drawn.error.find("windows.data.pdf"), std::string::npos) << drawn.error;
    }
    EXPECT_EQ(PlayerChildren(), 0);

    // Over the page bound: the process says why.
    const WatermarkedPdf tooLong = WatermarkPdfInProcess(Document(static_cast<int>(kMaxPrintPages) + 1), u"x", keep);
    EXPECT_FALSE(tooLong.ok);
    EXPECT_NE(tooLong.error.find("pages"), std::string::npos) << tooLong.error;
}
