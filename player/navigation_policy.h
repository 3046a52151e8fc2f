#pragma once
// The player's navigation-starting callback: the rule of links/navigation_rule.h
// applied to every top-level navigation, against what the player shows.
#include "links/navigation_rule.h"

// Cancels what NavigationAllowed refuses, judged against PlayerContent.
void NavigationPolicy(const WString& uri, bool& cancel);
