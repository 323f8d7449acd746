#!/usr/bin/env bash
# Builds the benchmarks in the host-release preset and runs them: each line
# gives our time, its floor's time and their ratio, as medians of five runs.
# Extra arguments go to the benchmark program (--benchmark_filter=...).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset host-release >/dev/null
cmake --build --preset host-release -j2 --target orrivane_bench
exec build/host-release/bench/orrivane_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_counters_tabular=true "$@"
