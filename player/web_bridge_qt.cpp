#include "player/web_bridge_qt.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace WebView {

namespace {

// Qt's own client library of the channel, compiled into QtWebChannel.
constexpr const char* kChannelLibrary = ":/qtwebchannel/qwebchannel.js";

// Before the library: it is wrapped in a function so that QWebChannel and its
// helpers never become globals of the page.
const char* const kShimHead = R"JS((function () {
'use strict';
if (window !== window.top) return;
var QWebChannel = (function (module, exports) {
)JS";

// After the library. Messages posted before the channel is up are queued
// (the page's first scripts run before it connects) and sent in order.
const char* const kShimTail = R"JS(
return QWebChannel;
})(undefined, undefined);
var stringify = JSON.stringify, parse = JSON.parse;
var target = new EventTarget();
var queue = [];
var bridge = null;
var maxQueued = 1000;
function send(text) {
  try { bridge.post(text); } catch (e) {}
}
function postMessage(message) {
  var text;
  try { text = stringify(message); } catch (e) { return; }
  if (typeof text !== 'string') return;
  if (bridge) send(text);
  else if (queue && queue.length < maxQueued) queue.push(text);
}
function deliver(json) {
  var data;
  try { data = parse(json); } catch (e) { return; }
  target.dispatchEvent(new MessageEvent('message', { data: data }));
}
var webview = Object.freeze({
  postMessage: postMessage,
  addEventListener: function (type, listener, options) { target.addEventListener(type, listener, options); },
  removeEventListener: function (type, listener, options) { target.removeEventListener(type, listener, options); }
});
var chrome = window.chrome;
if (chrome === null || (typeof chrome !== 'object' && typeof chrome !== 'function')) {
  chrome = {};
  try { Object.defineProperty(window, 'chrome', { value: chrome, configurable: true, writable: true, enumerable: true }); } catch (e) {}
}
try { Object.defineProperty(chrome, 'webview', { value: webview, enumerable: true, configurable: false, writable: false }); } catch (e) {}
function connect() {
  var qt = window.qt;
  var transport = qt && qt.webChannelTransport;
  if (!transport) return false;
  try {
    new QWebChannel(transport, function (channel) {
      var object = channel.objects[NAME];
      if (!object || bridge) return;
      bridge = object;
      object.message.connect(deliver);
      var pending = queue || [];
      queue = null;
      for (var i = 0; i < pending.length; ++i) send(pending[i]);
    });
  } catch (e) { return false; }
  return true;
}
if (!connect()) document.addEventListener('DOMContentLoaded', connect, { once: true });
})();
)JS";

} // namespace

WebBridge::WebBridge(QObject* parent) : QObject(parent) {}

QString WebBridge::ChannelName() { return QStringLiteral("chromeWebView"); }

void WebBridge::Deliver(const QString& json) { emit message(json); }

void WebBridge::post(const QString& encoded) {
    const std::optional<QString> text = DecodePostedMessage(encoded);
    if (text && onMessage) onMessage(*text);
}

std::optional<QString> DecodePostedMessage(const QString& encoded) {
    // A bare JSON string is not a document to QJsonDocument; an array is.
    QJsonParseError error{};
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray("[") + encoded.toUtf8() + QByteArray("]"), &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray()) return std::nullopt;
    const QJsonArray items = doc.array();
    if (items.size() != 1 || !items.at(0).isString()) return std::nullopt;
    return items.at(0).toString();
}

QString WebViewShimScript() {
    QFile library(QString::fromLatin1(kChannelLibrary));
    if (!library.open(QIODevice::ReadOnly)) return QString();
    const QString source = QString::fromUtf8(library.readAll());
    if (source.isEmpty()) return QString();
    QString tail = QString::fromUtf8(kShimTail);
    tail.replace(QStringLiteral("[NAME]"), QStringLiteral("['") + WebBridge::ChannelName() + QStringLiteral("']"));
    return QString::fromUtf8(kShimHead) + source + tail;
}

} // namespace WebView
