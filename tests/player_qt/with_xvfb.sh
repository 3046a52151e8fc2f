#!/usr/bin/env bash
# Runs a command on a virtual X server of its own.
set -uo pipefail

dir=$(mktemp -d)
xvfb=
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT

# A display number of its own, far above the ones desktops and other X
# servers of the machine start from (Xvfb's own choice starts at :0, where
# another server's coming and going once took the display from under a
# test); Xvfb's lock file makes two runs that pick the same number differ.
# The display is used only once its server answers.
for attempt in $(seq 8); do
  display=$((200 + RANDOM % 3800))
  [ -e "/tmp/.X$display-lock" ] && continue
  Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp 2>"$dir/xvfb.log" &
  xvfb=$!
  for _ in $(seq 50); do
    kill -0 "$xvfb" 2>/dev/null || break
    # Ours, not another run's that took the same number first: ours goes
    # away at once then.
    if xdpyinfo -display ":$display" >/dev/null 2>&1; then
      sleep 0.2
      kill -0 "$xvfb" 2>/dev/null && break 2
      break
    fi
    sleep 0.1
  done
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
  xvfb=
done
if [ -z "$xvfb" ]; then
  echo "with_xvfb: no Xvfb display could be started" >&2
  cat "$dir/xvfb.log" >&2
  exit 1
fi
DISPLAY=":$display" "$@"
