#!/usr/bin/env bash
# Fails when an include points from a lower layer of src/ to a higher one, or
# out of bench/ into the desktop program.
# The layers, from the ground up:
#   base                      what everything shares
#   platform (its headers)    one interface per operating-system capability
#   settings, logging         services
#   shared                    what several features share (flow keys, host names)
#   traffic sessions packets packetfilter tools    features, never each other
#   shell                     the window-free logic of the desktop shell
#   metrics                   the figures as a Prometheus text exposition
#                             (plain figures in, text out: sees only base)
#   app                       the runtime that builds either program
#   host                      the Linux assembly of that runtime (lock, folder,
#                             sampler, status block, command channel) that both
#                             the desktop program and tarnixd start from, so it
#                             sees everything below it but neither of them
# Beside them: platform/linux, platform/fake and platform/privileged implement
# the interfaces and see only base and platform; helper is the privileged
# helper's protocol, which carries platform types (a filter set) and so sees
# the platform headers; ui (Qt) and programs sit on top and never see each
# other. The ui sees the platform only through its interfaces: the concrete
# Linux objects of the desktop program are built in one place, ui/main.cpp.
# tests/ may include anything; bench/ anything but the desktop program and the
# programs' own sources.
#
# Both include forms are read: "x/y.h" and <x/y.h> (an angle include whose
# first folder is one of src/ is the project's, whatever the brackets say),
# and a quoted include that names a file beside the includer ("../x/y.h") is
# taken where the compiler would find it.
#
# Usage: scripts/check-layers.sh [TREE]   (TREE: a checkout, default this one)
set -euo pipefail
root=${1:-"$(dirname "$0")/.."}
cd "$root"

features="traffic sessions packets packetfilter tools"
rule=""
allowed() {  # allowed FROM-LAYER: sets rule to the layers its files may include
  case "$1" in
    base) rule="base" ;;
    platform) rule="base platform" ;;
    platform/linux|platform/fake|platform/privileged) rule="base platform helper" ;;
    helper) rule="base platform helper" ;;
    settings) rule="base platform settings" ;;
    logging) rule="base platform settings logging" ;;
    shared) rule="base platform settings logging shared" ;;
    shell) rule="base platform settings logging shell" ;;
    metrics) rule="base metrics" ;;
    app) rule="base platform settings logging shared $features shell metrics app" ;;
    host) rule="ANY-BUT ui programs" ;;
    ui) rule="ANY-BUT programs platform/linux platform/fake platform/privileged" ;;
    programs) rule="ANY-BUT ui" ;;
    tests) rule="ANY" ;;
    bench) rule="ANY-BUT ui programs" ;;
    traffic|sessions|packets|packetfilter|tools)
      rule="base platform settings logging shared $1" ;;
    *) rule="UNKNOWN" ;;
  esac
}

# Single includes the rules above forbid but that are allowed by name: FILE
# (below the tree) and the include, or a folder of includes ending in "/".
# Keep this list short; an entry that no longer matches any include fails the
# check, so it goes when the include goes.
exceptions=(
  # The composition place of the desktop program: it builds the Linux
  # implementations and hands them to the ui as interfaces.
  "src/ui/main.cpp platform/linux/"
  # The command channel has no interface in platform/ yet.
  "src/ui/main/runtime_driver.cpp platform/linux/command_socket.h"
  # The drawing benchmark measures the traffic graph's and the Mini
  # Monitor's own painting.
  "bench/graph_draw_bench.cpp ui/traffic/"
  "bench/graph_draw_bench.cpp ui/minimonitor/mini_monitor.h"
)
declare -A exception_used=()

layer=""
layer_of() {  # layer_of PATH-BELOW-src: sets layer
  case "$1" in
    platform/linux/*) layer=platform/linux ;;
    platform/fake/*) layer=platform/fake ;;
    platform/privileged/*) layer=platform/privileged ;;
    */*) layer=${1%%/*} ;;
    *) layer="" ;;
  esac
}

# The top-level folders of src/: an include whose first folder is one of them
# is the project's.
declare -A src_folder=()
for d in src/*/; do d=${d%/}; src_folder[${d#src/}]=1; done

# Collapses "a/b/../c" and "./" in a relative path.
normalise() {
  local -a parts=() out=()
  local p
  IFS=/ read -r -a parts <<<"$1"
  for p in "${parts[@]}"; do
    case $p in
      ''|.) ;;
      ..) ((${#out[@]})) && unset 'out[${#out[@]}-1]' || out+=(..) ;;
      *) out+=("$p") ;;
    esac
  done
  local IFS=/
  normalised="${out[*]}"
}

bad=0
report() { echo "layers: $*"; bad=1; }

# FILE:LINE:#include <x> or "x", for every file of the three trees.
mapfile -t files < <(find src tests bench \( -name '*.h' -o -name '*.cpp' \) -type f 2>/dev/null | sort)
while IFS= read -r line; do
  file=${line%%:*}
  text=${line#*:}
  # Quoted or angled, what lies between the marks.
  if [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]]; then
    inc=${BASH_REMATCH[1]} quoted=1 written="\"${BASH_REMATCH[1]}\""
  elif [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<([^\>]+)\> ]]; then
    inc=${BASH_REMATCH[1]} quoted=0 written="<${BASH_REMATCH[1]}>"
  else
    continue
  fi
  # Where the compiler finds it: beside the includer first (quoted only),
  # then below src/. Includes that are neither (system and library headers,
  # tests' own helpers) are not the layers' business.
  target=""
  if ((quoted)) && [[ -f "${file%/*}/$inc" ]]; then
    normalise "${file%/*}/$inc"
    case $normalised in src/*) target=${normalised#src/} ;; esac
  fi
  if [[ -z $target && $inc == */* && -n ${src_folder[${inc%%/*}]:-} ]]; then
    normalise "$inc"
    target=$normalised
  fi
  [[ -n $target ]] || continue

  case $file in
    src/*) layer_of "${file#src/}"; from=$layer ;;
    tests/*) from=tests ;;
    bench/*) from=bench ;;
  esac
  allowed "$from"
  if [[ $rule == UNKNOWN ]]; then
    report "$file is in a folder the layer rules do not know (${from:-src/})"; continue
  fi
  layer_of "$target"; to=$layer
  ok=0
  case "$rule" in
    ANY) ok=1 ;;
    ANY-BUT\ *) ok=1; for a in ${rule#ANY-BUT }; do [[ $a == "$to" ]] && ok=0; done ;;
    *) for a in $rule; do [[ $a == "$to" ]] && ok=1; done
       # the implementations' headers may include their own folder
       [[ $to == "$from" ]] && ok=1 ;;
  esac
  if ((ok == 0)); then
    for e in "${exceptions[@]}"; do
      e_file=${e%% *} e_inc=${e#* }
      [[ $file == "$e_file" ]] || continue
      if [[ $target == "$e_inc" || ( $e_inc == */ && $target == "$e_inc"* ) ]]; then
        ok=1; exception_used[$e]=1
      fi
    done
  fi
  if ((ok == 0)); then
    report "$file includes $written (${from} may not see ${to})"
  fi
done < <(((${#files[@]})) && grep -H -E '^[[:space:]]*#[[:space:]]*include' "${files[@]}" || true)

for e in "${exceptions[@]}"; do
  if [[ -z ${exception_used[$e]:-} ]]; then
    report "the exception \"$e\" in $0 no longer matches an include: remove it"
  fi
done

((bad == 0)) && echo "layers: every include points down"
exit $bad
