#!/usr/bin/env bash
# Plants small faults in the code, one at a time, in a scratch copy of the tree (build/mutants;
# the working tree is never touched), rebuilds natively and runs the tests meant to catch each.
# A fault the tests let through "survived": a test is missing. A fault whose line is no longer in
# the code is "stale": the list below needs its line brought up to date.
#   scripts/mutants.sh [NAME...]     every fault when none is named (make mutants)
# Exits 1 when a fault survived or is stale. Not part of make test: it takes some minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
scratch=$top/build/mutants
tree=$scratch/tree
build=$scratch/build
real=${BANDWEAVE_REAL_DATA:-$(cd "$top/.." && pwd)/shared/data/s2-real}

# The faults: a name, the file, the line as it is, the line with the fault, and the CTest tests
# that must fail (a regular expression). Fields are separated by " ~ "; the lines are matched
# whole, leading blanks included, and must occur exactly once in their file.
read -r -d '' faults <<'EOF' || true
commit-ignores-failed-write ~ src/imageio/TempFile.cpp ~   if (FFailed || !closed || !tempFileDetail::MoveOver(FPath, target)) { ~   if (!closed || !tempFileDetail::MoveOver(FPath, target)) { ~ ImageWritersTest
commit-ignores-failed-close ~ src/imageio/TempFile.cpp ~   if (FFailed || !closed || !tempFileDetail::MoveOver(FPath, target)) { ~   if (FFailed || !tempFileDetail::MoveOver(FPath, target)) { ~ ImageWritersTest
commit-ignores-failed-rename ~ src/imageio/TempFile.cpp ~   if (FFailed || !closed || !tempFileDetail::MoveOver(FPath, target)) { ~   if (FFailed || !closed || (tempFileDetail::MoveOver(FPath, target), false)) { ~ ImageWritersTest|CompositeJobTest
band-size-unchecked-on-freeimage-way ~ src/composition/BandMerge.cpp ~   if (!SameSize(job.Composite.get(), FreeImage_GetWidth(loaded.get()), FreeImage_GetHeight(loaded.get()))) { ~   if (false) { ~ CompositeJobTest|DirectDecodingTest
band-size-unchecked-from-header ~ src/composition/BandMerge.cpp ~   if (status == TJp2HeaderStatus::Read && job.Composite && !SameSize(job.Composite.get(), bandWidth, bandHeight)) { ~   if (false) { ~ CompositeJobTest|DirectDecodingTest
header-bound-tile-count ~ src/imageio/Jp2Header.cpp ~   double bytes = 14.0 * header.TilesAcross * header.TilesDown; ~   double bytes = 0; ~ Jp2BandDecoderTest
header-bound-components ~ src/imageio/Jp2Header.cpp ~     bytes += static_cast<double>(CeilDiv(width, 1u << 15)) * static_cast<double>(CeilDiv(height, 1u << 15)); ~     bytes += 0; ~ Jp2BandDecoderTest
header-bound-memory ~ src/imageio/Jp2Header.cpp ~   if (memory && 2.0 * header.Width * header.Height > static_cast<double>(memory)) { ~   if (false) { ~ Jp2BandDecoderTest
geotiff-pixel-scale-sign ~ src/imageio/Georeference.cpp ~   t.PixelScale[1] = grid.PixelHeight; ~   t.PixelScale[1] = -grid.PixelHeight; ~ OutputMetadataTest
geotiff-tiepoint-at-pixel-centre ~ src/imageio/Georeference.cpp ~   t.Tiepoint[3] = grid.Left; ~   t.Tiepoint[3] = grid.Left + grid.PixelWidth / 2; ~ OutputMetadataTest
geotiff-key-pixel-is-point ~ src/imageio/Georeference.cpp ~                kGTRasterType, 0, 1, kRasterPixelIsArea, ~                kGTRasterType, 0, 1, 2, ~ OutputMetadataTest
geotiff-written-scale-from-tiepoint ~ src/imageio/TiffWriter.cpp ~     if (TIFFSetField(tif, 33550, 3, geo.PixelScale) != 1 || TIFFSetField(tif, 33922, 6, geo.Tiepoint) != 1) ~     if (TIFFSetField(tif, 33550, 3, geo.Tiepoint) != 1 || TIFFSetField(tif, 33922, 6, geo.Tiepoint) != 1) ~ ImageWritersTest|OutputMetadataTest
quicklook-rounds ~ src/imageio/TrueColour.h ~   const int32_t v = 1 + d * 254 / 2500; ~   const int32_t v = 1 + (d * 254 + 1250) / 2500; ~ QuicklookTest
quicklook-dark-valid-as-no-data ~ src/imageio/TrueColour.h ~   if (d <= 0) return 1; ~   if (d <= 0) return 0; ~ QuicklookTest
quicklook-no-ceiling ~ src/imageio/TrueColour.h ~   return static_cast<uint8_t>(v > 255 ? 255 : v); ~   return static_cast<uint8_t>(v); ~ QuicklookTest
EOF

# The fields of one fault line into name, file, line, fault, tests.
split() {
  local rest=$1
  name=${rest%%" ~ "*}; rest=${rest#*" ~ "}
  file=${rest%%" ~ "*}; rest=${rest#*" ~ "}
  line=${rest%%" ~ "*}; rest=${rest#*" ~ "}
  fault=${rest%%" ~ "*}; tests=${rest#*" ~ "}
}

selected=()
while IFS= read -r entry; do
  split "$entry"
  if [ $# -eq 0 ] || printf '%s\n' "$@" | grep -qxF "$name"; then selected+=("$entry"); fi
done <<<"$faults"
[ ${#selected[@]} -gt 0 ] || { echo "no fault of that name; the faults are:"; sed 's/ ~ .*//' <<<"$faults"; exit 2; }

# The scratch tree follows the working tree's files (committed or not); a file is rewritten only
# when its content differs, so the scratch build recompiles only what changed.
mkdir -p "$tree"
git ls-files -z --cached --others --exclude-standard | python3 -c '
import os, sys, shutil
top, tree = sys.argv[1], sys.argv[2]
names = {n for n in sys.stdin.read().split("\0") if n and os.path.isfile(os.path.join(top, n))}
for n in names:
    source, copy = os.path.join(top, n), os.path.join(tree, n)
    with open(source, "rb") as f:
        data = f.read()
    if os.path.isfile(copy):
        with open(copy, "rb") as f:
            if f.read() == data:
                continue
    os.makedirs(os.path.dirname(copy), exist_ok=True)
    with open(copy, "wb") as f:
        f.write(data)
    shutil.copymode(source, copy)
for folder, _, files in os.walk(tree):
    for f in files:
        path = os.path.join(folder, f)
        if os.path.relpath(path, tree) not in names:
            os.remove(path)
' "$top" "$tree"

[ -d "$top/build/testdata/tile" ] || scripts/make-testdata.sh "$top/build/testdata" >/dev/null
cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBANDWEAVE_TEST_DATA="$top/build/testdata" \
  -DBANDWEAVE_REAL_DATA="$real" >/dev/null

# Each test named by a fault is a test program of that name.
targets() { tr '|' '\n' <<<"$1" | sort -u; }
all_tests=$(for entry in "${selected[@]}"; do split "$entry"; echo "$tests"; done | tr '|' '\n' | sort -u | paste -sd'|')
log=$scratch/last.log
echo "== building the scratch tree and running its tests unchanged ($all_tests)"
# shellcheck disable=SC2046
nice cmake --build "$build" --target $(targets "$all_tests") >"$log" 2>&1 || { cat "$log"; echo "the scratch tree does not build"; exit 1; }
ctest --test-dir "$build" -R "^($all_tests)\$" -j2 >"$log" 2>&1 || { cat "$log"; echo "the tests fail without any fault"; exit 1; }

bad=0
results=()
for entry in "${selected[@]}"; do
  split "$entry"
  target=$tree/$file
  original=$(mktemp)
  cp "$target" "$original"
  if ! python3 - "$target" "$line" "$fault" <<'PY'
import sys
path, line, fault = sys.argv[1:4]
with open(path, encoding="utf-8") as f:
    lines = f.read().split("\n")
hits = [i for i, l in enumerate(lines) if l == line]
if len(hits) != 1:
    sys.exit(1)
lines[hits[0]] = fault
with open(path, "w", encoding="utf-8") as f:
    f.write("\n".join(lines))
PY
  then
    results+=("STALE     $name: the line is not once in $file")
    bad=1
    rm -f "$original"
    continue
  fi
  echo "== $name"
  # shellcheck disable=SC2046
  if ! nice cmake --build "$build" --target $(targets "$tests") >"$log" 2>&1; then
    verdict="killed    $name (it does not build)"
  elif ctest --test-dir "$build" -R "^($tests)\$" -j2 --timeout 600 >"$log" 2>&1; then
    verdict="SURVIVED  $name ($tests all pass)"
    bad=1
  else
    verdict="killed    $name by $(sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) (.*)$/\1/p' "$log" | paste -sd, -)"
  fi
  # Back as it was, with a new time stamp, so that the next build compiles it again.
  cat "$original" >"$target"
  rm -f "$original"
  results+=("$verdict")
done

echo "== faults"
printf '%s\n' "${results[@]}"
exit $bad
