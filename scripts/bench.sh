#!/usr/bin/env bash
# Full-tile benchmark against GDAL, in one run (not a test; minutes). On one generated tile of
# three 10980 x 10980 15-bit lossless bands (cached in $BANDWEAVE_CACHE/bench-tile-10980, about
# 130 MB each) it runs, true colour each time:
#   gdal-tiff    gdalbuildvrt -separate + gdal_translate, DEFLATE TIFF, all cores
#   gdal-png     the same, PNG with ZLEVEL=1
#   cli-tiff     bandweave-cli natively, TIFF        cli-png    the same, PNG
#   cli-1core    bandweave-cli natively, TIFF, OPJ_NUM_THREADS=1 (for the loading's scaling)
#   cli-tiff-whole  bandweave-cli natively, TIFF, BANDWEAVE_WHOLE_BANDS=1: the whole-band way
#                the tool took before streaming, the yardstick for streaming's wall time; it
#                and the streaming run take turns BANDWEAVE_BENCH_PAIRS times (default 3), and
#                the medians are compared (one run each is within the machine's noise)
#   wine-tiff    bandweave-cli.exe under Wine, TIFF  wine-png   the same, PNG
#   wine-tiff-whole  bandweave-cli.exe under Wine, TIFF, the whole-band way, the same way
#   window-tiff  Bandweave.exe under Wine with the band as its argument, TIFF, driven by the
#                demo driver, which dismisses the final box and sends the window a message
#                every 100 ms, reporting the longest answer
#   window-png   the same, PNG
# and prints wall seconds, peak memory and output size of each, and each as a ratio to GDAL's
# run of the same format, then every target with PASS or MISS.
#   BANDWEAVE_BENCH_RUNS selects runs (names above); BANDWEAVE_BENCH_SIZE another tile size
#   (quick trials of the script); BANDWEAVE_NATIVE_BUILD and BANDWEAVE_WINDOWS_BUILD other build
#   trees than build/bench-native and build/windows.
# Peak memory: GNU time's maximum resident set size of the process (the Wine process that runs
# bandweave-cli.exe is the one started); for the window, the kernel's high-water mark (VmHWM)
# of the Bandweave.exe process, read every 0.2 s. Wall time: start to end of the process; for
# the window, from the program's start to its final message box (Wine's slow start of a GUI
# program counts, the user's reading of the box does not). Loading: from the first status line
# to "Saving...".
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
# shellcheck source=bench-lib.sh
source scripts/bench-lib.sh
# A prefix of the benchmark's own, so that no test's settings decide the window's format.
: "${BANDWEAVE_WINEPREFIX:=$BANDWEAVE_CACHE/wineprefix-bench}"
export BANDWEAVE_WINEPREFIX
runs=${BANDWEAVE_BENCH_RUNS:-gdal-tiff gdal-png cli-tiff cli-tiff-whole cli-png cli-1core wine-tiff wine-tiff-whole wine-png window-tiff window-png}
bench_tile
work=$(mktemp -d "${TMPDIR:-/tmp}/bandweave-bench.XXXXXX")
cleanup() { rm -rf "$work"; }
trap cleanup EXIT

need=()
[ -x /usr/bin/time ] || need+=(time)
has gdal- && ! command -v gdal_translate >/dev/null && need+=(gdal-bin)
if [ ${#need[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  echo "Installing: ${need[*]}"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
bench_make_tile
bench_link_tile

if has cli-; then
  bench_native
  native_cli=$cli
fi
if has wine- || has window-; then
  wb=${BANDWEAVE_WINDOWS_BUILD:-build/windows}
  quiet configure_windows "$wb"
  quiet cmake --build "$wb" -j2 --target bandweave-cli Bandweave bandweave-demo-driver
  # shellcheck source=wine-env.sh
  . scripts/wine-env.sh
  wine_session_start
  trap 'wine_session_stop; cleanup' EXIT
  winpath() { local p=${1//\//\\}; echo "Z:$p"; }
fi

# The way the samples took ("streaming: ..." or "whole bands: ..."), from a --times log.
way() { tr -d '\r' <"$1" | sed -n 's/^\[ *[0-9.]* s\] \(streaming: .*\|whole bands.*\)$/\1/p' | head -1; }
# Seconds from the first status line to "Saving..." in a --times log.
loading() {
  awk '/\] Processing red/ && s == "" { s = $2 } /\] Saving\.\.\./ && e == "" { e = $2 }
       END { if (s != "" && e != "") printf "%.1f", e - s }' FS='[][ ]+' "$1"
}
# record NAME WALL PEAK-KB OUTPUT [NOTE]: one line of figures, or the reason there are none.
record() {
  local name=$1 wall=$2 kb=$3 out=$4 note=${5:-}
  bench_written "$name" "$out" || return 0
  echo "$name $wall $kb $(stat -L -c %s "$out") $note" >>"$work/results"
  rm -f "$out"
}
# timed NAME OUTPUT COMMAND...: wall time and GNU time's peak of one process.
timed() {
  local name=$1 out=$2
  shift 2
  rm -f "$out"
  bench_time "$@" || true
  record "$name" "$bench_wall" "$bench_kb" "$out" "$(loading "$work/err")"
  way "$work/err" >"$work/way"
  [ -s "$work/way" ] && echo "$name: $(cat "$work/way")" >>"$work/ways"
  return 0
}

# paired NAME OUTPUT COMMAND...: COMMAND streaming and with BANDWEAVE_WHOLE_BANDS=1, taking
# turns BANDWEAVE_BENCH_PAIRS times; records NAME (the whole-band way) with the median of its
# walls, and the median of the streaming walls in $work/paired.
paired() {
  local name=$1 out=$2 k streamed=() whole=()
  shift 2
  for ((k = 0; k < ${BANDWEAVE_BENCH_PAIRS:-3}; k++)); do
    rm -f "$out"
    bench_time "$@" || true
    streamed+=("$bench_wall")
    rm -f "$out"
    BANDWEAVE_WHOLE_BANDS=1 bench_time "$@" || true
    whole+=("$bench_wall")
  done
  echo "${name%-whole} $(median "${streamed[@]}") ${#streamed[@]}" >>"$work/paired"
  record "$name" "$(median "${whole[@]}")" "$bench_kb" "$out" "$(loading "$work/err")"
  way "$work/err" >"$work/way"
  [ -s "$work/way" ] && echo "$name: $(cat "$work/way")" >>"$work/ways"
  return 0
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

run_gdal() {  # run_gdal tiff|png
  local out=$work/gdal.$1 t0 t1 kb1 kb2
  local -a options=(-of GTiff -co COMPRESS=DEFLATE -co NUM_THREADS=ALL_CPUS)
  [ "$1" = png ] && options=(-of PNG -co ZLEVEL=1)
  rm -f "$out"
  t0=$(now)
  /usr/bin/time -f %M -o "$work/rss1" gdalbuildvrt -q -separate "$work/rgb.vrt" \
    "$work/tile/${stem}B04.jp2" "$work/tile/${stem}B03.jp2" "$work/tile/${stem}B02.jp2" >"$work/out" 2>"$work/err"
  GDAL_NUM_THREADS=ALL_CPUS /usr/bin/time -f %M -o "$work/rss2" \
    gdal_translate -q "${options[@]}" "$work/rgb.vrt" "$out" >>"$work/out" 2>>"$work/err" || true
  t1=$(now)
  kb1=$(tail -1 "$work/rss1"); kb2=$(tail -1 "$work/rss2")
  record "gdal-$1" "$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')" "$((kb1 > kb2 ? kb1 : kb2))" "$out"
  rm -f "$work/rgb.vrt" "$out.aux.xml"
}

run_window() {  # run_window tiff|png
  local ext=${1/tiff/tif} out pid driver peak=0 hwm worst hung shown
  out=$work/tile/${stem}48.$ext
  rm -f "$out"
  # The window saves in the format its settings hold.
  "$WINE_BIN" reg add 'HKCU\Software\Korvane\Bandweave' /v SaveFormat /t REG_DWORD /d "$([ "$1" = png ] && echo 0 || echo 1)" \
    /f >/dev/null 2>&1
  "$WINE_BIN" "$wb/bandweave-demo-driver.exe" "$(winpath "$top/$wb/Bandweave.exe")" "$(winpath "$dropped")" \
    >"$work/err" 2>&1 &
  driver=$!
  # The program runs detached from the driver; the tile's path, unique to this run, finds it.
  while kill -0 "$driver" 2>/dev/null; do
    for pid in $(pgrep -f "Bandweave\.exe.*${work##*/}" || true); do
      hwm=$(awk '/^VmHWM/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
      [ -n "$hwm" ] && [ "$hwm" -gt "$peak" ] && peak=$hwm
    done
    sleep 0.2
  done
  wait "$driver" || true
  worst=$(tr -d '\r' <"$work/err" | sed -n 's/.*worst answer \([0-9]*\) ms.*/\1/p')
  hung=$(tr -d '\r' <"$work/err" | sed -n 's/.*seen hung \([0-9]*\) times.*/\1/p')
  shown=$(tr -d '\r' <"$work/err" | sed -n 's/.*outcome shown \([0-9]*\) ms.*/\1/p')
  tr -d '\r' <"$work/err" | sed -n 's/^ *worst answer during: /The window'"'"'s worst answer ('"window-$1"') came during: /p' >>"$work/during"
  record "window-$1" "$(awk -v ms="$shown" 'BEGIN { print ms / 1000 }')" "$peak" "$out" "${worst:+answer=$worst,${hung:-0}}"
}

cores=$(nproc)
echo "Tile: $size x $size, three 15-bit lossless bands of $(du -mL "$work"/tile/*.jp2 | awk '{ s += $1 } END { print s }') MB; $cores cores; $(gdalinfo --version 2>/dev/null | cut -d, -f1)"
echo "Runs: $runs"
echo "Load average before: $(cut -d' ' -f1-3 /proc/loadavg) (the figures are fair only on an otherwise idle machine)"
: >"$work/results"
: >"$work/paired"
: >"$work/ways"
: >"$work/during"
for run in $runs; do
  echo "  $run ..." >&2
  case $run in
    gdal-tiff) run_gdal tiff ;;
    gdal-png) run_gdal png ;;
    cli-tiff) timed cli-tiff "$work/tile/${stem}48.tif" "$native_cli" --times --tiff "$dropped" ;;
    cli-png) timed cli-png "$work/tile/${stem}48.png" "$native_cli" --times --png "$dropped" ;;
    cli-tiff-whole) paired cli-tiff-whole "$work/tile/${stem}48.tif" "$native_cli" --times --tiff "$dropped" ;;
    cli-1core) OPJ_NUM_THREADS=1 timed cli-1core "$work/tile/${stem}48.tif" "$native_cli" --times --tiff "$dropped" ;;
    wine-tiff) timed wine-tiff "$work/tile/${stem}48.tif" "$WINE_BIN" "$wb/src/cli/bandweave-cli.exe" --times --tiff "$(winpath "$dropped")" ;;
    wine-tiff-whole) paired wine-tiff-whole "$work/tile/${stem}48.tif" "$WINE_BIN" "$wb/src/cli/bandweave-cli.exe" --times --tiff "$(winpath "$dropped")" ;;
    wine-png) timed wine-png "$work/tile/${stem}48.png" "$WINE_BIN" "$wb/src/cli/bandweave-cli.exe" --times --png "$(winpath "$dropped")" ;;
    window-tiff) run_window tiff ;;
    window-png) run_window png ;;
    *) echo "unknown run $run" >&2 ;;
  esac
done

# The table, the ratios and the targets, from the results: NAME WALL PEAK-KB BYTES [NOTE].
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
awk -v cores="$cores" '
  FILENAME ~ /paired$/ { streamed[$1] = $2; turns[$1] = $3; next }
  { name[FNR] = $1; ran[$1] = 1; wall[$1] = $2; kb[$1] = $3; bytes[$1] = $4; note[$1] = $5; n = FNR }
  function base(r) { return r ~ /png/ ? "gdal-png" : "gdal-tiff" }
  function ratio(a, b) { return b > 0 ? sprintf("%6.2f", a / b) : "     -" }
  function check(ok, text) { printf "  %-4s  %s\n", ok ? "PASS" : "MISS", text }
  END {
    printf "%-15s %8s %9s %10s   %8s %8s %8s   %s\n", "run", "wall s", "peak MiB", "output MiB", "wall x", "peak x", "size x", "x = / GDAL of the same format"
    for (i = 1; i <= n; i++) {
      r = name[i]; g = base(r)
      printf "%-15s %8.1f %9.0f %10.0f   %8s %8s %8s\n", r, wall[r], kb[r] / 1024, bytes[r] / 1048576,
        ratio(wall[r], wall[g]), ratio(kb[r], kb[g]), ratio(bytes[r], bytes[g])
    }
    print ""
    for (i = 1; i <= n; i++) {
      r = name[i]
      if (split(note[r], kv, "[=,]") == 3 && kv[1] == "answer") { answer[r] = kv[2]; hung[r] = kv[3] }
      else if (note[r] != "") load[r] = note[r]
    }
    if ("cli-tiff" in load && "cli-1core" in load)
      printf "Loading (native, three bands): %.1f s with every core, %.1f s with OPJ_NUM_THREADS=1: %.2f x\n",
        load["cli-tiff"], load["cli-1core"], load["cli-tiff"] / load["cli-1core"]
    for (r in load) if (r != "cli-tiff" && r != "cli-1core") printf "Loading, %s: %.1f s\n", r, load[r]
    print ""
    printf "Targets (ratios in this one run, %d cores):\n", cores
    split("cli-tiff wine-tiff window-tiff", tiffs, " ")
    for (i = 1; i <= 3; i++) { r = tiffs[i]
      if ((r in ran) && ("gdal-tiff" in ran))
        check(wall[r] <= 0.8 * wall["gdal-tiff"], sprintf("%-11s wall %.2f x GDAL TIFF (at most 0.8)", r, wall[r] / wall["gdal-tiff"])) }
    split("cli wine", kinds, " ")
    for (i = 1; i <= 2; i++) { p = kinds[i] "-png"; t = kinds[i] "-tiff"
      if ((p in ran) && ("gdal-png" in ran))
        check(wall[p] <= 0.7 * wall["gdal-png"], sprintf("%-11s wall %.2f x GDAL PNG (at most 0.7)", p, wall[p] / wall["gdal-png"]))
      if ((p in ran) && (t in ran))
        check(wall[p] <= 1.3 * wall[t], sprintf("%-11s wall %.2f x %s (at most 1.3)", p, wall[p] / wall[t], t)) }
    # The streaming engine: memory that does not grow with the tile, and the window as quick as
    # the console tool it shares the engine with.
    for (i = 1; i <= n; i++) { r = name[i]; g = base(r)
      if (r !~ /^gdal/ && r != "cli-1core" && r !~ /-whole$/) {
        check(kb[r] <= 300 * 1024, sprintf("%-11s peak memory %.0f MiB (at most 300)", r, kb[r] / 1024))
        if (g in ran)
          check(kb[r] <= 0.25 * kb[g], sprintf("%-11s peak memory %.2f x GDAL (at most 0.25)", r, kb[r] / kb[g])) } }
    # Streaming against the whole-band way it replaced, on the same build.
    for (i = 1; i <= 2; i++) { t = kinds[i] "-tiff"; w = kinds[i] "-tiff-whole"
      if ((t in streamed) && (w in ran))
        check(streamed[t] <= wall[w], sprintf("%-11s wall %.2f x %s, the whole-band way (medians of %d runs each, taking turns; at most 1.0)", t, streamed[t] / wall[w], w, turns[t])) }
    split("tiff png", formats, " ")
    for (i = 1; i <= 2; i++) { w = "window-" formats[i]; c = "wine-" formats[i]
      if ((w in ran) && (c in ran))
        check(wall[w] <= 1.05 * wall[c], sprintf("%-11s wall %.2f x %s (at most 1.05)", w, wall[w] / wall[c], c)) }
    if (("cli-tiff" in load) && ("cli-1core" in load))
      check(load["cli-tiff"] <= 0.6 * load["cli-1core"], sprintf("%-11s loading with every core %.2f x one core (at most 0.6)", "cli", load["cli-tiff"] / load["cli-1core"]))
    for (r in answer)
      check(answer[r] < 500 && hung[r] == 0, sprintf("%-11s worst answer to a message %d ms (under 500), counted as hung %d times (none)", r, answer[r], hung[r]))
  }' "$work/paired" "$work/results"
[ -s "$work/during" ] && cat "$work/during"
[ -s "$work/ways" ] && { echo "The way the samples took:"; sed 's/^/  /' "$work/ways"; }
echo; scripts/bench-cog.sh || echo "scripts/bench-cog.sh failed" >&2  # the COG and preview rows
echo; scripts/bench-clouds.sh || echo "scripts/bench-clouds.sh failed" >&2  # cloud-free of five dates
echo; scripts/bench-aoi.sh || echo "scripts/bench-aoi.sh failed" >&2  # the area-of-interest rows
echo; BANDWEAVE_NATIVE_BUILD=${nb:-build/native} scripts/bench-batch.sh || echo "scripts/bench-batch.sh failed" >&2  # the batch rows
exit 0
