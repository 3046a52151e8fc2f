#include "content.h"

#include <nlohmann/json.hpp>

namespace devservice {

using nlohmann::json;

FormError ParseContentForm(std::string_view body, const Profile& profile, ContentForm& form) {
  const std::string_view passLabel = profile.labelPass;
  const std::string_view idLabel = profile.labelId;
  if (body.substr(0, passLabel.size()) != passLabel) return FormError::kMissingPass;
  const size_t at = body.rfind(idLabel);
  if (at == std::string_view::npos || at < passLabel.size()) return FormError::kMissingId;
  form.pass = std::string(body.substr(passLabel.size(), at - passLabel.size()));
  form.id = std::string(body.substr(at + idLabel.size()));
  if (form.pass.empty()) return FormError::kMissingPass;
  if (form.id.empty()) return FormError::kMissingId;
  return FormError::kNone;
}

namespace {

constexpr const char* kJson = "application/json";

Reply JsonReply(int status, const json& doc) {
  return {status, kJson, doc.dump(-1, ' ', false, json::error_handler_t::replace)};
}

Reply Nested(const Profile& p, const char* kind, const std::string& url, const char* watermark,
             json extra = json::object()) {
  json data = json::object();
  data[p.keyKind] = kind;
  data[p.keyAddress] = url;
  for (auto& [key, value] : extra.items()) data[key] = value;
  json doc = json::object();
  doc[p.keyData] = data;
  if (watermark) doc[p.keyWatermark] = watermark;
  return JsonReply(200, doc);
}

}  // namespace

Reply ContentDataReply(const std::string& id, const Profile& p) {
  const std::string media = p.serviceBase + "/media/";
  if (id == "video-1") return Nested(p, "video", media + "sample.mp4", "learner@example.com");
  if (id == "pdf-1") return Nested(p, "pdf", media + "sample.pdf", "Learner 42 – مرحبا");
  if (id == "pdfurl-1") return Nested(p, "pdf_url", media + "sample.pdf", nullptr);
  // Documents a print must refuse: one no reader can open, one that forbids printing.
  if (id == "pdf-damaged") return Nested(p, "pdf", media + "damaged.pdf", "Learner 42");
  if (id == "pdf-noprint") return Nested(p, "pdf", media + "no-print.pdf", "Learner 42");
  // 4,000 pages in 40 KB: a print that takes a while to watermark.
  if (id == "pdf-long") return Nested(p, "pdf", media + "long.pdf", "Learner 42");
  if (id == "page-1") return Nested(p, "web", media + "page.html", nullptr);
  if (id == "embed-1") return Nested(p, "embed", media + "embed.html", nullptr);
  if (id == "youtube-1") {
    return Nested(p, "youtube", "https://example.invalid/ignored", nullptr,
                  {{p.keyEmbedSource, "https://www.youtube.com/watch?v=dQw4w9WgXcQ&t=42"},
                   {p.keyScriptVariant, 2}});
  }
  if (id == "zoom-1") return Nested(p, "meeting", "https://us02web.zoom.us/j/1234567890", nullptr);
  if (id == "flat-1") {
    json doc = json::object();
    doc[p.keyKind] = "pdf";
    doc[p.keyAddress] = media + "sample.pdf";
    doc[p.keyWatermark] = "flat";
    return JsonReply(200, doc);
  }
  if (id == "error-message") return JsonReply(404, {{"message", "المحتوى غير متاح حالياً"}});
  if (id == "error-html") {
    return {500, "text/html; charset=utf-8", "<html><body>Internal Server Error</body></html>"};
  }
  if (id == "bad-json") return {200, kJson, "this is not json"};
  if (id == "bad-type") {
    json doc = json::object();
    doc[p.keyData] = {{p.keyKind, 5}};
    return JsonReply(200, doc);
  }
  if (id == "slow") {
    Reply reply = ContentDataReply("video-1", p);
    reply.delayMs = 3000;
    return reply;
  }
  return JsonReply(404, {{"message", "content not found"}});
}

}  // namespace devservice
