#!/usr/bin/env bash
# side-files-test.sh CLI DATA [RUNNER]: what the console tool writes besides the composite (world
# files, .aux.xml, the quicklook) with links planted at their names, with a grid whose numbers
# stop being finite and with a broken GML box. RUNNER (wine) runs a Windows build; the links are
# planted by this script, since Wine cannot make them itself.
set -uo pipefail
cli=$1 data=$2 runner=${3:-}
command -v python3 >/dev/null || { echo "skipped: no python3"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0
stem=T33UUP_20250101T101021_
check() {  # check NAME EXPECTED-STATUS ARGS...
  local name=$1 want=$2
  shift 2
  $runner "$cli" "$@" >"$work/out" 2>"$work/err"
  local got=$?
  if [ "$got" != "$want" ]; then
    echo "FAIL $name: exit $got, expected $want"; cat "$work/out" "$work/err"; fails=$((fails + 1))
  fi
}
expect() {  # expect NAME FILE TEXT: the file holds exactly TEXT (line ends aside)
  if [ "$(tr -d '\r' <"$2")" != "$3" ]; then
    echo "FAIL $1: got"; cat -A "$2"; echo "expected: $3"; fails=$((fails + 1))
  fi
}
leftovers() {  # leftovers NAME DIR: no temporary file may stay behind
  if compgen -G "$2/.bw-*" >/dev/null; then echo "FAIL $1: temporary file left: $(ls -A "$2")"; fails=$((fails + 1)); fi
}

# Side files take the composite's way to disk: a link planted at any of their names is replaced
# by the file, what it points to is never written, and a link at a name that is not ours stays.
gml=$(dirname "$0")/with-gml.py
mkdir "$work/side" "$work/huge"
for b in B02 B03 B04; do
  cp "$data/tile/${stem}$b.jp2" "$work/side/"
  cp "$data/tile/${stem}$b.jp2" "$work/huge/"
  "$gml" "$work/side/${stem}$b.jp2" 32633 300015 5600025 30
  "$gml" "$work/huge/${stem}$b.jp2" 32633 300015 5600025 1e308
done
out=$work/side/${stem}48
echo "the user's" >"$work/victim-side"
for name in .pgw .png.aux.xml _ql.pgw _ql.png _ql.png.part; do ln -s "$work/victim-side" "$out$name"; done
ln -s "$work/nowhere" "${out}_ql.png.aux.xml"
check side-links 0 --png --world-file --quicklook --reduce 1 "$work/side/${stem}B03.jp2"
[ "$(cat "$work/victim-side")" = "the user's" ] || { echo "FAIL side-links: written through a link"; fails=$((fails + 1)); }
[ ! -e "$work/nowhere" ] || { echo "FAIL side-links: a dangling link was followed"; fails=$((fails + 1)); }
for name in .pgw .png.aux.xml _ql.pgw _ql.png _ql.png.aux.xml; do
  { [ -f "$out$name" ] && [ ! -L "$out$name" ]; } || { echo "FAIL side-links: $name is not the file written"; fails=$((fails + 1)); }
done
[ -L "${out}_ql.png.part" ] || { echo "FAIL side-links: a link not ours was touched"; fails=$((fails + 1)); }
expect side-links-world-file "${out}_ql.pgw" "$(printf '60\n0\n0\n-60\n300030\n5600010')"
leftovers side-links "$work/side"

# Pixels of 1e308 m: finite at full resolution, not at a quarter of it. The quicklook then has no
# world file (an earlier one goes), said so, and the tool succeeds as for bands without a grid.
out=$work/huge/${stem}48
echo "earlier" >"${out}_ql.pgw"
check huge-pixels 0 --png --world-file --quicklook --reduce 2 "$work/huge/${stem}B03.jp2"
grep -q "georeferencing is out of range" "$work/err" || { echo "FAIL huge-pixels: no note"; cat "$work/err"; fails=$((fails + 1)); }
[ ! -e "${out}_ql.pgw" ] && [ ! -e "${out}_ql.png.aux.xml" ] || { echo "FAIL huge-pixels: quicklook side files"; fails=$((fails + 1)); }
[ -s "${out}_ql.png" ] || { echo "FAIL huge-pixels: no quicklook"; fails=$((fails + 1)); }
if grep -qiE 'inf|nan' "$out.pgw"; then echo "FAIL huge-pixels: $(tr '\n' ' ' <"$out.pgw")"; fails=$((fails + 1)); fi

# A GML box whose length runs past the end of the file costs the georeferencing, not the picture.
mkdir "$work/broken"
for b in B02 B03 B04; do cp "$work/side/${stem}$b.jp2" "$work/broken/"; done
cp "$data/tile/${stem}B04.jp2" "$work/broken/"
"$gml" "$work/broken/${stem}B04.jp2" 32633 300015 5600025 30 --past-the-end
check broken-gml 0 --png --world-file "$work/broken/${stem}B03.jp2"
grep -q "no common georeferencing" "$work/err" || { echo "FAIL broken-gml: no note"; cat "$work/err"; fails=$((fails + 1)); }
[ -s "$work/broken/${stem}48.png" ] && [ ! -e "$work/broken/${stem}48.pgw" ] ||
  { echo "FAIL broken-gml: expected the picture without a world file"; fails=$((fails + 1)); }

[ $fails = 0 ] && echo "side files: all checks passed"
exit $((fails > 0))
