#pragma once
// Windows backend only: the splash, the PNG held as resource RCDATA 102,
// drawn with its own alpha on a layered, topmost, draggable window centred on
// the primary screen. Needs GDI+ started. A step that fails shows its "Splash
// Error" box and logs; start-up goes on without a splash.
#include <windows.h>

inline constexpr int kSplashImageId = 102;
inline constexpr wchar_t kSplashWindowClass[] = L"KelbroTransparentSplashClass";

// Does nothing when a splash window exists.
void ShowSplash(HINSTANCE instance);

// The notice over the splash while start-up waits on the network: that the
// player is connecting (both languages) and a button that gives up, calling
// giveUp (so does closing the notice). Hidden again with shown false.
void ShowConnectingNotice(HINSTANCE instance, bool shown, void (*giveUp)());
// The notice's keys (Tab, Enter, Escape) for a loop that pumps while it is
// shown: true when the message was the notice's and is handled.
bool ConnectingNoticeKey(MSG* message);
