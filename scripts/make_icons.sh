#!/usr/bin/env bash
# Renders the application icon data/icons/velmor.svg into the PNG sizes of the freedesktop icon
# theme (data/icons/hicolor/<n>x<n>/apps/velmor.png), which data/velmor.qrc puts into the
# executable. Run it after changing the SVG and commit the PNGs; needs rsvg-convert (librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/.."
for n in 16 32 48 64 128 256; do
  mkdir -p "data/icons/hicolor/${n}x${n}/apps"
  rsvg-convert --width "$n" --height "$n" --format png \
    --output "data/icons/hicolor/${n}x${n}/apps/velmor.png" data/icons/velmor.svg
done
