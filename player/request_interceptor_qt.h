#pragma once
// Every request of a page passes here before it leaves (on the UI thread in
// Qt 6): headers are added and failed hosts are blocked.
#include <QWebEngineUrlRequestInterceptor>

#include <functional>

#include "player/webview_host.h"

namespace WebView {

class RequestInterceptor : public QWebEngineUrlRequestInterceptor {
public:
    using Handler = std::function<void(QWebEngineUrlRequestInfo& info)>;
    explicit RequestInterceptor(Handler handler, QObject* parent = nullptr);
    void interceptRequest(QWebEngineUrlRequestInfo& info) override;

private:
    Handler handler_;
};

// The header view of one intercepted request that the rules and the owner's
// callback write to. Headers that could break the request line (a name that
// is not a token, a value with CR, LF or NUL) are dropped.
class InterceptedRequest : public ResourceRequest {
public:
    explicit InterceptedRequest(QWebEngineUrlRequestInfo& info) : info_(info) {}
    void SetHeader(const WString& name, const WString& value) override;

private:
    QWebEngineUrlRequestInfo& info_;
};

bool IsValidHeaderName(const WString& name);
bool IsValidHeaderValue(const WString& value);

} // namespace WebView
