#!/usr/bin/env bash
# Draws the widgets' artwork with ImageMagick. The PNG files it writes are committed; the
# build embeds them and does not run this script.
set -euo pipefail
cd "$(dirname "$0")"

# Key colour of the button skin: magenta pixels are not drawn.
key='#ff00ff'

# One frame of the button skin, 40 x 24: a rounded face with a gradient and a border on the
# key colour, drawn without anti-aliasing so no edge pixel mixes with the key colour.
# Arguments: output, top colour, bottom colour, border colour.
frame() {
  # The face only inside the rounded outline, then the border over it.
  convert +antialias -size 40x24 "xc:$key" \
    \( -size 40x24 xc:none -fill "$2" -draw 'roundrectangle 1,1 38,22 4,4' \
       \( -size 40x24 "gradient:$2-$3" \) -compose src-in -composite \) \
    -compose over -composite \
    -fill none -stroke "$4" -strokewidth 1 -draw 'roundrectangle 1,1 38,22 4,4' \
    -depth 8 -define png:color-type=2 "$1"
}

frame f0.png '#fbfcfe' '#c9d3e0' '#6d7f99'   # normal
frame f1.png '#b7c3d3' '#e4e9f0' '#3f5675'   # pressed: darker, gradient reversed
frame f2.png '#eeeeee' '#e0e0e0' '#b0b0b0'   # disabled: flat grey
frame f3.png '#ffffff' '#d4e6fb' '#e59a2a'   # hot or focused: lighter, orange border
frame f4.png '#ffffff' '#ffffff' '#ffffff'   # unused
convert f0.png f1.png f2.png f3.png f4.png +append -depth 8 -define png:color-type=2 button_skin.png
rm -f f0.png f1.png f2.png f3.png f4.png

# The search field's magnifier, 16 x 16 on transparency.
convert -size 16x16 xc:none -fill none -stroke '#3a4a60' -strokewidth 2 \
  -draw 'circle 6,6 6,11' -strokewidth 3 -draw 'line 10,10 14,14' \
  -fill '#bfe0ff' -stroke none -draw 'circle 6,6 6,9' PNG32:search_icon.png

# The gloss over the status bar: white fading to transparent from top to bottom.
convert -size 8x16 'gradient:rgba(255,255,255,0.85)-rgba(255,255,255,0)' \
  -define png:exclude-chunks=date,time -strip PNG32:gloss.png

for size in 16 32 48 64 128 256; do
  convert -background none -density 96 program_icon.svg -resize "${size}x${size}" \
    -strip PNG32:"program_icon_${size}.png"
done
