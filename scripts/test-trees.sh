#!/usr/bin/env bash
# `make test`: builds and tests every tree, one after the other, and ends with
# a summary of what failed. A failure in one tree does not stop the others.
#
#   asan-all  clang, AddressSanitizer + LeakSanitizer + UBSan, the strict
#             warnings as errors: every test (unit, UI offscreen, the layer
#             checks, integration, packaging) and the libFuzzer targets
#             (corpus replay and a short fuzz run)
#   tsan      clang, ThreadSanitizer, the strict warnings as errors, no
#             precompiled headers (each file's own includes must do): the
#             Qt-free tests (unit, integration)
#   tidy      clang-tidy on the C++ files changed against main
#             (scripts/clang-tidy.sh)
#   build     the normal tree (the compiler cmake picks, gcc on Debian, as
#             `make run` builds it, without precompiled headers), the strict
#             warnings as errors: every test
#   asan      the ASan tree's unit tests and fuzz targets only
#   fuzz      the ASan tree's fuzz targets only
#
# Usage: scripts/test-trees.sh [STEP...]     (default: asan-all tsan tidy)
#
# The default is what fits the 30 minutes `make test` may take on a clean
# 2-core machine, where compiling is most of the time (precompiled headers in
# the ASan tree, cmake/Precompiled.cmake, and -O0 there keep it down): every test
# once under ASan+UBSan, the threaded code's tests again under TSan. `make
# test-all` adds the normal tree (gcc's warnings, the programs as shipped).
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
((${#steps[@]})) || steps=(asan-all tsan tidy)

summary=()   # one line per step
failed=0
started=$SECONDS
tidy_tree=$asan_build   # the compile database clang-tidy reads: the last tree built

minutes() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }

# tree NAME DIR DESCRIPTION TARGETS LABELS CMAKE-ARGS...: configure, build
# TARGETS (words; "" for all), run the tests with a label matching the
# regular expression LABELS ("" for every test).
tree() {
  local name=$1 dir=$2 what=$3 targets=$4 labels=$5
  shift 5
  local -a target_args=() label_args=()
  # shellcheck disable=SC2206  # words by design
  [[ -n $targets ]] && target_args=(--target $targets)
  [[ -n $labels ]] && label_args=(-L "$labels")
  local t0=$SECONDS t1 line
  echo "=== $name: $what ($dir)"
  # Configured every time: an existing tree (from `make build` or an older
  # checkout) takes on the options of the test (-Werror) without a rebuild
  # when they are unchanged.
  if ! "$@"; then
    summary+=("$(printf '%-6s %-38s configure FAILED' "$name" "$what")"); failed=1; return
  fi
  if ! cmake --build "$dir" -j "$jobs" "${target_args[@]}"; then
    summary+=("$(printf '%-6s %-38s build FAILED after %s' "$name" "$what" "$(minutes $((SECONDS - t0)))")")
    failed=1; return
  fi
  t1=$SECONDS
  # Reports of the last run would be taken for this one's.
  rm -f "$dir"/sanitizer-reports/* "$dir"/Testing/Temporary/LastTestsFailed*.log
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure "${label_args[@]}"
  local total failures=() reports=()
  total=$(ctest --test-dir "$dir" -N "${label_args[@]}" | sed -n 's/^Total Tests: //p')
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
      tree build "$build" "normal, warnings are errors" "" "" \
        cmake -S . -B "$build" -G Ninja -DTW_STRICT_WARNINGS=ON -DTW_WERROR=ON
      tidy_tree=$build ;;
    fuzz)
      tree fuzz "$asan_build" "clang, ASan+UBSan: fuzz targets" "fuzz-targets" "^fuzz$" \
        env CC=clang CXX=clang++ cmake -S . -B "$asan_build" -G Ninja -DTW_SANITIZER=address -DTW_STRICT_WARNINGS=ON -DTW_WERROR=ON ;;
    asan)
      tree asan "$asan_build" "clang, ASan+UBSan: unit tests, fuzz" "unit-tests fuzz-targets" "^(unit|fuzz)$" \
        env CC=clang CXX=clang++ cmake -S . -B "$asan_build" -G Ninja -DTW_SANITIZER=address -DTW_STRICT_WARNINGS=ON -DTW_WERROR=ON ;;
    asan-all)
      tree asan "$asan_build" "clang, ASan+UBSan: every test, fuzz" "" "" \
        env CC=clang CXX=clang++ cmake -S . -B "$asan_build" -G Ninja -DTW_SANITIZER=address -DTW_STRICT_WARNINGS=ON -DTW_WERROR=ON ;;
    tsan)
      tree tsan "$tsan_build" "clang, TSan, Qt-free tests" "" "" \
        env CC=clang CXX=clang++ cmake -S . -B "$tsan_build" -G Ninja -DTW_SANITIZER=thread -DTW_STRICT_WARNINGS=ON -DTW_WERROR=ON -DTW_PCH=OFF ;;
    tidy)
      t0=$SECONDS
      echo "=== tidy: clang-tidy on the files changed against main"
      if scripts/clang-tidy.sh --changed "$tidy_tree"; then
        summary+=("$(printf '%-6s %-38s %s: clean' tidy "changed files" "$(minutes $((SECONDS - t0)))")")
      else
        summary+=("$(printf '%-6s %-38s %s: FAILED' tidy "changed files" "$(minutes $((SECONDS - t0)))")")
        failed=1
      fi ;;
    *)
      echo "unknown step $step (build, fuzz, asan, asan-all, tsan, tidy)" >&2; exit 2 ;;
  esac
done

echo
echo "=== make test: $(minutes $((SECONDS - started))) in all"
printf '%s\n' "${summary[@]}"
((failed == 0)) && echo "every tree passed"
exit $failed
