#!/usr/bin/env bash
# WINE bandweave-cli.exe DATA: the Windows console tool in a batch under Wine. Several inputs, a
# folder searched, one line a job, the summary, and a second run that skips what was done.
set -uo pipefail
wine=$1 cli=$(cd "$(dirname "$2")" && pwd)/$(basename "$2") data=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0
stem=T33UUP_20250101T101021_
fail() { echo "FAIL $*"; fails=$((fails + 1)); }
run() {  # run NAME EXPECTED-STATUS ARGS...; relative paths, which Wine maps through the Z: drive
  local name=$1 want=$2
  shift 2
  (cd "$work" && "$wine" "$cli" "$@" >out 2>err)
  local got=$?
  [ "$got" = "$want" ] || { fail "$name: exit $got, expected $want"; cat "$work/out" "$work/err"; }
}
summary() {  # the last line on stderr
  tr -d '\r' <"$work/err" | tail -n 1 | grep -qE "^$2 written, $3 skipped, $4 failed in [0-9]+\.[0-9] s$" ||
    { fail "$1: summary"; cat -A "$work/err"; }
}

for d in one two; do
  mkdir -p "$work/a/$d"
  for b in B02 B03 B04; do cp "$data/tile/${stem}$b.jp2" "$work/a/$d/"; done
done
mkdir -p "$work/b"
for b in B02 B03 B04; do cp "$data/tile/${stem}$b.jp2" "$work/b/"; done
cp "$data/tile/${stem}B02.jp2" "$work/a/two/${stem}B09.jp2"
echo "not a picture" >"$work/a/readme.txt"

run several 0 --jobs 2 "b/${stem}B03.jp2" a
[ "$(tr -d '\r' <"$work/out" | cut -f1 | sort | uniq -c | tr -s ' ')" = " 3 written" ] ||
  { fail "several: lines"; cat -A "$work/out"; }
for o in "a/one/${stem}48.tif" "a/two/${stem}48.tif" "b/${stem}48.tif"; do
  [ -s "$work/$o" ] || fail "several: no $o"
  tr -d '\r' <"$work/out" | grep -q "^written	.*${stem}48.tif$" || fail "several: no line for $o"
done
summary several 3 0 0
run again 0 "b/${stem}B03.jp2" a
summary again 0 3 0
rm "$work/a/one/${stem}B03.jp2"
run failed 1 --force a
tr -d '\r' <"$work/out" | grep -q "^failed	.*Error loading green" || { fail "failed: message"; cat -A "$work/out"; }
summary failed 1 0 1
run usage 2 a "b/nothing.jp2"

[ $fails = 0 ] && echo "bandweave-cli.exe batches: all checks passed"
exit $((fails > 0))
