#pragma once
// The product's icon for every window of the Linux player, and its copy in
// the user's icon theme under the name the desktop entry gives.
#include <QIcon>

QIcon ProductIcon();
// Writes the icon to $XDG_DATA_HOME/icons/hicolor/256x256/apps/<name>.png
// when it is not there yet; failures are silent.
void InstallProductIcon();
