// What a page hands the Linux player's bridge: the JSON text of the value it
// posted. Any text decodes to a string or to nothing, a string survives the
// page's encoding unchanged, and what decodes goes through the player's
// dispatch, which acts at most once.
#include <QJsonArray>
#include <QJsonDocument>
#include <QString>

#include "common/qt_text.h"
#include "fuzz_support.h"
#include "player/web_bridge_qt.h"
#include "player/web_messages.h"

namespace {


void Dispatch(const QString& text) {
    int actions = 0;
    bool shown = false;
    DispatchPlayerMessage(FromQString(text), shown,
                          PlayerMessageActions{.print = [&] { ++actions; },
                                               .toggleFullscreen = [&] { ++actions; },
                                               .show = [&] { ++actions; }});
    FUZZ_CHECK(actions <= 1, FuzzShow(FromQString(text)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    // The raw text as the page's channel would deliver it.
    const QString raw = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    if (const std::optional<QString> decoded = WebView::DecodePostedMessage(raw)) Dispatch(*decoded);

    // A string the page posts, encoded as JSON.stringify would: it comes back whole.
    const WString wide = FuzzText(bytes);
    const QString posted = QString::fromUtf16(wide.data(), static_cast<qsizetype>(wide.size()));
    QByteArray json = QJsonDocument(QJsonArray{posted}).toJson(QJsonDocument::Compact);
    json = json.mid(1, json.size() - 2);
    const std::optional<QString> back = WebView::DecodePostedMessage(QString::fromUtf8(json));
    // A lone surrogate goes out escaped, as JSON.stringify sends it, or as the
    // replacement character; either way the rest is unchanged.
    FUZZ_CHECK(back.has_value() && (*back == posted || *back == QString::fromUtf8(posted.toUtf8())), FuzzShow(wide));
    return 0;
}
