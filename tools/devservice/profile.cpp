#include "profile.h"

#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

namespace devservice {

namespace {
void Take(const nlohmann::json& doc, const char* key, std::string& into) {
  auto it = doc.find(key);
  if (it != doc.end() && it->is_string()) into = it->get<std::string>();
}
}  // namespace

std::string PathOfUrl(const std::string& url) {
  size_t start = 0;
  if (auto scheme = url.find("://"); scheme != std::string::npos) {
    start = url.find('/', scheme + 3);
    if (start == std::string::npos) return "/";
  }
  const size_t end = url.find_first_of("?#", start);
  return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string QueryParamOfUrl(const std::string& url) {
  const size_t q = url.find('?');
  if (q == std::string::npos) return {};
  const size_t eq = url.find('=', q);
  return url.substr(q + 1, eq == std::string::npos ? std::string::npos : eq - q - 1);
}

bool LoadProfile(const std::string& path, Profile& profile, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read profile " + path;
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  const auto doc = nlohmann::json::parse(text.str(), nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) {
    error = "profile " + path + " is not a JSON object";
    return false;
  }
  Take(doc, "serviceBase", profile.serviceBase);
  Take(doc, "versionPath", profile.versionPath);
  Take(doc, "pinsSecret", profile.pinsSecret);
  Take(doc, "contentDataPath", profile.contentDataPath);
  Take(doc, "formLabelPass", profile.labelPass);
  Take(doc, "formLabelId", profile.labelId);
  Take(doc, "clientHeader", profile.clientHeader);
  Take(doc, "clientValue", profile.clientValue);
  Take(doc, "keyData", profile.keyData);
  Take(doc, "keyKind", profile.keyKind);
  Take(doc, "keyAddress", profile.keyAddress);
  Take(doc, "keyEmbedSource", profile.keyEmbedSource);
  Take(doc, "keyWatermark", profile.keyWatermark);
  Take(doc, "keyScriptVariant", profile.keyScriptVariant);
  if (auto it = doc.find("pinsUrl"); it != doc.end() && it->is_string())
    profile.pinsPath = PathOfUrl(it->get<std::string>());
  if (auto it = doc.find("pageScriptBase"); it != doc.end() && it->is_string()) {
    const auto url = it->get<std::string>();
    profile.pageScriptPath = PathOfUrl(url);
    if (auto param = QueryParamOfUrl(url); !param.empty()) profile.pageScriptParam = param;
  }
  if (profile.labelPass.empty() || profile.labelId.empty()) {
    error = "profile " + path + " has an empty form label";
    return false;
  }
  return true;
}

}  // namespace devservice
