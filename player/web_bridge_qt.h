#pragma once
// window.chrome.webview on Qt WebEngine: a script that defines it in every
// top-level document, and the host object it talks to over a QWebChannel.
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace WebView {

class WebBridge : public QObject {
    Q_OBJECT
public:
    explicit WebBridge(QObject* parent = nullptr);

    // The name under which the page's channel finds this object.
    static QString ChannelName();

    // Told of every string the page posts; other values are dropped.
    std::function<void(const QString& message)> onMessage;

    // Hands a JSON text to the page's "message" listeners as event.data.
    void Deliver(const QString& json);

    // Called by the page: the JSON text of the value it posted.
    Q_INVOKABLE void post(const QString& encoded);

signals:
    void message(const QString& json);
};

// The posted value when it is a string; nothing for any other value or for
// text that is not JSON.
std::optional<QString> DecodePostedMessage(const QString& encoded);

// The document-creation script: Qt's qwebchannel.js, kept out of the page's
// globals, and the shim over it. Empty when Qt's copy cannot be read.
QString WebViewShimScript();

} // namespace WebView
