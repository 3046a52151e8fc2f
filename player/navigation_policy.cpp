#include "player/navigation_policy.h"

void NavigationPolicy(const WString& uri, bool& cancel) {
    if (!NavigationAllowed(uri, PlayerContent)) cancel = true;
}
