#!/usr/bin/env bash
# Runs a command on a virtual X server of its own. Xvfb picks a free display
# itself (-displayfd), so parallel runs never race for a display number.
set -uo pipefail

dir=$(mktemp -d)
fifo="$dir/display"
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" 2>"$dir/xvfb.log" &
xvfb=$!
cleanup() {
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT

if ! read -r -t 20 display <"$fifo"; then
  echo "with_xvfb: Xvfb did not start" >&2
  cat "$dir/xvfb.log" >&2
  exit 1
fi
DISPLAY=":$display" "$@"
