#include "player/request_interceptor_qt.h"

#include "common/debug_log.h"

namespace WebView {

RequestInterceptor::RequestInterceptor(Handler handler, QObject* parent)
    : QWebEngineUrlRequestInterceptor(parent), handler_(std::move(handler)) {}

void RequestInterceptor::interceptRequest(QWebEngineUrlRequestInfo& info) {
    if (!handler_) return;
    try {
        handler_(info);
    } catch (...) {
        // Nothing may unwind into Chromium; the request goes on unchanged.
        DebugLog("request interceptor: handler failed");
    }
}

bool IsValidHeaderName(const WString& name) {
    if (name.empty() || name.size() > 256) return false;
    static constexpr std::u16string_view kSeparators = u"()<>@,;:\\\"/[]?={} \t";
    for (const char16_t c : name) {
        if (c <= 0x20 || c >= 0x7f || kSeparators.find(c) != std::u16string_view::npos) return false;
    }
    return true;
}

bool IsValidHeaderValue(const WString& value) {
    for (const char16_t c : value) {
        if (c == u'\r' || c == u'\n' || c == u'\0') return false;
    }
    return true;
}

void InterceptedRequest::SetHeader(const WString& name, const WString& value) {
    if (!IsValidHeaderName(name) || !IsValidHeaderValue(value)) return;
    info_.setHttpHeader(QByteArray::fromStdString(WideToUtf8(name)), QByteArray::fromStdString(WideToUtf8(value)));
}

} // namespace WebView
