#!/usr/bin/env bash
# Shows that scripts/check-layers.sh can fail: each case adds one throwaway
# include to a copy of the tree (src/, tests/, bench/ in a temporary folder)
# and expects the check to name it, or, for the allowed ones, to stay quiet.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
check=$here/scripts/check-layers.sh
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

mkdir "$tmp/tree"
(cd "$here" && find src tests bench \( -name '*.h' -o -name '*.cpp' \) -print0 |
   tar -cf - --null -T - | tar -xf - -C "$tmp/tree")

failures=0
# expect fail|pass FILE LINE: appends LINE to FILE of the copy, runs the
# check, puts FILE back; "fail" also wants FILE named in its report.
expect() {
  local want=$1 file=$2 line=$3 out rc=0
  mkdir -p "$tmp/tree/$(dirname "$file")"
  [[ -f $tmp/tree/$file ]] && cp "$tmp/tree/$file" "$tmp/saved"
  printf '%s\n' "$line" >>"$tmp/tree/$file"
  out=$("$check" "$tmp/tree" 2>&1) || rc=$?
  # Back to the tree as it is for the next case.
  if [[ -f $tmp/saved ]]; then mv "$tmp/saved" "$tmp/tree/$file"; else rm "$tmp/tree/$file"; fi
  if [[ $want == fail ]]; then
    if ((rc == 0)) || ! grep -qF "$file" <<<"$out"; then
      echo "FAIL: $file with '$line' was not reported (status $rc):"; echo "$out"; failures=$((failures + 1))
      return
    fi
  elif ((rc != 0)); then
    echo "FAIL: $file with '$line' was reported:"; echo "$out"; failures=$((failures + 1))
    return
  fi
  echo "ok: $want: $file: $line"
}

# The tree as it is passes.
expect pass src/base/error.h ''
# Angle brackets are the project's include too.
expect fail src/base/error.h '#include <tools/whois.h>'
expect fail src/base/error.h '#  include <sessions/session_monitor.h>'
# A relative path out of the folder.
expect fail src/base/error.h '#include "../tools/whois.h"'
# bench/ may not reach into the desktop program; tests/ may include anything.
expect fail bench/layers_probe_bench.cpp '#include "ui/main/main_window.h"'
expect pass tests/unit/base/layers_probe_test.cpp '#include "ui/main/main_window.h"'
# The ui sees the Linux implementations only in its composition place.
expect fail src/ui/notice/layers_probe.cpp '#include "platform/linux/process_runner.h"'
expect fail src/ui/notice/layers_probe.cpp '#include <platform/privileged/nftables_filter.h>'
expect pass src/ui/main.cpp '#include "platform/linux/periodic_thread.h"'
# A file in a folder the rules do not know.
expect fail src/newfolder/layers_probe.cpp '#include "base/error.h"'

((failures == 0)) && echo "layer check: every case as expected"
exit $((failures > 0))
