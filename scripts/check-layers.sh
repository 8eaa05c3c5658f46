#!/usr/bin/env bash
# Fails when an include points from a lower layer of src/ to a higher one.
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
# other.
set -euo pipefail
cd "$(dirname "$0")/../src"

features="traffic sessions packets packetfilter tools"
allowed() {  # allowed FROM-FOLDER: the folders its files may include
  case "$1" in
    base) echo "base" ;;
    platform) echo "base platform" ;;
    platform/linux|platform/fake|platform/privileged) echo "base platform helper" ;;
    helper) echo "base platform helper" ;;
    settings) echo "base platform settings" ;;
    logging) echo "base platform settings logging" ;;
    shared) echo "base platform settings logging shared" ;;
    shell) echo "base platform settings logging shell" ;;
    metrics) echo "base metrics" ;;
    app) echo "base platform settings logging shared $features shell metrics app" ;;
    host) echo "ANY-BUT ui programs" ;;
    ui) echo "ANY-BUT programs" ;;
    programs) echo "ANY-BUT ui" ;;
    *)
      for f in $features; do [ "$1" = "$f" ] && { echo "base platform settings logging shared $f"; return; }; done
      echo "UNKNOWN" ;;
  esac
}

# The folder (layer) of a path below src/.
layer_of() {
  case "$1" in
    platform/linux/*) echo platform/linux ;;
    platform/fake/*) echo platform/fake ;;
    platform/privileged/*) echo platform/privileged ;;
    *) echo "${1%%/*}" ;;
  esac
}

bad=0
while IFS= read -r -d '' file; do
  from=$(layer_of "$file")
  rule=$(allowed "$from")
  if [ "$rule" = UNKNOWN ]; then
    echo "layers: $file is in a folder the layer rules do not know ($from)"; bad=1; continue
  fi
  while IFS= read -r inc; do
    to=$(layer_of "$inc")
    ok=0
    case "$rule" in
      ANY-BUT\ *) ok=1; for a in ${rule#ANY-BUT }; do [ "$a" = "$to" ] && ok=0; done ;;
      *) for a in $rule; do [ "$a" = "$to" ] && ok=1; done
         # the implementations' headers may include their own folder
         [ "$to" = "$from" ] && ok=1 ;;
    esac
    if [ $ok -eq 0 ]; then
      echo "layers: $file includes \"$inc\" ($from may not see $to)"; bad=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z_]*\/[^"]*\)".*/\1/p' "$file")
done < <(find . -name '*.h' -o -name '*.cpp' | sed 's#^\./##' | tr '\n' '\0')

[ $bad -eq 0 ] && echo "layers: every include points down"
exit $bad
