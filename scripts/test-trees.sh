#!/usr/bin/env bash
# `make test`: builds and tests every tree, one after the other, and ends with
# a summary of what failed. A failure in one tree does not stop the others.
#
#   build   the normal tree (the compiler cmake picks, gcc on Debian): every
#           test, the layer checks included
#   asan    clang, AddressSanitizer + LeakSanitizer + UBSan: every test, and
#           the libFuzzer targets (corpus replay and a short fuzz run)
#   tsan    clang, ThreadSanitizer: the Qt-free tests (unit, integration)
#   tidy    clang-tidy on the C++ files changed against main
#           (scripts/clang-tidy.sh)
#
# Usage: scripts/test-trees.sh [STEP...]     (default: build asan tsan tidy)
# Environment: JOBS (default nproc), BUILD, ASAN_BUILD, TSAN_BUILD (the
# trees' folders, default build, build-asan, build-tsan).
#
# The trees run one after the other, tests included: the integration tests
# need the machine to themselves (shared names, and timing on a loaded
# machine), and two builds side by side would only share the same cores.
set -uo pipefail
cd "$(dirname "$0")/.."

jobs=${JOBS:-$(nproc)}
build=${BUILD:-build}
asan_build=${ASAN_BUILD:-build-asan}
tsan_build=${TSAN_BUILD:-build-tsan}
steps=("$@")
((${#steps[@]})) || steps=(build asan tsan tidy)

summary=()   # one line per step
failed=0
started=$SECONDS

minutes() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }

# tree NAME DIR DESCRIPTION CMAKE-ARGS...: configure (once), build, test.
tree() {
  local name=$1 dir=$2 what=$3
  shift 3
  local t0=$SECONDS t1 line
  echo "=== $name: $what ($dir)"
  if [[ ! -f $dir/build.ninja ]]; then
    if ! "$@"; then
      summary+=("$(printf '%-6s %-38s configure FAILED' "$name" "$what")"); failed=1; return
    fi
  fi
  if ! cmake --build "$dir" -j "$jobs"; then
    summary+=("$(printf '%-6s %-38s build FAILED after %s' "$name" "$what" "$(minutes $((SECONDS - t0)))")")
    failed=1; return
  fi
  t1=$SECONDS
  # Reports of the last run would be taken for this one's.
  rm -f "$dir"/sanitizer-reports/* "$dir"/Testing/Temporary/LastTestsFailed*.log
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure
  local total failures=() reports=()
  total=$(ctest --test-dir "$dir" -N | sed -n 's/^Total Tests: //p')
  if compgen -G "$dir/Testing/Temporary/LastTestsFailed*.log" >/dev/null; then
    mapfile -t failures < <(cut -d: -f2- "$dir"/Testing/Temporary/LastTestsFailed*.log)
  fi
  if [[ -d $dir/sanitizer-reports ]]; then
    mapfile -t reports < <(find "$dir/sanitizer-reports" -type f | sort)
  fi
  line=$(printf '%-6s %-38s %3s tests, %s build, %s tests:' "$name" "$what" "${total:-?}" \
         "$(minutes $((t1 - t0)))" "$(minutes $((SECONDS - t1)))")
  if ((${#failures[@]} == 0 && ${#reports[@]} == 0)); then
    summary+=("$line all passed")
    return
  fi
  failed=1
  summary+=("$line ${#failures[@]} FAILED")
  for f in "${failures[@]}"; do summary+=("         failed: $f"); done
  # Every report, also of processes whose test passed (a child it did not
  # watch): the whole text here, its summary line below.
  for r in "${reports[@]}"; do
    echo "=== $name: sanitizer report $r"
    cat "$r"
    summary+=("         report: $r: $(grep -m 1 '^SUMMARY:' "$r" || head -n 1 "$r")")
  done
}

for step in "${steps[@]}"; do
  case $step in
    build)
      tree build "$build" "normal" cmake -S . -B "$build" -G Ninja ;;
    asan)
      tree asan "$asan_build" "clang, ASan+UBSan, fuzz targets" \
        env CC=clang CXX=clang++ cmake -S . -B "$asan_build" -G Ninja -DTW_SANITIZER=address ;;
    tsan)
      tree tsan "$tsan_build" "clang, TSan, Qt-free tests" \
        env CC=clang CXX=clang++ cmake -S . -B "$tsan_build" -G Ninja -DTW_SANITIZER=thread ;;
    tidy)
      t0=$SECONDS
      echo "=== tidy: clang-tidy on the files changed against main"
      if scripts/clang-tidy.sh --changed "$build"; then
        summary+=("$(printf '%-6s %-38s %s: clean' tidy "changed files" "$(minutes $((SECONDS - t0)))")")
      else
        summary+=("$(printf '%-6s %-38s %s: FAILED' tidy "changed files" "$(minutes $((SECONDS - t0)))")")
        failed=1
      fi ;;
    *)
      echo "unknown step $step (build, asan, tsan, tidy)" >&2; exit 2 ;;
  esac
done

echo
echo "=== make test: $(minutes $((SECONDS - started))) in all"
printf '%s\n' "${summary[@]}"
((failed == 0)) && echo "every tree passed"
exit $failed
