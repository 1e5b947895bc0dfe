#!/usr/bin/env bash
# bandweave-cli CLI DATA: batches. A folder of mixed products searched, one line a job and the
# summary, resume and --force, --list and --from, --out and its clashes, the report with hostile
# names, and a batch interrupted in the middle of a save and run again.
set -uo pipefail
cli=$(cd "$(dirname "$1")" && pwd)/$(basename "$1") data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0
stem=T33UUP_20250101T101021_
fail() { echo "FAIL $*"; fails=$((fails + 1)); }
run() {  # run NAME EXPECTED-STATUS ARGS...: stdout in $work/out, stderr in $work/err
  local name=$1 want=$2
  shift 2
  "$cli" "$@" >"$work/out" 2>"$work/err"
  local got=$?
  [ "$got" = "$want" ] || { fail "$name: exit $got, expected $want"; cat "$work/out" "$work/err"; }
}
summary() {  # summary NAME W S F: the last stderr line is the summary with these counts
  tail -n 1 "$work/err" | grep -qE "^$2 written, $3 skipped, $4 failed in [0-9]+\.[0-9] s$" ||
    { fail "$1: summary"; cat -A "$work/err"; }
}
l1c() {  # l1c FOLDER DATE: an L1C product of the generated tile
  local safe="$1/S2B_MSIL1C_${2}T101021_N0511_R022_T33UUP_${2}T120000.SAFE"
  local img="$safe/GRANULE/L1C_T33UUP_A040000_${2}T101021/IMG_DATA"
  mkdir -p "$img" "$safe/GRANULE/L1C_T33UUP_A040000_${2}T101021/QI_DATA"
  for b in B02 B03 B04 B08; do cp "$data/tile/${stem}$b.jp2" "$img/T33UUP_${2}T101021_$b.jp2"; done
  cp "$data/tile/${stem}B04.jp2" "$safe/GRANULE/L1C_T33UUP_A040000_${2}T101021/QI_DATA/MSK_DETFOO_B04.jp2"
  echo '<x/>' >"$safe/MTD_MSIL1C.xml"
  echo "$safe"
}

# --- An archive: products in folders of their own, a zip, a damaged zip, loose bands, a PDF ----
arch="$work/archive"
p1=$(l1c "$arch/2025" 20250105)
p2=$(l1c "$arch/2025" 20250101)
mkdir -p "$arch/zips" "$arch/loose"
p3=$(l1c "$work/tmp" 20250110)
(cd "$work/tmp" && zip -qr "$arch/zips/S2B_MSIL1C_20250110.zip" "$(basename "$p3")")
echo "not a zip" >"$arch/zips/S2B_MSIL1C_damaged.zip"
for b in B02 B03 B04; do cp "$data/tile/${stem}$b.jp2" "$arch/loose/"; done
echo "%PDF" >"$arch/loose/notes.pdf"
o1="$p1/GRANULE/L1C_T33UUP_A040000_20250105T101021/IMG_DATA/T33UUP_20250105T101021_48.tif"
o2="$p2/GRANULE/L1C_T33UUP_A040000_20250101T101021/IMG_DATA/T33UUP_20250101T101021_48.tif"
o3="$arch/zips/T33UUP_20250110T101021_48.tif"
o4="$arch/loose/${stem}48.tif"

run search 1 --jobs 2 --report "$work/report.jsonl" "$arch"
expected=$(printf '%s\n' "written	$p2" "written	$p1" "written	$o4" "failed	$arch/zips/S2B_MSIL1C_damaged.zip" "written	$o3")
# Two at once end in any order; each job's line is whole, and there is one a job.
[ "$(cut -f1,2 "$work/out" | sed "s|^written	$o1\$|written	$p1|; s|^written	$o2\$|written	$p2|" | sort)" = "$(echo "$expected" | sort)" ] ||
  { fail "search: lines"; cat -A "$work/out"; }
grep -qxF "failed	$arch/zips/S2B_MSIL1C_damaged.zip	Damaged or incomplete zip: S2B_MSIL1C_damaged.zip" "$work/out" ||
  fail "search: the failed line carries the job's message"
[ "$(wc -l <"$work/out")" = 5 ] || fail "search: not one line a job"
summary search 4 0 1
for o in "$o1" "$o2" "$o3" "$o4"; do [ -s "$o" ] || fail "search: no $o"; done
[ "$(grep -c '^started ' "$work/err")" = 5 ] || fail "search: a start line a job into a file"
if grep -q $'\r' "$work/err"; then fail "search: a progress bar into a file"; fi
python3 - "$work/report.jsonl" <<'PY' || fail "search: report"
import json, sys
lines = open(sys.argv[1], 'rb').read().split(b'\n')
assert lines[-1] == b'', 'no line end'
records = [json.loads(l) for l in lines[:-1]]
assert len(records) == 5, len(records)
for r in records:
    assert list(r) == ['input', 'output', 'status', 'message', 'seconds', 'peak_memory_bytes'], list(r)
    assert r['status'] in ('written', 'failed') and r['seconds'] >= 0
    assert r['peak_memory_bytes'] is None or r['peak_memory_bytes'] > 1 << 20
assert sum(r['status'] == 'failed' for r in records) == 1
PY

# The same again: everything done is skipped without a band read; the damaged zip is tried again.
sleep 0.01
run rerun 1 --report "$work/report.jsonl" "$arch"
[ "$(grep -c '^skipped	' "$work/out")" = 4 ] || { fail "rerun: not all skipped"; cat "$work/out"; }
grep -q "^failed	$arch/zips/S2B_MSIL1C_damaged.zip" "$work/out" || fail "rerun: the failed job was not retried"
summary rerun 0 4 1
[ "$(wc -l <"$work/report.jsonl")" = 10 ] || fail "rerun: report not appended"
rm "$arch/zips/S2B_MSIL1C_damaged.zip"
run rerun-clean 0 "$arch"
summary rerun-clean 0 4 0
# A source newer than its output, or other output options, and the job runs again.
touch "$arch/loose/${stem}B03.jp2"
run touched 0 "$arch"
grep -qxF "written	$o4" "$work/out" || fail "touched: the job with a newer band did not run"
summary touched 1 3 0
run force 0 --force "$p1" "$p2"
summary force 2 0 0
run options 0 --quicklook "$arch/2025"
summary options 2 0 0
[ -s "${o1%.tif}_ql.png" ] || fail "options: no quicklook"
run options-again 0 --quicklook "$arch/2025"
summary options-again 0 2 0
run options-fewer 0 "$arch/2025"
summary options-fewer 2 0 0

# --- --list and --from -------------------------------------------------------------------------
rm "$o2"
run list 0 --list "$arch"
[ "$(cat "$work/out")" = "$p2" ] || { fail "list: only what is left"; cat "$work/out"; }
[ ! -e "$o2" ] || fail "list: ran a job"
run list-force 0 --list --force "$arch"
[ "$(wc -l <"$work/out")" = 4 ] || fail "list-force: every job"
printf '# what is left\n\n%s\n' "$(cat "$work/out")" >"$work/list"
run from 0 --from "$work/list"
summary from 1 3 0
cat "$work/list" | "$cli" --from - --force >"$work/out" 2>"$work/err" || fail "from-stdin: exit $?"
summary from-stdin 4 0 0

# --- --out: the archive stays as it was -------------------------------------------------------
find "$arch" -type f | sort >"$work/before"
run out 0 --out "$work/out-dir/new" --quicklook "$p1" "$arch/loose"
# A zip's quicklook is made while its bands are unpacked.
run out-zip 0 --out "$work/out-dir/new" --quicklook "$arch/zips/S2B_MSIL1C_20250110.zip"
for f in T33UUP_20250105T101021_48.tif T33UUP_20250105T101021_48_ql.png "${stem}48.tif" "${stem}48_ql.png" \
  T33UUP_20250110T101021_48.tif T33UUP_20250110T101021_48_ql.png; do
  [ -s "$work/out-dir/new/$f" ] || { fail "out: $f not written into the folder"; ls -R "$work/out-dir"; }
done
[ "$(ls -A "$work/out-dir/new" | wc -l)" = 6 ] || { fail "out: more than the outputs"; ls -A "$work/out-dir/new"; }
run out-again 0 --out "$work/out-dir/new" --quicklook "$p1" "$arch/loose"
summary out-again 0 2 0
# A zip's preview too, its unpacked bands gone after it.
run preview-zip 0 --out "$work/out-dir/preview" --preview --reduce 1 "$arch/zips/S2B_MSIL1C_20250110.zip"
[ "$(ls -A "$work/out-dir/preview")" = T33UUP_20250110T101021_48_ql.png ] ||
  { fail "preview-zip: not the preview alone"; ls -A "$work/out-dir/preview"; }
[ "$(find "$arch" -type f | sort)" = "$(cat "$work/before")" ] || fail "out: the archive changed"
# A product folder and its own zip write one name there: refused before anything is written.
cp "$arch/zips/S2B_MSIL1C_20250110.zip" "$work/tmp/"
run clash 2 --out "$work/clash" "$p3" "$work/tmp/S2B_MSIL1C_20250110.zip"
grep -qF "$work/tmp/S2B_MSIL1C_20250110.zip and $p3 would both write $work/clash/T33UUP_20250110T101021_48.tif" "$work/err" ||
  { fail "clash: message"; cat "$work/err"; }
[ ! -e "$work/clash" ] || fail "clash: something was written"

# --- Usage errors before anything runs --------------------------------------------------------
run named-pdf 2 "$p1" "$arch/loose/notes.pdf"
grep -q "not a JPEG 2000 file" "$work/err" || fail "named-pdf: reason"
run nothing-readable 2 "$work/nowhere" "$work/nothere"
grep -q "no such file" "$work/err" || fail "nothing-readable: reason"
mkdir "$work/empty"
run empty-folder 2 "$work/empty"
run bad-jobs 2 --jobs 0 "$arch"
ln -s "$work/victim" "$work/link"
run report-link 2 --report "$work/link" "$p1" "$p2"
[ ! -e "$work/victim" ] || fail "report-link: followed a planted link"

# --- Hostile names: every record valid JSON ---------------------------------------------------
hostile="$work/hostile"
mkdir -p "$hostile"
for name in 'quo"te' 'back\slash' $'tab\there' $'ctl\001x' $'bad\xff\xfeutf8' '-dash' '$(touch pwned)'; do
  mkdir -p "$hostile/$name"
  for b in B02 B03 B04; do cp "$data/tile/${stem}$b.jp2" "$hostile/$name/"; done
done
mkdir -p "$hostile/missing-green"
cp "$data/tile/${stem}B04.jp2" "$data/tile/${stem}B02.jp2" "$hostile/missing-green/"
(cd "$work" && run hostile 1 --jobs 2 --report "$work/hostile.jsonl" hostile)
summary hostile 7 0 1
[ ! -e "$work/pwned" ] || fail "hostile: a name was run as a command"
grep -qF "failed	hostile/missing-green/${stem}48.tif	Error loading green" "$work/out" || { fail "hostile: message"; cat "$work/out"; }
python3 - "$work/hostile.jsonl" <<'PY' || fail "hostile: report"
import json, sys
records = [json.loads(l) for l in open(sys.argv[1], 'rb').read().split(b'\n')[:-1]]
assert len(records) == 8, len(records)
inputs = ''.join(r['input'] for r in records)
for part in ('quo"te', 'back\\slash', 'tab\there', 'ctl\x01x', 'bad\ufffd\ufffdutf8', '-dash'):
    assert part in inputs, part
PY

# --- Interrupted in the middle of a save, then run again --------------------------------------
if [ -d "$data/large" ]; then
  big="$work/big"
  for d in 20250201 20250202; do
    mkdir -p "$big/$d"
    for b in B02 B03 B04; do cp "$data/large/${stem}$b.jp2" "$big/$d/"; done
  done
  set -m
  "$cli" --png "$big" >"$work/out" 2>"$work/err" &
  pid=$!
  set +m
  interrupted=0
  for _ in $(seq 1 6000); do
    if compgen -G "$big/*/.bw-*" >/dev/null; then kill -INT -- -$pid; interrupted=1; break; fi
    kill -0 $pid 2>/dev/null || break
    sleep 0.01
  done
  wait $pid
  status=$?
  if [ $interrupted = 0 ]; then fail "interrupt: no save was seen running"
  elif [ $status != 130 ]; then fail "interrupt: exit status $status, expected 130"; cat "$work/err"; fi
  compgen -G "$big/*/.bw-*" >/dev/null && fail "interrupt: a temporary file was left"
  [ ! -e "$big/20250201/${stem}48.png" ] || fail "interrupt: an output of the interrupted job appeared"
  grep -q "skipped, .* failed in" "$work/err" || fail "interrupt: no summary"
  run interrupt-rerun 0 --png "$big"
  summary interrupt-rerun 2 0 0
  run interrupt-third 0 --png "$big"
  summary interrupt-third 0 2 0
fi

# --- On a terminal: one bar, no start lines ---------------------------------------------------
if command -v script >/dev/null; then
  script -qec "$(printf '%q ' "$cli" --force "$arch/2025")" /dev/null >"$work/tty" 2>&1
  grep -q '2/2' "$work/tty" || { fail "tty: no bar"; cat -A "$work/tty"; }
  if grep -q '^started' "$work/tty"; then fail "tty: start lines on a terminal"; fi
  tr '\r' '\n' <"$work/tty" | grep -qE '^2 written, 0 skipped, 0 failed in' || { fail "tty: summary"; cat -A "$work/tty"; }
fi

[ $fails = 0 ] && echo "bandweave-cli batches: all checks passed"
exit $((fails > 0))
