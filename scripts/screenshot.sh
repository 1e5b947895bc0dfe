#!/usr/bin/env bash
# Takes docs/screenshot.png, the picture of the window the README shows: starts Bandweave.exe
# under a display of its own (Xvfb), waits for the start-up text, captures the window and crops
# the picture to it.
#   scripts/screenshot.sh [path/to/Bandweave.exe] [out.png]
set -euo pipefail
cd "$(dirname "$0")/.."
exe=${1:-build/windows/Bandweave.exe}
out=${2:-docs/screenshot.png}
[ -f "$exe" ] || { echo "screenshot: $exe missing (make build)" >&2; exit 1; }
for tool in xwininfo import; do
  command -v $tool >/dev/null || { echo "screenshot: $tool missing (scripts/install-deps.sh)" >&2; exit 1; }
done

# Always a fresh, empty display: nothing else on the picture. There is no window manager to
# draw the frame, so Wine draws it itself (Decorated=N), in a prefix kept for pictures alone.
unset DISPLAY
# shellcheck source=lib.sh
source scripts/lib.sh
bandweave_cache
: "${BANDWEAVE_WINEPREFIX:=$BANDWEAVE_CACHE/wineprefix-screenshot}"
export BANDWEAVE_WINEPREFIX
# shellcheck source=wine-env.sh
source scripts/wine-env.sh
wine_session_start
"$WINE_BIN" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
app_pid=""
log=$(mktemp)
cleanup() {
  if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; wait "$app_pid" 2>/dev/null || true; fi
  wine_session_stop
  rm -f "$log"
}
trap cleanup EXIT

"$WINE_BIN" "$exe" >"$log" 2>&1 &
app_pid=$!

# The window's X geometry, once it is mapped.
geometry=""
for _ in $(seq 100); do
  info=$(xwininfo -name Bandweave 2>/dev/null || true)
  if echo "$info" | grep -q "Map State: IsViewable"; then
    x=$(echo "$info" | awk '/Absolute upper-left X/ {print $4}')
    y=$(echo "$info" | awk '/Absolute upper-left Y/ {print $4}')
    w=$(echo "$info" | awk '/Width:/ {print $2}')
    h=$(echo "$info" | awk '/Height:/ {print $2}')
    geometry="${w}x${h}+${x}+${y}"
    break
  fi
  sleep 0.1
done
[ -n "$geometry" ] || { echo "screenshot: the window did not appear" >&2; cat "$log" >&2; exit 1; }
# The start-up text comes 100 ms after creation; give painting a moment more.
sleep 1.5
mkdir -p "$(dirname "$out")"
import -window root -crop "$geometry" +repage "$out"
echo "screenshot: $out ($geometry)"
