#!/usr/bin/env bash
# Runs every benchmark of a build folder and prints their figures: the Google
# Benchmark programs (bench/*_bench.cpp, built as BUILD/<name>), the
# resource-use scripts (bench/*_usage.sh) and the side-by-side comparison
# with bmon and nload (bench/side_by_side.sh, SIDE_SECONDS per phase, default
# 30). At the end, each figure that has a target is printed again next to it,
# with the machine's load: a busy machine makes every figure worse.
#
# Usage: scripts/bench.sh [BUILD_DIR]
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
status=0
out=$(mktemp -d /tmp/tw-bench-XXXXXX)
trap 'rm -rf "$out"' EXIT

# Runs "$2..." with its output shown and kept in $out/$1.txt.
run_kept() {
  local name=$1
  shift
  "$@" 2>&1 | tee "$out/$name.txt"
  return "${PIPESTATUS[0]}"
}

echo "== machine: $(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg)"
for src in bench/*_bench.cpp; do
  [ -e "$src" ] || continue
  name=$(basename "$src" .cpp)
  if [ ! -x "$build/$name" ]; then
    echo "== $name: not built (is libbenchmark-dev installed?)"
    status=1
    continue
  fi
  echo "== $name"
  run_kept "$name" "$build/$name" || status=1
done

for script in bench/*_usage.sh; do
  [ -e "$script" ] || continue
  name=$(basename "$script" .sh)
  echo "== $name"
  run_kept "$name" bash "$script" "$build" || status=1
done

echo "== side_by_side"
run_kept side_by_side bash bench/side_by_side.sh "$build" "${SIDE_SECONDS:-30}" || status=1

# ---- the figures against their targets ----------------------------------------
# Each benchmark prints in its own way; a figure that cannot be found (a
# benchmark that did not run, or changed its output) reads "-".
kept() { cat "$out/$1.txt" 2>/dev/null; }
line() { printf "  %-58s %-14s %-22s %s\n" "$1" "$2" "$3" "$4"; }
judge() {  # figure, "le"|"ge", limit
  awk -v f="$1" -v op="$2" -v t="$3" 'BEGIN {
    if (f == "-" || f == "") { print "-"; exit }
    ok = (op == "le") ? (f + 0 <= t + 0) : (f + 0 >= t + 0); print ok ? "ok" : (op == "le" ? "OVER" : "UNDER") }'
}

echo
echo "== figures against their targets (machine: $(nproc) CPUs, load average now $(cut -d' ' -f1-3 /proc/loadavg))"
line "figure" "measured" "target" ""

# Session refresh of 1000 connections with processes against ss -tanp (CPU time).
ratio=$(kept session_refresh_bench | awk '/ratio:/ && /CPU time/ { for (i = 1; i <= NF; i++) if ($i == "ratio:") print $(i + 1) }' | tail -1)
line "session refresh / ss -tanp (CPU time)" "${ratio:--}" "<= 0.2" "$(judge "${ratio:--}" le 0.2)"

# Packet decode: Google Benchmark's items_per_second, one line per recorded
# mix (IPv4, IPv6).
kept packet_decoder_bench | awk '/^BM_Decode/ { name = $1; sub(/\/.*/, "", name)
  for (i = 1; i <= NF; i++) if ($i ~ /^items_per_second=/) { v = $i; sub(/items_per_second=/, "", v); sub(/\/s$/, "", v)
  m = 1; if (v ~ /k$/) m = 1e3; if (v ~ /M$/) m = 1e6; if (v ~ /G$/) m = 1e9; sub(/[kMG]$/, "", v); printf "%s %.0f\n", name, v * m } }' >"$out/decode.txt"
[ -s "$out/decode.txt" ] || echo "BM_Decode -" >"$out/decode.txt"
while read -r name decode; do
  decode_m=$(awk -v d="$decode" 'BEGIN { if (d == "-") print "-"; else printf "%.2f M/s", d / 1e6 }')
  line "packet decode per second, 1 core ($name)" "$decode_m" ">= 2 M/s" "$(judge "$decode" ge 2000000)"
done <"$out/decode.txt"

# Capture over a veth at 200,000 datagrams/s, in-process and through the
# helper: the rate reached and the kernel's drops, one line per way.
kept packet_capture_bench | awk '/^capture in-process/ { way = "in-process" } /^capture through/ { way = "helper" }
  /^ *sent / { for (i = 1; i <= NF; i++) if ($i ~ /^\([0-9.]+\/s,$/) { v = $i; gsub(/[(\/s,]/, "", v); rate[way] = v } }
  /^ *dropped / { dropped[way] = $2 }
  END { for (w in rate) print w, rate[w], (w in dropped) ? dropped[w] : "-" }' | sort >"$out/capture.txt"
[ -s "$out/capture.txt" ] || echo "- - -" >"$out/capture.txt"
while read -r way rate dropped; do
  line "capture ($way): datagrams per second sent" "$rate" "200000 (at least 95 %)" "$(judge "$rate" ge 190000)"
  line "capture ($way): dropped by the kernel" "$dropped" "0" "$(judge "$dropped" le 0)"
done <"$out/capture.txt"

# 2000 DROP rules applied (real time of one apply, Google Benchmark), one
# line per layout measured.
kept packet_filter_bench | awk '/^BM_Apply2000/ { name = $1; sub(/\/iterations.*/, "", name); v = $2; u = $3; s = v
  if (u == "ms") s = v / 1000; if (u == "us") s = v / 1e6; if (u == "ns") s = v / 1e9; printf "%s %.3f\n", name, s }' >"$out/apply.txt"
[ -s "$out/apply.txt" ] || echo "BM_Apply2000 -" >"$out/apply.txt"
while read -r name apply; do
  line "2000 DROP rules applied, s ($name)" "$apply" "< 1" "$(judge "$apply" le 0.999)"
done <"$out/apply.txt"

# The resource-use and side-by-side figures (already printed with their
# targets above).
for f in "$out"/*_usage.txt; do
  [ -e "$f" ] || continue
  awk -v n="$(basename "$f" .txt)" '/target/ { sub(/^ +/, ""); print "  " n ": " $0 }' "$f"
done
kept side_by_side | awk '/target|Qt floor/ { sub(/^ +/, ""); print "  " $0 }'
kept side_by_side | awk '/^ *machine:/ { sub(/^ +/, ""); print "  " $0 }'
exit $status
