#!/usr/bin/env bash
# slurm-test.sh CLI GENSAMPLE SCRIPTS: bandweave-slurm on a Slurm cluster of the test's own.
# An archive of L1C and L2A products (folders, zips, one known by its metadata file, one damaged)
# under names a shell would misread runs as array tasks; the composites must match a local
# --jobs 2 run, the damaged product must fail the summary, and resubmissions run only what is left.
set -uo pipefail
if [ "$(id -u)" -ne 0 ]; then
  # munged and slurmd run as root here, as the cluster's SlurmUser.
  sudo -n true 2>/dev/null || { echo "slurm-test: needs root (or sudo without a password)"; exit 1; }
  exec sudo -n --preserve-env=PATH bash "$0" "$@"
fi
cli=$(realpath "$1") gensample=$(realpath "$2") submit=$(realpath "$3")/bandweave-slurm
here=$(cd "$(dirname "$0")" && pwd)
. "$here/slurm-cluster.sh"

work=$(mktemp -d)
fails=0
fail() { echo "FAIL $*"; fails=$((fails + 1)); }
finish() {
  cluster_down
  if [ $fails -gt 0 ] || [ "${1:-0}" != 0 ]; then
    for f in "$work"/runs*/*/summary.out; do [ -f "$f" ] && { echo "--- $f"; cat "$f"; }; done
    tail -n 30 "$work/cluster/log/slurmctld.log" "$work/cluster/log/slurmd.log" 2>/dev/null
  fi
  rm -rf "$work"
}
trap 'finish $?' EXIT
trap 'exit 130' INT TERM HUP

# --- The archive ------------------------------------------------------------------------------
bands() {  # bands DIR DATE: the four generated bands of one acquisition, 64 x 48
  "$gensample" "$1" 64 48 --stem "T33UUP_${2}T101021_" >/dev/null || { echo "gensample failed"; exit 1; }
}
l1c() {  # l1c SAFE DATE
  local img="$1/GRANULE/L1C_T33UUP_A040000_$2T101021/IMG_DATA"
  mkdir -p "$img" && bands "$img" "$2"
  echo '<?xml version="1.0"?><n1:Level-1C_User_Product/>' >"$1/MTD_MSIL1C.xml"
}
l2a() {  # l2a ROOT DATE: ROOT need not be called .SAFE, its metadata file makes it a product
  local r10="$1/GRANULE/L2A_T33UUP_A038058_$2T101021/IMG_DATA/R10m" b
  mkdir -p "$r10" && bands "$r10" "$2"
  for b in B02 B03 B04 B08; do mv "$r10/T33UUP_$2T101021_$b.jp2" "$r10/T33UUP_$2T101021_${b}_10m.jp2"; done
  echo '<?xml version="1.0"?><n1:Level-2A_User_Product/>' >"$1/MTD_MSIL2A.xml"
}
zipped() {  # zipped ZIP: the product folder(s) made in a scratch folder, zipped as downloaded
  (cd "$work/scratch" && zip -qr "$1" . && rm -rf ./*)
}
archive="$work/-archive x"
mkdir -p "$archive"/{'2025 01','$(touch PWNED)',zips,broken} "$work/scratch"
l1c "$archive/2025 01/S2B_MSIL1C_20250101T101021_N0511_R022_T33UUP_20250101T120000.SAFE" 20250101
l2a "$archive/\$(touch PWNED)/S2A_MSIL2A_20250106T101021_N0400_R023_T33UUP_20250106T164454.SAFE" 20250106
l1c "$work/scratch/S2B_MSIL1C_20250111T101021_N0511_R022_T33UUP_20250111T120000.SAFE" 20250111
zipped "$archive/zips/q'uo\"te.zip"
l2a "$work/scratch/S2A_MSIL2A_20250116T101021_N0400_R023_T33UUP_20250116T164454.SAFE" 20250116
zipped "$archive/zips/\`touch PWNED2\`.zip"
l2a "$archive/-unpacked L2A" 20250121
damaged="$archive/broken/S2B_MSIL1C_20250126T101021_N0511_R022_T33UUP_20250126T120000.SAFE"
l1c "$damaged" 20250126
head -c 300 "$damaged/GRANULE/L1C_T33UUP_A040000_20250126T101021/IMG_DATA/T33UUP_20250126T101021_B03.jp2" >"$work/cut"
mv "$work/cut" "$damaged/GRANULE/L1C_T33UUP_A040000_20250126T101021/IMG_DATA/T33UUP_20250126T101021_B03.jp2"

# The reference: the same archive, copied before anything ran, processed on this machine.
cp -a "$archive" "$work/copy"
"$cli" --jobs 2 --out "$work/local" -- "$work/copy" >"$work/local.out" 2>&1
[ $? = 1 ] || { fail "local run: expected exit 1 for the damaged product"; cat "$work/local.out"; }
[ "$(find "$work/local" -name '*48*.tif' | wc -l)" = 5 ] || { fail "local run: expected 5 composites"; ls -R "$work/local"; }

# Arrays of at most 3 tasks: the six jobs go in two arrays, the second waiting for the first.
cluster_up "$work/cluster" MaxArraySize=4 || { fail "the cluster did not come up"; exit 1; }
export BANDWEAVE_CLI=$cli
# Slurm would read a bare % in a log's path as a pattern: the runs folder has one.
runs="$work/runs 100%a"
mkdir "$runs"
cd "$work"
# slurm_submit NAME ARGS...: runs bandweave-slurm, keeps its output in $work/NAME.out, sets $status
# and $run (the submission's new folder, if any).
slurm_submit() {
  local name=$1 before
  shift
  before=$(ls "$runs")
  "$submit" --runs "$runs" "$@" >"$work/$name.out" 2>&1
  status=$?
  run=$(comm -13 <(echo "$before") <(ls "$runs") | head -n 1)
  [ -z "$run" ] || run="$runs/$run"
}
jobcomp() { cat "$work/cluster/log/jobcomp.txt" 2>/dev/null; }
# tasks_of RUN: the completion records of the submission's array tasks (every job but the last)
tasks_of() { jobcomp | grep -E " ArrayJobId=($(head -n -1 "$1/jobs" | paste -sd'|')) "; }

# --- What is refused before anything is submitted ---------------------------------------------
mkdir -p "$work/lf/a"$'\n'"b.SAFE"
slurm_submit lf "$work/lf"
{ [ $status = 2 ] && grep -q "line feed" "$work/lf.out" && [ -z "$run" ]; } ||
  { fail "a name with a line feed: exit $status, expected 2 and no submission"; cat "$work/lf.out"; }
slurm_submit threads -- "-archive x" --threads 3
{ [ $status = 2 ] && [ -z "$run" ]; } || { fail "--threads after the archive: exit $status, expected 2"; cat "$work/threads.out"; }
slurm_submit extra-input -- "-archive x" --out "$work/slurm out" "$work/copy"
{ [ $status = 2 ] && [ -z "$run" ]; } || { fail "a second input: exit $status, expected 2"; cat "$work/extra-input.out"; }

slurm_submit partition --partition nosuch -- "-archive x" --out "$work/slurm out"
{ [ $status = 1 ] && [ -z "$run" ] && grep -q "nothing submitted" "$work/partition.out" && [ -z "$(squeue -h)" ]; } ||
  { fail "a partition Slurm does not know: exit $status, expected 1 and nothing queued"; cat "$work/partition.out"; }

# --- First submission: every job; the archive's name starts with a dash ------------------------
slurm_submit first --cpus-per-task 1 --mem 300M --array-limit 2 -- "-archive x" --out "$work/slurm out"
[ $status = 0 ] && [ -n "$run" ] || { fail "first submission: exit $status"; cat "$work/first.out"; exit 1; }
first=$run
[ "$(grep -c '' "$first/list")" = 6 ] || { fail "first submission: expected 6 jobs"; cat "$first/list"; }
# While it runs, the same archive is not submitted twice.
slurm_submit again -- "-archive x" --out "$work/slurm out"
{ [ $status = 2 ] && grep -q "still queued or running" "$work/again.out" && [ -z "$run" ]; } ||
  { fail "a second submission while the first runs: exit $status"; cat "$work/again.out"; }
for _ in $(seq 600); do [ -f "$first/summary.status" ] && break; sleep 0.5; done
[ -f "$first/summary.status" ] || { fail "first submission: no summary after 300 s"; squeue; exit 1; }
# Slurm records a job's completion once its script has ended.
for _ in $(seq 60); do [ -z "$(squeue -h)" ] && break; sleep 0.5; done

[ "$(grep -c '' "$first/jobs")" = 3 ] || { fail "first submission: expected two arrays and a summary job"; cat "$first/jobs"; }
[ "$(tasks_of "$first" | wc -l)" = 6 ] || { fail "first submission: expected 6 array tasks"; jobcomp; }
[ "$(tasks_of "$first" | grep -c ' Tres=cpu=1,mem=300M,')" = 6 ] || { fail "first submission: tasks without the CPUs and memory asked for"; jobcomp; }
[ "$(tasks_of "$first" | grep -c ' ExitCode=1:0 ')" = 1 ] || { fail "first submission: expected one failed task"; jobcomp; }
summary_id=$(tail -n 1 "$first/jobs")
jobcomp | grep "^JobId=$summary_id " | grep -q ' ExitCode=1:0 ' ||
  { fail "the summary job did not exit 1"; jobcomp; }
grep -q $'^failed\t.*/broken/S2B_MSIL1C_20250126' "$first/summary.out" ||
  { fail "the summary does not name the damaged product"; cat "$first/summary.out"; }
grep -qx "5 written, 0 skipped, 1 failed of 6 jobs; 0 did not finish" "$first/summary.out" ||
  { fail "the summary's counts"; cat "$first/summary.out"; }
[ "$(grep -c '' "$first/report.jsonl")" = 6 ] || { fail "expected 6 report records"; cat "$first/report.jsonl"; }

# The same files as the local run wrote, and the same samples in them.
[ "$(cd "$work/local" && find . -type f | sort)" = "$(cd "$work/slurm out" && find . -type f | sort)" ] ||
  { fail "the cluster wrote other files than the local run"; ls -R "$work/local" "$work/slurm out"; }
for tif in "$work/local"/*.tif; do
  name=$(basename "$tif")
  gdal_translate -q -of ENVI "$tif" "$work/a.raw" && gdal_translate -q -of ENVI "$work/slurm out/$name" "$work/b.raw" &&
    [ "$(gdalinfo "$tif" | grep -c '^Band ')" = 3 ] && cmp -s "$work/a.raw" "$work/b.raw" ||
    fail "the cluster's $name differs from the local run's"
done
[ -z "$(find "$work" "$archive" -name 'PWNED*')" ] || fail "a name was run as a command"

# --- Second submission: only the damaged product is left, and fails again ----------------------
slurm_submit second --partition debug --wait -- "-archive x" --out "$work/slurm out"
[ $status = 1 ] || { fail "second submission: exit $status, expected 1"; cat "$work/second.out"; }
if [ -n "$run" ]; then
  [ "$(cat "$run/list")" = "$damaged" ] || { fail "second submission: the list is not the damaged product alone"; cat "$run/list"; }
  [ "$(tasks_of "$run" | grep -c ' ExitCode=1:0 ')" = 1 ] && [ "$(tasks_of "$run" | wc -l)" = 1 ] ||
    { fail "second submission: expected exactly one failing task"; jobcomp; }
  grep -q "0 written, 0 skipped, 1 failed of 1 jobs" "$work/second.out" || { fail "second submission: summary"; cat "$work/second.out"; }
else
  fail "second submission: nothing submitted"; cat "$work/second.out"
fi

# --- Third submission: nothing is left once the damaged product is gone ------------------------
rm -rf "$archive/broken"
records=$(jobcomp | wc -l)
slurm_submit third -- "-archive x" --out "$work/slurm out"
{ [ $status = 0 ] && [ -z "$run" ] && grep -q "nothing left to do" "$work/third.out"; } ||
  { fail "third submission: exit $status, expected 0, nothing submitted"; cat "$work/third.out"; }
sleep 1
[ "$(jobcomp | wc -l)" = "$records" ] && [ -z "$(squeue -h)" ] || { fail "third submission ran a job"; jobcomp; }

[ $fails = 0 ] && echo "bandweave-slurm: all checks passed"
exit $((fails > 0))
