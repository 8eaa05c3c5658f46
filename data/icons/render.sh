#!/bin/sh
# Renders the PNG sizes of the icon theme from tarnix.svg beside this script.
# The PNGs are committed, so a build needs no SVG renderer; run this after a
# change to the SVG (needs rsvg-convert: apt-get install librsvg2-bin).
set -eu
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" tarnix.svg --output "tarnix-$size.png"
done
