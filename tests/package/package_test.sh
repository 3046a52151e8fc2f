#!/usr/bin/env bash
# The Debian package on this machine: built, installed with apt, a link opened
# through xdg-open with no desktop environment (the system's desktop entry, a
# user who never ran the player), and removed again.
#   package_test.sh BUILD_DIR
set -uo pipefail
build=$1
for installed in tovani tovani-dev tovani-tools tovani-dev-tools; do
  if dpkg-query -W -f='${Status}' "$installed" 2>/dev/null | grep -q "install ok installed"; then
    echo "package test: a $installed package is installed already; leaving it alone" >&2
    exit 77
  fi
done
if [ "$(id -u)" -ne 0 ]; then
  echo "package test: installing a package needs root" >&2
  exit 77
fi
player=tovani
tools=tovani-tools
fail() { echo "package test: $*" >&2; apt-get remove -y -q "$player" "$tools" >/dev/null 2>&1; exit 1; }

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cmake --build "$build" --target package >"$out/build.log" 2>&1 || { cat "$out/build.log" >&2; fail "building the package failed"; }
# The development profile's packages say what they are in name and version.
if grep -qx 'TOVANI_PROFILE:STRING=dev' "$build/CMakeCache.txt"; then
  player=tovani-dev
  tools=tovani-dev-tools
fi
deb=$(ls -t "$build/${player}_"*.deb 2>/dev/null | head -n 1)
tools_deb=$(ls -t "$build/${tools}_"*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] && [ -n "$tools_deb" ] || fail "the packages $player and $tools were not both written"
version=$(dpkg-deb -f "$deb" Version)
case "$player:$version" in
  tovani-dev:*~dev) dpkg-deb -f "$deb" Description | grep -q "development build" ||
                      fail "the development build does not say so" ;;
  tovani:*~dev*) fail "a release named $version" ;;
  tovani:*) ;;
  *) fail "the development build is versioned $version" ;;
esac
# The learner's package carries the player only: nothing in it seals links
# or fetches with the device's identity.
dpkg-deb -c "$deb" | grep >/dev/null 'tovani-tool' && fail "the player's package ships the operators' tool"
dpkg-deb -c "$tools_deb" | grep >/dev/null '/usr/bin/tovani-tool$' || fail "the tools package has no tovani-tool"
dpkg-deb -c "$tools_deb" | grep >/dev/null '/usr/bin/tovani$' && fail "the tools package ships the player"
lintian --fail-on error,warning "$tools_deb" >"$out/lintian-tools.log" 2>&1 ||
  { cat "$out/lintian-tools.log" >&2; fail "lintian finds fault with the tools package"; }
dpkg-deb -f "$deb" Depends | grep -q libqt6webenginecore6-bin || fail "the browser runtime is not a dependency"
dpkg-deb -f "$deb" Depends | grep -q fonts-symbola || fail "the icon font is not a dependency"
dpkg-deb -f "$deb" Depends | tr ',' '\n' | grep -qx ' *qt6-wayland' || fail "the Wayland platform plugin is not a dependency"
depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//' | sort)
[ -z "$(uniq -d <<<"$depends")" ] || fail "dependencies listed twice: $(uniq -d <<<"$depends" | tr '\n' ' ')"
# Debian's own checks, errors and warnings alike.
lintian --fail-on error,warning "$deb" >"$out/lintian.log" 2>&1 ||
  { cat "$out/lintian.log" >&2; fail "lintian finds fault with the package"; }

# As a user on a plain window manager: no desktop session, only HOME.
as_user() {
  local home=$1
  shift
  env -u XDG_CURRENT_DESKTOP -u XDG_SESSION_DESKTOP -u DESKTOP_SESSION -u KDE_FULL_SESSION \
    -u GNOME_DESKTOP_SESSION_ID -u BROWSER -u XDG_DATA_HOME -u XDG_CONFIG_HOME HOME="$home" "$@"
}
# A user who ran a copy from the build tree before the package came: the copy
# registered itself for that user.
tree_user="$out/tree-user"
mkdir -p "$tree_user"
as_user "$tree_user" timeout 60 "$build/bin/tovani" 'corvantiluxen:a:b' >"$out/tree-run.log" 2>&1
# Only a program nobody else can replace registers itself: nothing in a tree
# under a folder others may write (the shared temporary folder) does.
others_can_write_above() {
  local path mode
  path=$(readlink -f "$1")
  while [ "$path" != / ]; do
    path=$(dirname "$path")
    mode=$(stat -Lc %a "$path") || return 0
    (( 8#$mode & 8#022 )) && return 0
  done
  return 1
}
tree_registers=1
if others_can_write_above "$build/bin/tovani"; then
  echo "package test: $build lies under a folder others can write; its copy registers nothing" >&2
  tree_registers=0
else
  grep -qs "$build/bin/tovani" "$tree_user/.local/share/applications/tovani-corvantiluxen.desktop" ||
    fail "the tree's copy did not register itself for its user"
fi

DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$deb" >"$out/install.log" 2>&1 ||
  { cat "$out/install.log" >&2; fail "apt could not install $deb"; }
[ -x /usr/bin/tovani ] || fail "the player is not installed"
[ -e /usr/bin/tovani-tool ] && fail "installing the player brought the operators' tool"
[ -f /usr/share/icons/hicolor/256x256/apps/tovani.png ] || fail "the icon is not installed"
man -w tovani >/dev/null 2>&1 || fail "no manual page for tovani"
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$tools_deb" >"$out/install-tools.log" 2>&1 ||
  { cat "$out/install-tools.log" >&2; fail "apt could not install $tools_deb"; }
[ -x /usr/bin/tovani-tool ] || fail "the tools package did not install tovani-tool"
man -w tovani-tool >/dev/null 2>&1 || fail "no manual page for tovani-tool"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -q "$tools" >"$out/remove-tools.log" 2>&1 ||
  { cat "$out/remove-tools.log" >&2; fail "apt could not remove $tools"; }
# The menu shows the player (the start page); the scheme's handler stays hidden.
for entry in tovani tovani-corvantiluxen; do
  desktop-file-validate "/usr/share/applications/$entry.desktop" || fail "$entry.desktop is not a valid entry"
  grep -qx "StartupWMClass=tovani" "/usr/share/applications/$entry.desktop" || fail "$entry.desktop names no window class"
done
grep -q "^NoDisplay=true" /usr/share/applications/tovani.desktop && fail "the menu entry is hidden"
grep -qx "Exec=tovani" /usr/share/applications/tovani.desktop || fail "the menu entry does not open the start page"
grep -qx "NoDisplay=true" /usr/share/applications/tovani-corvantiluxen.desktop || fail "the scheme's handler shows in the menu"
grep -q "x-scheme-handler/corvantiluxen=tovani-corvantiluxen.desktop" /usr/share/applications/mimeinfo.cache ||
  fail "the scheme handler is not known to the desktop"

# A user who never started the player, on a plain window manager.
home="$out/home"
mkdir -p "$home"
opens_a_link() {
  local opened status
  opened=$(as_user "$1" timeout 60 xdg-open 'corvantiluxen:a:b' 2>&1)
  status=$?
  [ $status -eq 0 ] || fail "$2: xdg-open failed ($status): $opened"
  case $opened in *"Link Error"*) ;; *) fail "$2: no player ran: $opened" ;; esac
}
opens_a_link "$home" "a user who never ran the player"
# The tree's user: links still open, twice (the first start tidies the
# user's own entry away, as the system's handler is there).
opens_a_link "$tree_user" "the tree's user with the package installed"
opens_a_link "$tree_user" "the tree's user, once more"

DEBIAN_FRONTEND=noninteractive apt-get remove -y -q "$player" >"$out/remove.log" 2>&1 || { cat "$out/remove.log" >&2; exit 1; }
[ ! -e /usr/bin/tovani ] || { echo "package test: /usr/bin/tovani is still there" >&2; exit 1; }
if grep -qs "x-scheme-handler/corvantiluxen" /usr/share/applications/mimeinfo.cache; then
  echo "package test: the removed handler is still known" >&2
  exit 1
fi
# Nothing of the removed package is left in the user's handlers, and the
# tree's copy, started again, opens links again.
if grep -rqs "/usr/bin/tovani" "$tree_user/.local/share/applications" "$tree_user/.config/mimeapps.list"; then
  echo "package test: the user's handlers still name the removed program" >&2
  exit 1
fi
if [ "$tree_registers" = 1 ]; then
  as_user "$tree_user" timeout 60 "$build/bin/tovani" 'corvantiluxen:a:b' >>"$out/tree-run.log" 2>&1
  opened=$(as_user "$tree_user" timeout 60 xdg-open 'corvantiluxen:a:b' 2>&1)
  case $opened in *"Link Error"*) ;; *) echo "package test: after removal the tree's copy does not open links: $opened" >&2; exit 1 ;; esac
fi
echo "package test: built $player and $tools, installed, opened a link, removed"
