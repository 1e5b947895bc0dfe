#!/usr/bin/env bash
# summary-test.sh SCRIPTS: the summary job's reading of a run folder, without a cluster: counts from
# the report whatever its names hold, tasks that failed before writing a record, tasks that never
# ended, and the exit status.
set -uo pipefail
summary=$(realpath "$1")/bandweave-slurm-summary
run=$(mktemp -d)
trap 'rm -rf "$run"' EXIT
fails=0
fail() { echo "FAIL $*"; cat "$run/out"; fails=$((fails + 1)); }
mkdir "$run/logs" "$run/tasks"

# Five jobs: written, skipped, failed with a record, failed before any record, never ended.
printf '%s\n' /a/one.SAFE '/a/two "status":"failed".SAFE' /a/three.zip /a/four.SAFE /a/five.SAFE >"$run/list"
cat >"$run/report.jsonl" <<'EOF'
{"input":"/a/one.SAFE","message":"","output":"/o/one_48.tif","peak_memory_bytes":1,"seconds":0.5,"status":"written"}
{"input":"/a/two \"status\":\"failed\".SAFE","message":"x\",\"status\":\"failed","output":"/o/two_48.tif","peak_memory_bytes":null,"seconds":0.0,"status":"skipped"}
{"input":"/a/three.zip","message":"Error loading green","output":"/a/three.zip","peak_memory_bytes":2,"seconds":0.1,"status":"failed"}
EOF
for n in 1 2; do echo 0 >"$run/tasks/$n"; done
echo 1 >"$run/tasks/3"
echo 2 >"$run/tasks/4"
echo "Error loading green" >"$run/logs/3.out"
echo "bandweave-cli: no such file" >"$run/logs/4.out"
: >"$run/logs/slurm-7_1.out"
echo "slurmstepd: error: *** JOB 7 CANCELLED DUE TO TIME LIMIT ***" >"$run/logs/slurm-7_5.out"

"$summary" "$run" >"$run/out" 2>&1
status=$?
[ $status = 1 ] || fail "exit $status with failed and unfinished tasks, expected 1"
[ "$(cat "$run/summary.status" 2>/dev/null)" = 1 ] || fail "summary.status does not say 1"
grep -qx "1 written, 1 skipped, 2 failed of 5 jobs; 1 did not finish" "$run/out" || fail "the counts"
[ "$(grep -c $'^failed\t' "$run/out")" = 2 ] || fail "expected two failed lines"
grep -q $'^failed\t/a/three.zip\texit 1' "$run/out" || fail "the failed task with a record"
grep -q $'^failed\t/a/four.SAFE\texit 2' "$run/out" || fail "the task that failed before writing a record"
grep -q $'^unfinished\t/a/five.SAFE\t' "$run/out" || fail "the task that never ended"
grep -q "^    Error loading green$" "$run/out" || fail "the failed task's log is not quoted"
[ ! -e "$run/logs/slurm-7_1.out" ] && [ -s "$run/logs/slurm-7_5.out" ] || fail "Slurm's logs: only the empty ones go"

# Everything done: exit 0; and a report that is missing altogether counts nothing.
rm -f "$run/tasks/"* "$run/report.jsonl" "$run/summary.status"
printf '%s\n' /a/one.SAFE >"$run/list"
echo 0 >"$run/tasks/1"
"$summary" "$run" >"$run/out" 2>&1
status=$?
[ $status = 0 ] || fail "exit $status when every task succeeded"
grep -qx "0 written, 0 skipped, 0 failed of 1 jobs; 0 did not finish" "$run/out" || fail "the counts without a report"
[ "$(cat "$run/summary.status" 2>/dev/null)" = 0 ] || fail "summary.status does not say 0"

[ $fails = 0 ] && echo "bandweave-slurm-summary: all checks passed"
exit $((fails > 0))
