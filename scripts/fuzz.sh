#!/usr/bin/env bash
# libFuzzer runs of the four fuzz targets of fuzz/, built with the "fuzz"
# preset (clang, AddressSanitizer, UndefinedBehaviorSanitizer):
#   scripts/fuzz.sh smoke                  every target for about a minute on its saved corpus
#                                          (seeds, fuzz/corpus/ and fuzz/regressions/); non-zero on a finding
#   scripts/fuzz.sh long TARGET SECONDS [RUNS]
#                                          one target for SECONDS (or until RUNS executions), its corpus kept
#                                          and grown in build/fuzz/work/TARGET
#   scripts/fuzz.sh replay TARGET FILE...  runs the given inputs once, to reproduce a finding
# Targets: image_analysis member_expansion machine_detection date_version.
# A finding lands in build/fuzz/findings/TARGET/; once it is mended, keep the
# input under fuzz/regressions/TARGET/ so every build replays it.
set -euo pipefail
cd "$(dirname "$0")/.."

TARGETS=(image_analysis member_expansion machine_detection date_version)
BUILD=build/fuzz
SMOKE_SECONDS=${FUZZ_SMOKE_SECONDS:-60}

max_len() {
  case "$1" in
    image_analysis) echo 300000 ;;
    member_expansion) echo 140000 ;;
    machine_detection) echo 80000 ;;
    date_version) echo 512 ;;
  esac
}

known_target() {
  local t
  for t in "${TARGETS[@]}"; do [[ "$t" == "$1" ]] && return 0; done
  echo "unknown target: $1 (one of: ${TARGETS[*]})" >&2
  return 1
}

# Only the fuzzers and their seeds: the tools and tests are not needed here.
# FUZZ_SKIP_BUILD=1 runs what is built, so several runs can share one build.
build() {
  [[ "${FUZZ_SKIP_BUILD:-0}" == 1 ]] && return 0
  local targets=(orrivane_fuzz_seed_corpora) t
  for t in "${TARGETS[@]}"; do targets+=("fuzz_${t}_fuzzer"); done
  mkdir -p "$BUILD"
  if ! { cmake --preset fuzz && cmake --build --preset fuzz -j "$(nproc)" --target "${targets[@]}"; } \
    >"$BUILD/build.log" 2>&1; then
    tail -n 60 "$BUILD/build.log" >&2
    echo "fuzz build failed (log: $BUILD/build.log)" >&2
    exit 1
  fi
}

# run TARGET SECONDS WORKDIR [RUNS]: libFuzzer grows WORKDIR and reads the
# seeds, the committed corpus and the regressions besides; prints the executions.
run() {
  local t=$1 seconds=$2 work=$3 runs_limit=${4:-}
  local log="$BUILD/logs/$t.log"
  mkdir -p "$work" "$BUILD/findings/$t" "$BUILD/logs"
  local inputs=("$work" "$BUILD/fuzz/seeds/$t" "fuzz/regressions/$t")
  [[ -d "fuzz/corpus/$t" ]] && inputs+=("fuzz/corpus/$t")
  local limits=(-max_total_time="$seconds")
  [[ -n "$runs_limit" ]] && limits+=(-runs="$runs_limit")
  local dict=()
  [[ -f "fuzz/$t.dict" ]] && dict=("-dict=fuzz/$t.dict")
  local status=0
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$BUILD/fuzz/fuzz_${t}_fuzzer" "${inputs[@]}" "${dict[@]}" "${limits[@]}" -timeout=10 \
    -rss_limit_mb=2048 -max_len="$(max_len "$t")" -print_final_stats=1 -artifact_prefix="$BUILD/findings/$t/" \
    >"$log" 2>&1 || status=$?
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  local corpus
  corpus=$(find "$work" -type f | wc -l)
  if ((status != 0)); then
    echo "FINDING in $t after ${runs:-?} executions (log: $log, input in $BUILD/findings/$t/)"
    grep -E "ERROR|invariant broken|SUMMARY|Test unit written" "$log" | head -n 20 || true
    return 1
  fi
  local took
  took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -n 1)
  echo "$t: ${runs:-?} executions in ${took:-$seconds}s, no finding; $corpus inputs in $work"
}

case "${1:-}" in
  smoke)
    build
    failed=0
    for t in "${TARGETS[@]}"; do
      work=$(mktemp -d)
      run "$t" "$SMOKE_SECONDS" "$work" || failed=1
      rm -rf "$work"
    done
    exit "$failed"
    ;;
  long)
    [[ $# -eq 3 || $# -eq 4 ]] || { echo "usage: $0 long TARGET SECONDS [RUNS]" >&2; exit 2; }
    known_target "$2"
    build
    run "$2" "$3" "$BUILD/work/$2" "${4:-}"
    ;;
  replay)
    [[ $# -ge 3 ]] || { echo "usage: $0 replay TARGET FILE..." >&2; exit 2; }
    known_target "$2"
    build
    t=$2
    shift 2
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      "$BUILD/fuzz/fuzz_${t}_fuzzer" -runs=1 "$@"
    ;;
  *)
    echo "usage: $0 smoke | long TARGET SECONDS [RUNS] | replay TARGET FILE..." >&2
    exit 2
    ;;
esac
