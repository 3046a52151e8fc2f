#!/usr/bin/env bash
# While start-up waits on a slow service, the connecting notice takes the
# keyboard when it appears, as a dialog of the splash above the player's
# window: Escape, and in a second run (under an Arabic locale, screenshot
# kept) Enter, give up at once, exit 1 within a second.
#   connecting_notice_keys.sh BIN_DIR ARTIFACT_DIR
# Runs on a display with a window manager (with_small_screen.sh).
set -uo pipefail
bin=$1 artifacts=$2
slow="https://127.0.0.1:47443/delay/20000"
link=$("$bin/tovani-tool" seal --pass p --content video-1 --domain "$slow") || exit 1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failures=0
fail() { echo "FAIL  $*"; failures=$((failures + 1)); }
ok() { echo "ok    $*"; }

# Ended (or a zombie waiting for us) — the pid is ours, never reused before wait.
ended() { local state; state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null); [ -z "$state" ] || [ "$state" = Z ]; }

window_named() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1; }

run() {
  local key=$1 lang=$2 shot=$3
  env -u LC_ALL -u LC_MESSAGES -u LANGUAGE LANG="$lang" "$bin/tovani" "$link" >/dev/null 2>"$dir/err-$key" &
  local pid=$! notice="" focused="" i
  for i in $(seq 150); do
    notice=$(window_named '^Tovani - Connecting$')
    [ -n "$notice" ] && break
    ended "$pid" && break
    sleep 0.1
  done
  if [ -z "$notice" ]; then
    fail "$key: the connecting notice never showed"
    kill "$pid" 2>/dev/null; wait "$pid"; cat "$dir/err-$key"
    return
  fi
  for i in $(seq 30); do
    focused=$(xdotool getactivewindow 2>/dev/null)
    [ "$focused" = "$notice" ] && break
    sleep 0.1
  done
  [ "$focused" = "$notice" ] && ok "$key: the notice has the keyboard when it appears" ||
    fail "$key: the notice has no keyboard (active window $focused, notice $notice)"
  xprop -id "$notice" _NET_WM_WINDOW_TYPE | grep -q _NET_WM_WINDOW_TYPE_DIALOG &&
    ok "$key: the notice is a dialog" || fail "$key: the notice is no dialog: $(xprop -id "$notice" _NET_WM_WINDOW_TYPE)"
  local splash player stacking
  splash=$(window_named '^Kelbro Splash$')
  player=$(window_named '^Tovani V ')
  if [ -n "$splash" ] && [ -n "$player" ]; then
    # Bottom to top: the splash above the player's empty window.
    stacking=$(xprop -root _NET_CLIENT_LIST_STACKING | tr -d ',' | tr ' ' '\n' | grep '^0x' |
               while read -r id; do echo $((id)); done | tr '\n' ' ')
    stacking=" $stacking"
    local below="${stacking%% $splash *}"
    [[ "$stacking" == *" $splash "* && "$below " == *" $player "* ]] && ok "$key: the splash is above the player's window" ||
      fail "$key: the splash is under the player's window (stacking $stacking)"
  fi
  if [ -n "$shot" ]; then
    mkdir -p "$artifacts"
    import -window root "$artifacts/$shot" && echo "screenshot $artifacts/$shot"
  fi
  xdotool key "$key"
  local gone=""
  for i in $(seq 100); do
    if ended "$pid"; then gone=1; break; fi
    sleep 0.01
  done
  if [ -z "$gone" ]; then
    fail "$key: the player did not give up within a second"
    kill "$pid" 2>/dev/null
  fi
  wait "$pid"
  local status=$?
  [ -n "$gone" ] && [ "$status" = 1 ] && ok "$key: gave up, exit 1" || { [ -n "$gone" ] && fail "$key: exit $status"; }
}

run Escape C.UTF-8 ""
run Return ar_EG.UTF-8 connecting-notice-ar.png
exit $((failures > 0))
