#!/usr/bin/env bash
# Fuzzes every target of a fuzz build for FUZZ_SECONDS each (default 600), one
# after the other, from the committed inputs and with a random seed. Prints
# per target how many inputs ran and what was found; exits non-zero on any
# finding.
#
# Everything goes to FUZZ_BUILD/fuzz-long/NAME/: log, findings/ (the inputs
# that failed, to replay with `FUZZ_BUILD/NAME FILE`) and corpus/ (new inputs).
# To add those that reach new code to the committed corpus, keeping it small
# (edges only, not hit counts):
#   FUZZ_BUILD/NAME -merge=1 -use_counters=0 tests/fuzz/corpus/NAME FUZZ_BUILD/fuzz-long/NAME/corpus
#
# Usage: FUZZ_SECONDS=60 scripts/fuzz-long.sh [FUZZ_BUILD_DIR]
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-asan}
seconds=${FUZZ_SECONDS:-600}
status=0

printf '%-22s %14s  %s\n' target executions findings
for src in tests/fuzz/*_fuzz.cpp; do
  [ -e "$src" ] || continue
  name=$(basename "$src" .cpp)
  if [ ! -x "$build/$name" ]; then
    printf '%-22s %14s  %s\n' "$name" - "not built"
    status=1
    continue
  fi
  out=$build/fuzz-long/$name
  mkdir -p "$out"
  tests/fuzz/run-target.sh fuzz "$build/$name" tests/fuzz "$out" "$seconds" -seed=0 >"$out/log" 2>&1
  rc=$?
  execs=$(grep -o 'number_of_executed_units: [0-9]*' "$out/log" | tail -n 1 | grep -o '[0-9]*$')
  mapfile -t findings < <(find "$out/findings" -type f 2>/dev/null | sort)
  if ((rc != 0 || ${#findings[@]} > 0)); then
    status=1
    what=$(grep -m 1 '^SUMMARY:' "$out/log" || true)
    printf '%-22s %14s  %d (exit %d) %s\n' "$name" "${execs:-?}" "${#findings[@]}" "$rc" "$what"
    for f in "${findings[@]}"; do printf '%22s   %s\n' '' "$f"; done
  else
    printf '%-22s %14s  0\n' "$name" "${execs:-?}"
  fi
done
exit $status
