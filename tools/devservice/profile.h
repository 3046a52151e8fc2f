#pragma once
// The names the player is built with (paths, labels, headers, JSON keys).
// The service reads them from the same profile file so the two cannot drift.
#include <string>

namespace devservice {

struct Profile {
  std::string serviceBase = "https://127.0.0.1:47443";
  std::string versionPath = "/api/app/version";
  std::string pinsPath = "/api/app/pins";
  std::string pinsSecretHeader = "X-Secret";
  std::string pinsSecret = "dev-pins-secret-7f3a91";
  std::string contentDataPath = "/api/player/content-data";
  std::string labelPass = "pass=";
  std::string labelId = "&id=";
  std::string clientHeader = "X-Client";
  std::string clientValue = "tovani-desktop";
  std::string keyData = "data";
  std::string keyKind = "type";
  std::string keyAddress = "url";
  std::string keyEmbedSource = "youtube_url";
  std::string keyWatermark = "watermark";
  std::string keyScriptVariant = "script_variant";
  std::string pageScriptPath = "/api/player/page-script";
  std::string pageScriptParam = "variant";
};

// Reads the profile JSON; keys it lacks keep the defaults above. Returns
// false with a reason when the file is unreadable or malformed.
bool LoadProfile(const std::string& path, Profile& profile, std::string& error);

// "https://host:port/a/b?x=" -> "/a/b"; and the query parameter name "x".
std::string PathOfUrl(const std::string& url);
std::string QueryParamOfUrl(const std::string& url);

}  // namespace devservice
