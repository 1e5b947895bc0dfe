#!/usr/bin/env bash
# The main job on a generated sample tile, with the real program: builds Bandweave.exe, makes
# sample/ (1024 x 1024) and starts the program under Wine with the green band's file as its
# argument. Without a display it runs on a virtual one (Xvfb), and a small driver plays the
# user: it reports the status line and the message box, presses OK and closes the window.
# The composite stays beside the sample bands.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=lib.sh
source scripts/lib.sh
bandweave_cache
wb=${BANDWEAVE_WINDOWS_BUILD:-build/windows}
# Configure every time: a layer added since the tree was made is picked up only then.
configure_windows "$wb" >/dev/null
cmake --build "$wb" --target Bandweave bandweave-demo-driver
scripts/make-sample.sh sample 1024

band=$PWD/sample/T33UUP_20250101T101021_B03.jp2
out=sample/T33UUP_20250101T101021_48.tif
rm -f "$out" sample/T33UUP_20250101T101021_48.png
# shellcheck source=wine-env.sh
source scripts/wine-env.sh
wine_session_start
trap wine_session_stop EXIT
echo "== Bandweave.exe $band"
log=$(mktemp)
status=0
"$WINE_BIN" "$wb/bandweave-demo-driver.exe" "$(winepath -w "$wb/Bandweave.exe" 2>/dev/null)" \
  "$(winepath -w "$band" 2>/dev/null)" >"$log" 2>&1 || status=$?
tr -d '\r' <"$log"
rm -f "$log"
[ "$status" -eq 0 ] || { echo "demo: the job did not complete" >&2; exit 1; }
# The format is the one stored in the Wine prefix's registry (TIFF unless changed there).
for f in "$out" sample/T33UUP_20250101T101021_48.png; do
  [ -f "$f" ] && echo "The composite went to $PWD/$f ($(stat -c %s "$f") bytes)."
done
exit 0
