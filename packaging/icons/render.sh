#!/usr/bin/env bash
# Redraws the PNG icons from kivaro.svg; run after editing the SVG and commit the results (needs librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 32 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" kivaro.svg --output "kivaro-$size.png"
done
