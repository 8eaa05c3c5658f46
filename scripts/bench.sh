#!/usr/bin/env bash
# Runs every benchmark of a build folder and prints their figures: the Google
# Benchmark programs (bench/*_bench.cpp, built as BUILD/<name>) and the
# resource-use scripts (bench/*_usage.sh).
#
# Usage: scripts/bench.sh [BUILD_DIR]
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
status=0

for src in bench/*_bench.cpp; do
  [ -e "$src" ] || continue
  name=$(basename "$src" .cpp)
  if [ ! -x "$build/$name" ]; then
    echo "== $name: not built (is libbenchmark-dev installed?)"
    status=1
    continue
  fi
  echo "== $name"
  "$build/$name" || status=1
done

for script in bench/*_usage.sh; do
  [ -e "$script" ] || continue
  echo "== $(basename "$script" .sh)"
  bash "$script" "$build" || status=1
done
exit $status
