#!/usr/bin/env bash
# bandweave-cli CLI DATA: exit statuses, which stream carries what, and what gets written.
set -uo pipefail
cli=$1 data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0
stem=T33UUP_20250101T101021_
check() {  # check NAME EXPECTED-STATUS ARGS...
  local name=$1 want=$2
  shift 2
  "$cli" "$@" >"$work/out" 2>"$work/err"
  local got=$?
  if [ "$got" != "$want" ]; then
    echo "FAIL $name: exit $got, expected $want"; cat "$work/out" "$work/err"; fails=$((fails + 1))
  fi
}
expect() {  # expect NAME FILE TEXT: the file holds exactly TEXT
  if [ "$(cat "$2")" != "$3" ]; then
    echo "FAIL $1: got"; cat -A "$2"; echo "expected: $3"; fails=$((fails + 1))
  fi
}

mkdir "$work/tile"
cp "$data/tile/${stem}B02.jp2" "$data/tile/${stem}B03.jp2" "$data/tile/${stem}B04.jp2" "$work/tile/"

check tiff 0 --beep "$work/tile/${stem}B03.jp2"
expect tiff-stdout "$work/out" "Production of 48-bit TIF  complete!"
grep -q '^Processing green$' "$work/err" || { echo "FAIL tiff: no status lines on stderr"; fails=$((fails + 1)); }
[ "$(tr -cd '\a' <"$work/err" | wc -c)" = 2 ] || { echo "FAIL tiff: expected two BEL"; fails=$((fails + 1)); }
[ -s "$work/tile/${stem}48.tif" ] || { echo "FAIL tiff: no output"; fails=$((fails + 1)); }
# Into a file, stderr holds whole lines only: no progress bar.
if grep -q -e $'\r' -e '%' "$work/err"; then echo "FAIL tiff: progress bar in a file"; cat -A "$work/err"; fails=$((fails + 1)); fi

check png 0 --png -- "$work/tile/${stem}B02.jp2"
expect png-stdout "$work/out" "Production of 48-bit PNG  complete!"
[ -s "$work/tile/${stem}48.png" ] || { echo "FAIL png: no output"; fails=$((fails + 1)); }
if tr -cd '\a' <"$work/err" | grep -q .; then echo "FAIL png: beeped without --beep"; fails=$((fails + 1)); fi

# On a terminal the bar runs to 100 %, and every line starts clean: the bar is cleared first.
if command -v script >/dev/null; then
  script -qec "$(printf '%q ' "$cli" --times --png "$work/tile/${stem}B04.jp2")" /dev/null >"$work/tty" 2>&1
  tr -d '\n' <"$work/tty" | grep -q '\] 100%' || { echo "FAIL tty: no bar reaching 100%"; cat -A "$work/tty"; fails=$((fails + 1)); }
  for line in 'Processing green' 'Saving...this will take some time!' 'Production of 48-bit PNG  complete!' 'Finished'; do
    # What stays visible of a line is what follows its last carriage return.
    grep -F "$line" "$work/tty" | tr -d '\n' | sed 's/\r$//; s/.*\r//; s/^\[ *[0-9.]* s\] //' | grep -qxF "$line" ||
      { echo "FAIL tty: '$line' shares its line with the bar"; cat -A "$work/tty"; fails=$((fails + 1)); }
  done
  rm -f "$work/tile/${stem}48.png"
else
  echo "note: no script(1), terminal checks skipped"
fi

rm "$work/tile/${stem}B02.jp2" "$work/tile/${stem}48.tif"
check missing-blue 1 "$work/tile/${stem}B04.jp2"
expect missing-blue-stdout "$work/out" "Error loading blue
Failed to process file: ${stem}B04.jp2"
[ ! -e "$work/tile/${stem}48.tif" ] || { echo "FAIL missing-blue: wrote an output"; fails=$((fails + 1)); }

cp "$work/tile/${stem}B03.jp2" "$work/tile/TCI.jp2"
check no-suffix 1 "$work/tile/TCI.jp2"
expect no-suffix-stdout "$work/out" "Some source files missing"

check no-such-file 2 "$work/tile/${stem}B08.jp2"
grep -q "no such file" "$work/err" || { echo "FAIL no-such-file: no reason given"; fails=$((fails + 1)); }
echo "not an image" >"$work/tile/x_B03.jp2"
check not-jp2 2 "$work/tile/x_B03.jp2"
grep -q "not a JPEG 2000 file" "$work/err" || { echo "FAIL not-jp2: no reason given"; fails=$((fails + 1)); }

# Whole products: an L2A .SAFE folder (10 m and 20 m), its zip, and the product options.
safe="$work/S2A_MSIL2A_20250101T101021_N0400_R023_T33UUP_20250101T164454.SAFE"
img="$safe/GRANULE/L2A_T33UUP_A038058_20250101T101021/IMG_DATA"
mkdir -p "$img/R10m" "$img/R20m"
for b in B02 B03 B04; do
  cp "$data/tile/${stem}$b.jp2" "$img/R10m/${stem}${b}_10m.jp2"
  cp "$data/tiny/${stem}$b.jp2" "$img/R20m/${stem}${b}_20m.jp2"
done
cp "$data/tile/${stem}B08.jp2" "$img/R10m/${stem}B08_10m.jp2"
cp "$data/tiny/${stem}B08.jp2" "$img/R20m/${stem}B8A_20m.jp2"
echo '<x/>' >"$safe/MTD_MSIL2A.xml"
check product 0 "$safe"
[ -s "$img/R10m/${stem}48_10m.tif" ] || { echo "FAIL product: no 10 m composite"; fails=$((fails + 1)); }
check product-20m-false-colour 0 --false-colour --resolution 20 "$safe/MTD_MSIL2A.xml"
[ -s "$img/R20m/${stem}48_20m.tif" ] || { echo "FAIL product-20m: no 20 m composite"; fails=$((fails + 1)); }
rm "$img/R10m/${stem}48_10m.tif"
check product-granule 0 "$(dirname "$img")"
[ -s "$img/R10m/${stem}48_10m.tif" ] || { echo "FAIL product-granule: no 10 m composite"; fails=$((fails + 1)); }
check product-60m 1 --resolution 60 "$img"
expect product-60m-stdout "$work/out" "No bands at the resolution asked for in this product"
check option-for-band 2 --false-colour "$img/R10m/${stem}B04_10m.jp2"
check bad-resolution 2 --resolution 30 "$safe"
rm "$img"/R*/*48*
mkdir "$work/zips"
(cd "$work" && zip -qr zips/product.zip "$(basename "$safe")")
check zip 0 "$work/zips/product.zip"
[ "$(LC_ALL=C ls -A "$work/zips")" = "$(printf '%s\n' "${stem}48_10m.tif" product.zip)" ] ||
  { echo "FAIL zip: expected the composite beside the zip and nothing else"; ls -A "$work/zips"; fails=$((fails + 1)); }

check no-file 2
check two-files 2 a b
check both-formats 2 --png --tiff "$work/tile/${stem}B03.jp2"
check unknown-option 2 --fast "$work/tile/${stem}B03.jp2"
check cog-with-png 2 --cog --png "$work/tile/${stem}B03.jp2"
check preview-with-cog 2 --preview --cog "$work/tile/${stem}B03.jp2"
check reduce-not-a-number 2 --quicklook --reduce x "$work/tile/${stem}B03.jp2"
check reduce-last 2 "$work/tile/${stem}B03.jp2" --quicklook --reduce
check world-file-without-png 2 --world-file "$work/tile/${stem}B03.jp2"
check help 0 --help
grep -q "^usage: bandweave-cli" "$work/out" || { echo "FAIL help: no usage on stdout"; fails=$((fails + 1)); }

# --- Saving: a disk that fills up, names that were never ours, the longest name, Ctrl-C ----------
leftovers() {  # leftovers NAME DIR: no temporary file may stay behind
  if compgen -G "$2/.bw-*" >/dev/null; then echo "FAIL $1: temporary file left: $(ls -A "$2")"; fails=$((fails + 1)); fi
}
mkdir "$work/save"
cp "$data/tile/${stem}B02.jp2" "$data/tile/${stem}B03.jp2" "$data/tile/${stem}B04.jp2" "$work/save/"
# Files of the user's at the names the program once wrote to, and a link planted there.
echo "mine" >"$work/save/${stem}48.tif.part"
ln -s "$work/victim" "$work/save/${stem}48.png.part"
for format in tif png; do
  option=--tiff; [ $format = png ] && option=--png
  check "good-$format" 0 $option "$work/save/${stem}B03.jp2"
  cp "$work/save/${stem}48.$format" "$work/good.$format"
  # The kernel refuses writes past 4 KiB, as a full disk would, half-way through the save.
  ( trap '' XFSZ; ulimit -f 4; exec "$cli" $option "$work/save/${stem}B03.jp2" ) >"$work/out" 2>"$work/err"
  status=$?
  [ $status = 1 ] || { echo "FAIL full-$format: exit status $status"; fails=$((fails + 1)); }
  expect "full-$format-stdout" "$work/out" "Error saving file: $work/save/${stem}48.$format"
  cmp -s "$work/good.$format" "$work/save/${stem}48.$format" || { echo "FAIL full-$format: earlier output changed"; fails=$((fails + 1)); }
  leftovers "full-$format" "$work/save"
done
[ "$(cat "$work/save/${stem}48.tif.part")" = mine ] || { echo "FAIL part: the user's file changed"; fails=$((fails + 1)); }
[ ! -e "$work/victim" ] || { echo "FAIL part: a planted link was followed"; fails=$((fails + 1)); }

# The longest file names (255 bytes) still save: the output name is one byte shorter than the band's.
long=$(printf 'n%.0s' $(seq 248))
mkdir "$work/long"
for band in B02 B03 B04; do cp "$data/tile/${stem}$band.jp2" "$work/long/${long}$band.jp2"; done
check longest-name 0 "$work/long/${long}B02.jp2"
[ -s "$work/long/${long}48.tif" ] || { echo "FAIL longest-name: no output"; fails=$((fails + 1)); }

# Ctrl-C during a save ends the tool at once and leaves no temporary file. Job control puts the
# tool in a process group of its own, where SIGINT is not ignored as for a plain background job.
if [ -d "$data/large" ]; then
  mkdir "$work/big"
  cp "$data/large/${stem}B02.jp2" "$data/large/${stem}B03.jp2" "$data/large/${stem}B04.jp2" "$work/big/"
  set -m
  "$cli" --png "$work/big/${stem}B03.jp2" >"$work/out" 2>"$work/err" &
  pid=$!
  set +m
  interrupted=0
  for _ in $(seq 1 6000); do
    if compgen -G "$work/big/.bw-*" >/dev/null; then kill -INT $pid; interrupted=1; break; fi
    kill -0 $pid 2>/dev/null || break
    sleep 0.01
  done
  wait $pid
  status=$?
  if [ $interrupted = 0 ]; then echo "FAIL sigint: the save was never seen running"; fails=$((fails + 1))
  elif [ $status != 130 ]; then echo "FAIL sigint: exit status $status, expected 130"; fails=$((fails + 1)); fi
  leftovers sigint "$work/big"
  [ ! -e "$work/big/${stem}48.png" ] || { echo "FAIL sigint: an output appeared"; fails=$((fails + 1)); }
fi

# Ctrl-C while a product zip's job runs: the unpacked bands and their folder go with the tool.
if [ -d "$data/large" ]; then
  big="$work/bigzip"
  lsafe=S2B_MSIL1C_20250101T101021_N0511_R022_T33UUP_20250101T120000.SAFE
  limg="$big/$lsafe/GRANULE/L1C_T33UUP_A040000_20250101T101021/IMG_DATA"
  mkdir -p "$limg"
  cp "$data/large/${stem}B02.jp2" "$data/large/${stem}B03.jp2" "$data/large/${stem}B04.jp2" "$limg/"
  echo '<x/>' >"$big/$lsafe/MTD_MSIL1C.xml"
  (cd "$big" && zip -qr0 product.zip "$lsafe" && rm -rf "$lsafe")
  set -m
  "$cli" --png "$big/product.zip" >"$work/out" 2>"$work/err" &
  pid=$!
  set +m
  interrupted=0
  for _ in $(seq 1 6000); do
    if grep -q '^Processing green' "$work/err"; then kill -INT $pid; interrupted=1; break; fi
    kill -0 $pid 2>/dev/null || break
    sleep 0.01
  done
  wait $pid
  status=$?
  if [ $interrupted = 0 ]; then echo "FAIL zip-sigint: the job was never seen running"; fails=$((fails + 1))
  elif [ $status != 130 ]; then echo "FAIL zip-sigint: exit status $status, expected 130"; fails=$((fails + 1)); fi
  [ "$(ls -A "$big")" = product.zip ] || { echo "FAIL zip-sigint: left behind: $(ls -A "$big")"; fails=$((fails + 1)); }
fi

[ $fails = 0 ] && echo "bandweave-cli: all checks passed"
exit $((fails > 0))
