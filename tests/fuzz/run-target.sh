#!/bin/bash
# Runs one libFuzzer target over the committed inputs, or fuzzes from them.
#
#   run-target.sh replay BINARY FUZZ_DIR
#       Runs every file of FUZZ_DIR/corpus/NAME and FUZZ_DIR/regressions/NAME
#       once, NAME being the binary's name.
#   run-target.sh fuzz BINARY FUZZ_DIR OUT SECONDS [libFuzzer flags...]
#       Fuzzes for SECONDS from those inputs. New inputs go to OUT/corpus,
#       findings to OUT/findings; both are emptied first, so that every run
#       starts from the committed inputs alone.
#
# The status is the target's: non-zero on any finding (crash, sanitizer report,
# leak, timeout, memory limit).
set -euo pipefail

mode=${1:?mode}
binary=${2:?binary}
fuzz_dir=${3:?fuzz dir}
name=$(basename "$binary")

# A timeout is a finding too: no input may keep a parser busy for seconds.
common=(-rss_limit_mb=2048 -max_len=65536 -timeout=10)
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

inputs=()
for dir in "$fuzz_dir/corpus/$name" "$fuzz_dir/regressions/$name"; do
  [[ -d $dir ]] && inputs+=("$dir")
done

case $mode in
  replay)
    files=()
    for dir in "${inputs[@]}"; do
      while IFS= read -r -d '' f; do files+=("$f"); done < <(find "$dir" -type f -print0 | sort -z)
    done
    # With file arguments libFuzzer runs each once instead of fuzzing.
    if ((${#files[@]} == 0)); then
      echo "$name: no committed inputs" >&2
      exec "$binary" "${common[@]}" -runs=0
    fi
    exec "$binary" "${common[@]}" "${files[@]}"
    ;;
  fuzz)
    out=${4:?output dir}
    seconds=${5:?seconds}
    shift 5
    rm -rf "$out/corpus" "$out/findings"
    mkdir -p "$out/corpus" "$out/findings"
    exec "$binary" "${common[@]}" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$out/findings/" "$@" "$out/corpus" "${inputs[@]}"
    ;;
  *)
    echo "usage: $0 replay|fuzz BINARY FUZZ_DIR [OUT SECONDS [flags...]]" >&2
    exit 2
    ;;
esac
