#!/usr/bin/env bash
# Runs a command on a virtual X server of its own. Xvfb picks a free display
# itself (-displayfd), so parallel runs never race for a display number.
set -uo pipefail

dir=$(mktemp -d)
fifo="$dir/display"
xvfb=
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT

# The display is used only once its server answers: now and then an Xvfb
# names its display and is gone (its socket taken over by one ending beside
# it); another one is started then.
for attempt in 1 2 3; do
  rm -f "$fifo"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" 2>"$dir/xvfb.log" &
  xvfb=$!
  display=
  if ! read -r -t 20 display <"$fifo"; then
    echo "with_xvfb: Xvfb did not start" >&2
    cat "$dir/xvfb.log" >&2
    exit 1
  fi
  for _ in $(seq 20); do
    xdpyinfo -display ":$display" >/dev/null 2>&1 && break 2
    sleep 0.1
  done
  echo "with_xvfb: display :$display does not answer (attempt $attempt)" >&2
  cat "$dir/xvfb.log" >&2
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
  xvfb=
done
[ -n "$xvfb" ] || exit 1
DISPLAY=":$display" "$@"
