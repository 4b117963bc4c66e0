#!/usr/bin/env bash
# Runs a command on a private X server of its own (Xvfb picks a free display), so window
# tests can run side by side and on machines without a display.
set -euo pipefail
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$display_file" 2>/dev/null &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -f "$display_file"' EXIT
for _ in $(seq 1 100); do
  [ -s "$display_file" ] && break
  kill -0 "$server" 2>/dev/null || { echo "Xvfb did not start" >&2; exit 1; }
  sleep 0.05
done
[ -s "$display_file" ] || { echo "Xvfb gave no display" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$display_file")"
export GDK_BACKEND=x11 NO_AT_BRIDGE=1 GTK_A11Y=none
# In the sanitizer build: what the desktop libraries keep until exit is not our leak.
export LSAN_OPTIONS="suppressions=$(cd "$(dirname "$0")" && pwd)/window-leaks.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
"$@"
