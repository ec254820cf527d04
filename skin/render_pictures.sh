#!/usr/bin/env bash
# Renders the skin's SVG drawings (pictures/*.svg) to the PNG files the program carries, at
# normal and at double size (name@2x.png), and writes the resource list skin.qrc.
# Needs rsvg-convert (librsvg2-bin). Run after changing a drawing; the PNGs are committed.
set -euo pipefail
cd "$(dirname "$0")"
mkdir -p png
rm -f png/*.png
for svg in pictures/*.svg; do
    name=$(basename "$svg" .svg)
    rsvg-convert -z 1 -o "png/$name.png" "$svg"
    rsvg-convert -z 2 -o "png/$name@2x.png" "$svg"
done
{
    echo '<RCC>'
    echo '  <qresource prefix="/skin">'
    for png in png/*.png; do
        echo "    <file alias=\"$(basename "$png")\">$png</file>"
    done
    echo '  </qresource>'
    echo '</RCC>'
} > skin.qrc
echo "render_pictures.sh: $(ls png | wc -l) pictures"
