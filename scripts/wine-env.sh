# Sourced by the scripts that run Windows programs: an isolated Wine prefix of the project's
# own (never the user's ~/.wine), quiet, with a persistent wineserver and a display.
#   wine_session_start   boots the prefix (first time), starts the server and Xvfb if needed
#   wine_session_stop    stops what wine_session_start started
# shellcheck source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
bandweave_cache
export WINEPREFIX="${BANDWEAVE_WINEPREFIX:-$BANDWEAVE_CACHE/wineprefix}"
export WINEDEBUG=-all
export WINEARCH=win64
# No Mono or Gecko installers: the program needs neither, and a fresh machine has no network.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
WINE_BIN=$(command -v wine64 || command -v wine)
export WINE_BIN

_bw_xvfb_pid=""
wine_session_start() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  if [ -z "${DISPLAY:-}" ] || [ "${BANDWEAVE_FORCE_XVFB:-0}" = 1 ]; then
    local n=${BANDWEAVE_XVFB_DISPLAY:-97}
    while [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    _bw_xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.1; done
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Preparing the Wine prefix $WINEPREFIX (first time only)..."
    "$WINE_BIN" wineboot -i >/dev/null 2>&1 || true
  fi
  wineserver -p >/dev/null 2>&1 || true
  # A program started now finds the server already up: per-program start-up drops to ~0.1 s.
  "$WINE_BIN" cmd /c exit >/dev/null 2>&1 || true
}

wine_session_stop() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  if [ -n "$_bw_xvfb_pid" ]; then kill "$_bw_xvfb_pid" 2>/dev/null || true; wait "$_bw_xvfb_pid" 2>/dev/null || true; fi
  _bw_xvfb_pid=""
}
