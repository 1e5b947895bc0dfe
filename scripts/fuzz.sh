#!/usr/bin/env bash
# Builds the libFuzzer targets of the drop-data readers, the JPEG 2000 header reader and a zip's entry names with clang (ASan + UBSan) and runs each
# for BANDWEAVE_FUZZ_SECONDS seconds (default 60), starting from the seeds in fuzz/corpus/.
# New inputs go to a scratch corpus under build/, never into the source tree.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${BANDWEAVE_FUZZ_SECONDS:-60}
dir=build/fuzz
if [ ! -f $dir/build.ninja ]; then
  CC=clang CXX=clang++ cmake -S . -B $dir -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBANDWEAVE_FUZZ=ON -DBANDWEAVE_TESTS=OFF >/dev/null
fi
# Quiet when it builds; the compiler's words when it does not.
if ! ninja -C $dir -j2 fuzzers >$dir/build.log 2>&1; then
  tail -40 $dir/build.log
  exit 1
fi
status=0
for target in fuzz_dropfiles fuzz_namelists fuzz_cida fuzz_jp2geo fuzz_productzip; do
  work=$dir/corpus/$target
  mkdir -p "$work" $dir/artifacts
  echo "-- $target (${seconds}s)"
  if ! $dir/fuzz/$target -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 \
      -artifact_prefix=$dir/artifacts/$target- "$work" fuzz/corpus/$target >$dir/$target.log 2>&1; then
    status=1
    tail -40 $dir/$target.log
  else
    grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' $dir/$target.log || true
  fi
done
exit $status
