#!/usr/bin/env bash
# Runs a command on a virtual X server of its own with a window manager
# (openbox) that frames windows.
#   with_small_screen.sh WIDTHxHEIGHT COMMAND...
set -uo pipefail
size=$1
shift

dir=$(mktemp -d)
fifo="$dir/display"
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$fifo" 2>"$dir/xvfb.log" &
xvfb=$!
wm=
cleanup() {
  [ -n "$wm" ] && kill "$wm" 2>/dev/null && wait "$wm" 2>/dev/null
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT

if ! read -r -t 20 display <"$fifo"; then
  echo "with_small_screen: Xvfb did not start" >&2
  cat "$dir/xvfb.log" >&2
  exit 1
fi
export DISPLAY=":$display"
HOME="$dir" openbox --sm-disable >"$dir/openbox.log" 2>&1 &
wm=$!
# The window manager is up once it owns the screen's manager selection.
for _ in $(seq 50); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
  sleep 0.1
done
TOVANI_TEST_SCREEN="$size" "$@"
