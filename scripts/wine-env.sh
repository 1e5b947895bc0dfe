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
  wine_windows_fonts
  wine_window_management
  wineserver -p >/dev/null 2>&1 || true
  # A program started now finds the server already up: per-program start-up drops to ~0.1 s.
  "$WINE_BIN" cmd /c exit >/dev/null 2>&1 || true
}

# The desktop (icon-title) font of a prefix is "MS Shell Dlg" 8 pt, which Wine, like Windows,
# draws in Tahoma; window captions draw their buttons from Marlett. This Wine does not look in
# /usr/share/wine/fonts, where Debian's fonts-wine keeps Wine's Tahoma and Marlett, so without
# copies in the prefix it draws captions in DejaVu Sans, a much wider face (a check box's
# caption laid out for Windows no longer fits), and the close box as a letter "r".
wine_windows_fonts() {
  local f fonts="$WINEPREFIX/drive_c/windows/Fonts"
  [ -d "$fonts" ] || return 0
  for f in tahoma.ttf tahomabd.ttf marlett.ttf; do
    if [ -f "/usr/share/wine/fonts/$f" ] && [ ! -f "$fonts/$f" ]; then cp "/usr/share/wine/fonts/$f" "$fonts/"; fi
  done
}

# Xvfb runs no window manager, but Wine's X11 driver treats top-level windows as managed and,
# when one is taken down (a message box closed with OK), waits up to 2 s for the window
# manager to confirm it, serving no message meanwhile: the window's final "complete!" box
# seemed to hang for 2 s. On our own Xvfb nothing manages the windows, so Wine is told so; on
# a real display the window manager does its work as usual.
wine_window_management() {
  local key='HKCU\Software\Wine\X11 Driver'
  if [ -n "$_bw_xvfb_pid" ]; then
    "$WINE_BIN" reg add "$key" /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
  else
    "$WINE_BIN" reg delete "$key" /v Managed /f >/dev/null 2>&1 || true
  fi
}

wine_session_stop() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  if [ -n "$_bw_xvfb_pid" ]; then kill "$_bw_xvfb_pid" 2>/dev/null || true; wait "$_bw_xvfb_pid" 2>/dev/null || true; fi
  _bw_xvfb_pid=""
}
