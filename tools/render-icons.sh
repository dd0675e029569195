#!/usr/bin/env bash
# Renders the program's icon (packaging/icons/vtfilemgr.svg) into the PNG
# sizes the package installs beside it; run after changing the drawing and
# commit the PNGs. Needs rsvg-convert (Debian: librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../packaging/icons"
for size in 48 256; do
  rsvg-convert -w "$size" -h "$size" vtfilemgr.svg -o "vtfilemgr-$size.png"
done
