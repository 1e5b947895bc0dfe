#!/usr/bin/env bash
# Every test: the native suite (plain and under sanitizers), a short fuzz run, then the Windows suite under Wine (and Xvfb
# when there is no display). Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh all
[ -x scripts/make-testdata.sh ] && scripts/make-testdata.sh build/testdata

status=0
echo "== native tests"
ctest --test-dir build/native --output-on-failure -j2 || status=1
echo "== native tests under ASan and UBSan"
ctest --test-dir build/native-asan --output-on-failure -j2 || status=1

if [ -x scripts/fuzz.sh ]; then
  echo "== short fuzz run"
  BANDWEAVE_FUZZ_SECONDS=${BANDWEAVE_FUZZ_SECONDS:-10} scripts/fuzz.sh || status=1
fi

echo "== Windows tests under Wine"
. scripts/wine-env.sh
wine_session_start
trap wine_session_stop EXIT
ctest --test-dir build/windows --output-on-failure -j1 || status=1
exit $status
