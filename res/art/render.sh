#!/usr/bin/env bash
# Renders the skin's vector sources to the PNG resources the launcher embeds (res/png/), with
# Debian's rsvg-convert (librsvg2-bin). The PNGs are committed, so a build never needs this.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=$here/../png
mkdir -p "$out"
for svg in "$here"/*.svg; do
  name=$(basename "$svg" .svg)
  rsvg-convert "$svg" -o "$out/$name.png"
done
echo "rendered $(ls "$here"/*.svg | wc -l) images into $out"
