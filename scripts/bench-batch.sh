#!/usr/bin/env bash
# Batch benchmark (not a test; a few minutes). Prints wall seconds and ratios for:
#   batch-j2      bandweave-cli --jobs 2 over 8 copies of the real 60 m L2A product, each in a
#                 folder of its own, against GNU parallel -j2 running one bandweave-cli per
#                 product on the same machine in the same run (target: at most 1.0 x)
#   rerun-1000    a second run over an archive of 1000 small generated products whose jobs are
#                 all done: under 2 s, and (with strace) not one band file opened
#   threads       --jobs 2 --threads 1 against --jobs 1 --threads 2 on the same 8 products
# Each timing is the median of BENCH_REPEAT runs (default 3), the commands taking turns.
#   BANDWEAVE_NATIVE_BUILD: the build tree (default build/native); BANDWEAVE_REAL_DATA: the real
#   band files (default ../shared/data/s2-real beside the project).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
build=${BANDWEAVE_NATIVE_BUILD:-build/native}
real=${BANDWEAVE_REAL_DATA:-$top/../shared/data/s2-real}
repeat=${BENCH_REPEAT:-3}
product=$real/l2a_T29UNU_20221005_unmodified
if [ ! -f "$product/T29UNU_20221005T115411_B04_60m.jp2" ]; then
  echo "bench-batch: skipped, no real L2A product in $real"
  exit 0
fi
command -v parallel >/dev/null || { echo "bench-batch: GNU parallel missing (scripts/install-deps.sh)"; exit 1; }
[ -x "$build/src/cli/bandweave-cli" ] || nice cmake --build "$build" --target bandweave-cli >/dev/null
cli=$top/$build/src/cli/bandweave-cli
work=$(mktemp -d "${TMPDIR:-/tmp}/bandweave-bench-batch.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Eight products as ESA lays them out, each its own copy of the 60 m bands.
for k in 1 2 3 4 5 6 7 8; do
  safe=$work/archive/S2A_MSIL2A_20221005T115411_N0400_R023_T29UNU_2022100${k}T164454.SAFE
  r60=$safe/GRANULE/L2A_T29UNU_A038058_20221005T115411/IMG_DATA/R60m
  mkdir -p "$r60"
  for b in B02 B03 B04 B8A; do cp "$product/T29UNU_20221005T115411_${b}_60m.jp2" "$r60/"; done
  cp "$product/MTD_MSIL2A.xml" "$safe/"
done

seconds() {  # seconds COMMAND...: wall seconds of one run, output thrown away
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }' 
}
median() { sort -g | awk '{ v[NR] = $1 } END { printf "%.2f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
compare() {  # compare NAME-A NAME-B 'COMMAND A' 'COMMAND B': medians of turns, then the ratio
  local a=() b=() k
  for k in $(seq "$repeat"); do
    a+=("$(seconds bash -c "$3")")
    b+=("$(seconds bash -c "$4")")
  done
  ma=$(printf '%s\n' "${a[@]}" | median)
  mb=$(printf '%s\n' "${b[@]}" | median)
  printf '%-28s %6.2f s\n%-28s %6.2f s\n%-28s %6.2f x\n' "$1" "$ma" "$2" "$mb" "ratio" "$(awk -v a="$ma" -v b="$mb" 'BEGIN { print a / b }')"
}

echo "== 8 real 60 m L2A products, $(nproc) cores"
compare "bandweave-cli --jobs 2" "parallel -j2 bandweave-cli" \
  "'$cli' --force --jobs 2 '$work/archive'" \
  "ls -d '$work/archive'/*.SAFE | parallel -j2 '$cli' {}"
batch=$ma parallel=$mb
compare "--jobs 2 --threads 1" "--jobs 1 --threads 2" \
  "'$cli' --force --jobs 2 --threads 1 '$work/archive'" \
  "'$cli' --force --jobs 1 --threads 2 '$work/archive'"

echo "== a rerun over 1000 finished jobs"
tiny=$top/build/testdata/tiny
[ -f "$tiny/T33UUP_20250101T101021_B04.jp2" ] || scripts/make-testdata.sh build/testdata >/dev/null
for k in $(seq -w 1 1000); do
  safe=$work/many/S2B_MSIL1C_20250101T101021_N0511_R022_T33UUP_2025$k.SAFE
  img=$safe/GRANULE/L1C_T33UUP_A040000_20250101T101021/IMG_DATA
  mkdir -p "$img"
  for b in B02 B03 B04; do ln "$tiny/T33UUP_20250101T101021_$b.jp2" "$img/T33UUP_20250101T101021_$b.jp2"; done
  echo '<x/>' >"$safe/MTD_MSIL1C.xml"
done
"$cli" --jobs 2 "$work/many" >/dev/null 2>"$work/first.log" || { tail -3 "$work/first.log"; exit 1; }
times=()
for k in $(seq "$repeat"); do times+=("$(seconds "$cli" "$work/many")"); done
rerun=$(printf '%s\n' "${times[@]}" | median)
"$cli" "$work/many" 2>&1 >/dev/null | tail -n 1
printf '%-28s %6.2f s\n' "rerun of 1000 done jobs" "$rerun"
opened=unknown
if command -v strace >/dev/null; then
  strace -f -e trace=open,openat -o "$work/trace" "$cli" "$work/many" >/dev/null 2>&1 || true
  opened=$(grep -c '\.jp2"' "$work/trace" || true)
  printf '%-28s %6s\n' "band files opened" "$opened"
fi

echo "== targets"
check() { if [ "$1" = 1 ]; then echo "PASS $2"; else echo "MISS $2"; fi; }
check "$(awk -v a="$batch" -v b="$parallel" 'BEGIN { print (a <= b) }')" \
  "batch --jobs 2 at most 1.0 x parallel -j2 ($(awk -v a="$batch" -v b="$parallel" 'BEGIN { printf "%.2f", a / b }') x)"
check "$(awk -v a="$rerun" 'BEGIN { print (a < 2) }')" "rerun of 1000 done jobs under 2 s ($rerun s)"
[ "$opened" = unknown ] || check "$([ "$opened" = 0 ] && echo 1 || echo 0)" "rerun reads no band ($opened opened)"
