# shellcheck shell=bash disable=SC2034,SC2154  # sets variables for its callers, reads their $work
# Sourced by the benchmark scripts: the measuring they share, written once. It brings in
# scripts/lib.sh and sets BANDWEAVE_CACHE; each script sets `work`, a folder of its run's own,
# before calling any of these.
#   now                        seconds since the epoch, to the nanosecond
#   quiet COMMAND...           runs a build step, showing its output only when it fails
#   bench_native [TARGET...]   configures and builds the Release native tree $nb
#                              (BANDWEAVE_NATIVE_BUILD, default build/bench-native): bandweave-cli
#                              and the TARGETs; sets cli to the console tool in it
#   bench_runs ALL             sets runs to those of ALL that BANDWEAVE_BENCH_RUNS names (all of
#                              them without it); exits the script when it names none
#   has PREFIX                 whether a run whose name starts with PREFIX is among $runs
#   bench_time COMMAND...      runs COMMAND once, its output in $work/out and $work/err, and sets
#                              bench_wall (wall seconds) and bench_kb (GNU time's peak resident
#                              KiB); returns COMMAND's status
#   bench_written NAME OUTPUT  whether OUTPUT was written; if not, says so on stderr with the end
#                              of $work/err
#   bench_tile                 sets size (BANDWEAVE_BENCH_SIZE, default 10980), tile (the generated
#                              tile's cached folder) and stem (its bands' names before B0x.jp2)
#   bench_make_tile            generates the tile's three bands unless they are cached
#   bench_link_tile            links them into $work/tile, where the tools write beside them apart
#                              from any other run's outputs; sets dropped (the green band)

# shellcheck source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
bandweave_cache

now() { date +%s.%N; }

quiet() { "$@" >"$work/step.log" 2>&1 || { cat "$work/step.log" >&2; return 1; }; }

# shellcheck disable=SC2120  # the targets are optional
bench_native() {
  nb=${BANDWEAVE_NATIVE_BUILD:-build/bench-native}
  # Configure every time: a layer added since the tree was made is picked up only then.
  quiet cmake -S . -B "$nb" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBANDWEAVE_TEST_DATA="$PWD/build/testdata" || return
  quiet cmake --build "$nb" -j2 --target bandweave-cli "$@" || return
  cli=$PWD/$nb/src/cli/bandweave-cli
}

bench_runs() {
  local all=$1 run
  runs=""
  for run in ${BANDWEAVE_BENCH_RUNS:-$all}; do [[ " $all " == *" $run "* ]] && runs+=" $run"; done
  [ -n "$runs" ] || exit 0
}

has() { [[ " $runs " == *" $1"* ]]; }

bench_time() {
  local t0 t1 rc=0
  t0=$(now)
  /usr/bin/time -f %M -o "$work/rss" "$@" >"$work/out" 2>"$work/err" || rc=$?
  t1=$(now)
  bench_wall=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
  bench_kb=$(tail -1 "$work/rss" 2>/dev/null || true)
  return $rc
}

bench_written() {
  [ -s "$2" ] && return 0
  echo "$1: no output written:" >&2
  tr -d '\r' <"$work/err" | tail -5 >&2
  return 1
}

bench_tile() {
  size=${BANDWEAVE_BENCH_SIZE:-10980}
  tile=$BANDWEAVE_CACHE/bench-tile-$size
  stem=T33UUP_20250101T101021_
}

bench_make_tile() {
  mkdir -p "$BANDWEAVE_CACHE"
  # One generator at a time per tile: another benchmark may be making the same one.
  flock "$tile.lock" scripts/make-sample.sh "$tile" "$size" B02 B03 B04
}

bench_link_tile() {
  local band
  mkdir "$work/tile"
  for band in B02 B03 B04; do ln -s "$tile/$stem$band.jp2" "$work/tile/$stem$band.jp2"; done
  dropped=$work/tile/${stem}B03.jp2
}
