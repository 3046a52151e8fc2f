#!/usr/bin/env bash
# Runs a command on a headless Wayland compositor of its own (weston), with
# no X display: DISPLAY is unset, WAYLAND_DISPLAY names weston's socket in a
# runtime folder of this run's own.
set -uo pipefail

runtime=$(mktemp -d)
chmod 700 "$runtime"
socket="wayland-tovani-$$"
XDG_RUNTIME_DIR="$runtime" weston --backend=headless-backend.so --socket="$socket" --idle-time=0 \
  >"$runtime/weston.log" 2>&1 &
weston=$!
cleanup() {
  kill "$weston" 2>/dev/null
  wait "$weston" 2>/dev/null
  rm -rf "$runtime"
}
trap cleanup EXIT

for _ in $(seq 100); do
  [ -S "$runtime/$socket" ] && break
  kill -0 "$weston" 2>/dev/null || break
  sleep 0.1
done
if [ ! -S "$runtime/$socket" ]; then
  echo "with_weston: weston did not start" >&2
  cat "$runtime/weston.log" >&2
  exit 1
fi
env -u DISPLAY XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY="$socket" TOVANI_TEST_DISPLAY=wayland "$@"
