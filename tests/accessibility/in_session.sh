#!/usr/bin/env bash
# Runs a command in a D-Bus session of its own (where the accessibility bus
# starts on demand) on a virtual display of its own. Exit 77 (skipped) only
# when no session bus can be started here.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
if ! dbus-run-session -- true >/dev/null 2>&1; then
  echo "SKIP: no D-Bus session can be started here" >&2
  exit 77
fi
exec "$here/../player_qt/with_xvfb.sh" dbus-run-session -- "$@"
