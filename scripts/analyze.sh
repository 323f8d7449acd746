#!/usr/bin/env bash
# Static analysis: clang-tidy over the library (src/), the tools (tools/) and
# the testbed (testbed/, the analyzer's checks only: testbed/.clang-tidy),
# with the checks of .clang-tidy, on a host build's compile commands. Fails on
# any finding.
#   scripts/analyze.sh [BUILD_DIR]   default build/host (configured if needed)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/host}
if [[ ! -f "$build/compile_commands.json" ]]; then
  cmake --preset host >/dev/null
  build=build/host
fi
# The generated sources (the embedded demo profile) are not ours to analyse.
files=$(python3 - "$build/compile_commands.json" <<'PY'
import json, os, sys
root = os.getcwd()
for entry in json.load(open(sys.argv[1])):
    path = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
    rel = os.path.relpath(path, root)
    if rel.split(os.sep)[0] in ("src", "tools", "testbed"):
        print(path)
PY
)
# shellcheck disable=SC2086
run-clang-tidy-14 -quiet -p "$build" -j "$(nproc)" $(printf '%s\n' $files | sed 's/[][\.*^$+?(){}|]/\\&/g; s/^/^/; s/$/$/')
