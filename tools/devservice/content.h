#pragma once
// The content data exchange: the form the player sends and the catalogue of
// sample contents, each answer shaped to reach one path of the player.
#include <string>
#include <string_view>

#include "profile.h"

namespace devservice {

struct ContentForm {
  std::string pass;
  std::string id;
};

enum class FormError { kNone, kMissingPass, kMissingId };

// The player writes both values raw (no percent-encoding), so the pass may
// hold "&", "=" and even the id label itself. Rule: the body starts with the
// pass label; the id is whatever follows the LAST id label; the pass is all
// in between. An id containing the id label cannot be expressed - catalogue
// ids never do.
FormError ParseContentForm(std::string_view body, const Profile& profile, ContentForm& form);

struct Reply {
  int status = 200;
  std::string contentType;
  std::string body;
  int delayMs = 0;  // answered only after this pause
};

// The answer for a content id; unknown ids get a 404 with a message.
Reply ContentDataReply(const std::string& id, const Profile& profile);

}  // namespace devservice
