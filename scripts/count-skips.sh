#!/usr/bin/env bash
# Prints how many tests skipped in a test run, and which: the GoogleTest cases reported as
# skipped in the XML reports below RESULTS/SUITE/, and the CTest tests RESULTS/SUITE.log calls
# skipped (a script's exit status 77).
#   scripts/count-skips.sh RESULTS
set -uo pipefail
results=$1
total=0
lines=()
for log in "$results"/*.log; do
  [ -e "$log" ] || continue
  suite=$(basename "$log" .log)
  while IFS= read -r name; do
    lines+=("  $suite: $name")
    total=$((total + 1))
  done < <(
    # <testcase name="Case" ... result="skipped" ... classname="Suite"> (one element per line)
    cat "$results/$suite"/*.xml 2>/dev/null | grep 'result="skipped"' |
      sed -n 's/.*<testcase name="\([^"]*\)".* classname="\([^"]*\)".*/\2.\1/p'
    # "  7/31 Test  #7: bandweave-cli-gis-test ...***Skipped   0.02 sec"
    grep -E '\*\*\*Skipped|\*\*\*Not Run' "$log" | sed -n 's/.*Test *#[0-9]*: \([^ ]*\) .*/\1/p'
  )
done
echo "== skipped tests: $total"
for line in "${lines[@]+"${lines[@]}"}"; do echo "$line"; done
