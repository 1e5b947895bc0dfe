#!/usr/bin/env bash
# bandweave-cli CLI REAL TESTS-DIR: masks and the cloud-free picture from the console tool.
# On the real L2A scene: --mask-clouds writes ..._masked outputs beside nothing else, says the
# share masked, and its quicklook is transparent where masked; a band without a mask fails with
# the reason. On generated dates: --cloud-free against GDAL and numpy, every sample; another
# tile refused by name. Exits 77 (skipped) without GDAL's Python or the real data.
set -uo pipefail
cli=$1 real=$2 tests=$3
python=/usr/bin/python3
"$python" -c 'from osgeo import gdal; import numpy' 2>/dev/null || { echo "skipped: no GDAL for Python"; exit 77; }
scene=$real/l2a_T29UNU_20221005_unmodified
[ -d "$scene" ] || { echo "skipped: no real data"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0
fail() { echo "FAIL $*"; fails=$((fails + 1)); }

# --mask-clouds on a band file of the real scene; the outputs in --out.
"$cli" --tiff --mask-clouds --quicklook --reduce 1 --out "$work/masked" "$scene/T29UNU_20221005T115411_B04_60m.jp2" \
  >"$work/out" 2>"$work/err" || { fail "mask: exit $?"; cat "$work/err"; }
ls "$work/masked" >"$work/list"
[ "$(cat "$work/list")" = "$(printf '%s\n' T29UNU_20221005T115411_48_60m_masked.tif T29UNU_20221005T115411_48_60m_masked_ql.png)" ] ||
  { fail "mask: outputs"; cat "$work/list"; }
grep -qx 'masked: 82\.17 % of pixels' "$work/err" || { fail "mask: share not said"; cat "$work/err"; }
# GDAL reads the quicklook's tRNS as its no-data value.
gdalinfo "$work/masked/T29UNU_20221005T115411_48_60m_masked_ql.png" | grep -q 'NoData Value=0' ||
  fail "mask: quicklook without a transparent colour"

# A masked preview says its own share: at full resolution the composite's.
"$cli" --preview --mask-clouds --out "$work/preview" "$scene/T29UNU_20221005T115411_B04_60m.jp2" >/dev/null 2>"$work/err" ||
  fail "preview: exit $?"
grep -qx 'masked: 82\.17 % of pixels' "$work/err" || { fail "preview: share not said"; cat "$work/err"; }
"$cli" --preview --mask-clouds --reduce 2 --out "$work/preview" "$scene/T29UNU_20221005T115411_B04_60m.jp2" >/dev/null 2>"$work/err" ||
  fail "preview reduced: exit $?"
grep -q '^masked: 8[0-9]\.[0-9][0-9] % of pixels$' "$work/err" || { fail "preview reduced: share"; cat "$work/err"; }

# --mask-classes: a bad list is a usage error; a good one implies --mask-clouds.
"$cli" --mask-classes 3,12 "$scene/T29UNU_20221005T115411_B04_60m.jp2" >/dev/null 2>"$work/err"
[ $? -eq 2 ] && grep -q '"12" is not a scene class (0 to 11)' "$work/err" || { fail "classes: bad list"; cat "$work/err"; }
"$cli" --mask-classes 8,9,10 --out "$work/classes" "$scene/T29UNU_20221005T115411_B04_60m.jp2" >/dev/null 2>"$work/err" ||
  fail "classes: exit $?"
grep -qx 'masked: 35\.59 % of pixels' "$work/err" || { fail "classes: share"; cat "$work/err"; }

# A band with neither classification nor cloud mask around it: the job fails and says why.
mkdir -p "$work/bare"
for b in B02 B03 B04; do ln -s "$scene/T29UNU_20221005T115411_${b}_60m.jp2" "$work/bare/"; done
"$cli" --mask-clouds "$work/bare/T29UNU_20221005T115411_B03_60m.jp2" >"$work/out" 2>"$work/err"
[ $? -eq 1 ] || fail "no mask: exit status"
grep -q 'no cloud mask for T29UNU_20221005T115411_B04_60m.jp2' "$work/out" || { fail "no mask: reason"; cat "$work/out"; }
[ "$(find "$work/bare" -type f | wc -l)" -eq 0 ] || fail "no mask: something written"

# --cloud-free over generated dates (a folder of products), against GDAL and numpy.
"$python" "$tests/make-dates.py" "$work/dates" T29UNU 300 20220905 20221015 20220925 20221005 || fail "make-dates"
"$cli" --cloud-free --out "$work/free" "$work/dates" >"$work/out" 2>"$work/err" || { fail "cloud-free: exit $?"; cat "$work/err"; }
result=$work/free/T29UNU_20220905_20221015_48_60m_cloudfree.tif
[ -f "$result" ] || { fail "cloud-free: no $result"; ls "$work/free"; }
"$python" "$tests/cloudfree-reference.py" "$result" 0,1,3,8,9,10 "$work"/dates/*.SAFE >"$work/ref" || fail "reference"
grep -qx 'differing samples: 0' "$work/ref" || { fail "cloud-free: samples differ"; cat "$work/ref"; }
gdalinfo "$result" | grep -q 'ID\["EPSG",32629\]' || fail "cloud-free: not georeferenced"
# A product of another tile among them: refused, naming it.
"$python" "$tests/make-dates.py" "$work/dates" T30UUU 300 20221010 || fail "make-dates"
"$cli" --cloud-free --out "$work/mixed" "$work/dates" >"$work/out" 2>"$work/err"
[ $? -ne 0 ] && grep -q 'T30UUU_20221010T115411_B04_60m.jp2 and T29UNU_20220905T115411_B04_60m.jp2: another tile' "$work/out" "$work/err" ||
  { fail "cloud-free: mixed tiles"; cat "$work/out" "$work/err"; }

[ $fails -eq 0 ] && echo "clouds: all passed"
exit $((fails > 0))
