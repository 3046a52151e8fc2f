#include "player/pdf_print.h"

#include <exception>
#include <utility>

#include "common/url_host.h"
#include "player/browser_rules.h"
#include "service/http_client.h"

// The process is ended under the lock: once Release returned, its handle
// or id may be closed and reused.
void PrintCancel::Cancel() {
    std::lock_guard<std::mutex> guard(lock_);
    cancelled_ = true;
    if (stop_) stop_();
}

bool PrintCancel::Cancelled() {
    std::lock_guard<std::mutex> guard(lock_);
    return cancelled_;
}

bool PrintCancel::Adopt(std::function<void()> stop) {
    std::lock_guard<std::mutex> guard(lock_);
    if (cancelled_) {
        stop();
        return false;
    }
    stop_ = std::move(stop);
    return true;
}

void PrintCancel::Release() {
    std::lock_guard<std::mutex> guard(lock_);
    stop_ = nullptr;
}

FetchedPdf FetchPdfToPrint(const WString& url) {
    FetchedPdf fetched;
    try {
        HttpClient client;
        client.maxResponseBytes = kMaxPdfPrintBytes;
        client.requestDeadlineMs = kPdfFetchDeadlineMs;
        const HeaderPair header = ClientHeader();
        client.SetHeader(header.name, header.value);
        HttpResponse response = client.Get(url);
        if (!response.ok) {
            fetched.error = "the document could not be fetched: " +
                            (response.error.empty() ? "status " + std::to_string(response.statusCode) : response.error);
            return fetched;
        }
        fetched.ok = true;
        fetched.body = std::move(response.body);
    } catch (const std::exception& e) {
        fetched.error = std::string("the document could not be fetched: ") + e.what();
    }
    return fetched;
}

bool LooksLikePdf(const std::string& bytes) { return bytes.substr(0, 1024).find("%PDF-") != std::string::npos; }

std::string UrlFileName(const WString& url) {
    const std::optional<UrlAuthority> authority = ReadAuthority(url);
    if (!authority) return {};
    WString path(UrlPath(url, *authority));
    if (const std::size_t end = path.find_first_of(u"?#"); end != WString::npos) path.resize(end);
    const std::string segment = WideToUtf8(path.substr(path.rfind(u'/') == WString::npos ? 0 : path.rfind(u'/') + 1));
    std::string name;
    for (std::size_t i = 0; i < segment.size(); ++i) {
        const auto hex = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; };
        if (segment[i] == '%' && i + 2 < segment.size() && hex(segment[i + 1]) >= 0 && hex(segment[i + 2]) >= 0) {
            name += static_cast<char>(hex(segment[i + 1]) * 16 + hex(segment[i + 2]));
            i += 2;
        } else {
            name += segment[i];
        }
    }
    // A job's name is one line of text.
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return name;
}

std::string WatermarkAnswer(const WatermarkedPdf& result) { return result.ok ? "ok\n" + result.title : "error\n" + result.error; }

WatermarkedPdf ReadWatermarkAnswer(const std::string& answer, std::string document) {
    WatermarkedPdf result;
    if (answer.rfind("error\n", 0) == 0) {
        result.error = answer.substr(6);
    } else if (answer.rfind("ok\n", 0) != 0) {
        result.error = "the watermarking gave no answer";
    } else {
        result.ok = true;
        result.title = answer.substr(3);
        result.pdf = std::move(document);
    }
    return result;
}

WatermarkedPdf WatermarkInProcess(std::FILE* document, std::size_t documentBytes, const std::string& watermark,
                                  WatermarkFont& font, std::FILE* output) {
    WatermarkedPdf result;
    if (document == nullptr || output == nullptr) result.error = "the watermarking got no files";
    else if (watermark.size() > kMaxWatermarkBytes) result.error = "the watermark is too long";
    else if (documentBytes > kMaxPdfPrintBytes) result.error = "the document is too large to print";
    else result = WatermarkPdfFile(document, Utf8ToWide(watermark), font, output);
    return result;
}
