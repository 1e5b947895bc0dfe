#!/usr/bin/env bash
# Every test: the native suite (plain and under sanitizers), a short fuzz run, then the Windows suite under Wine (and Xvfb
# when there is no display). Exits non-zero on any failure; ends with the number of tests that skipped, and which.
# BANDWEAVE_REQUIRE_REAL_DATA=1 (set by CI) turns a missing real-data folder into failures instead of skips.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh all
[ -x scripts/make-testdata.sh ] && scripts/make-testdata.sh build/testdata

# Each suite's CTest output and its GoogleTest programs' XML reports, from which the skips are counted.
results=$PWD/build/test-results
rm -rf "$results"
mkdir -p "$results/native" "$results/native-asan" "$results/windows"
run_suite() {  # run_suite NAME XML-FOLDER CTEST-ARGS...
  local name=$1 xml=$2
  shift 2
  GTEST_OUTPUT="xml:$xml/" ctest "$@" 2>&1 | tee "$results/$name.log"
  return "${PIPESTATUS[0]}"
}

status=0
echo "== layers of src"
scripts/check-layers.sh || status=1
echo "== native tests"
run_suite native "$results/native" --test-dir build/native --output-on-failure -j2 || status=1
echo "== native tests under ASan and UBSan"
run_suite native-asan "$results/native-asan" --test-dir build/native-asan --output-on-failure -j2 || status=1

if [ -x scripts/fuzz.sh ]; then
  echo "== short fuzz run"
  BANDWEAVE_FUZZ_SECONDS=${BANDWEAVE_FUZZ_SECONDS:-10} scripts/fuzz.sh || status=1
fi

echo "== Windows tests under Wine"
. scripts/wine-env.sh
wine_session_start
trap wine_session_stop EXIT
# Wine maps the Unix root to drive Z:.
run_suite windows "Z:$results/windows" --test-dir build/windows --output-on-failure -j1 || status=1

scripts/count-skips.sh "$results"
exit $status
