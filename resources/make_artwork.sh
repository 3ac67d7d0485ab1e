#!/usr/bin/env bash
# Draws the program's artwork from nothing: resources/logo.bmp (the logo in the dialog) and
# resources/app.ico (the program icon). Needs ImageMagick 6 and the DejaVu fonts of Debian's
# fonts-dejavu-core. Every run writes the same bytes: no metadata, no time stamps, no
# intermediate files, one thread (so no run can differ in how it splits up the work).
#
# Usage: bash resources/make_artwork.sh          (writes next to this script)
#        CONVERT=/path/to/convert bash resources/make_artwork.sh
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# /usr/bin/convert explicitly: a convert earlier on PATH may be a wrapper that changes images.
CONVERT="${CONVERT:-/usr/bin/convert}"
FONT="${FONT:-/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf}"
export MAGICK_THREAD_LIMIT=1

"$CONVERT" -version | grep -q '^Version: ImageMagick' || { echo "$CONVERT is not ImageMagick" >&2; exit 1; }
[ -r "$FONT" ] || { echo "font $FONT missing (apt-get install fonts-dejavu-core)" >&2; exit 1; }

# The palette: dark blue emblem and name, orange accent, slate grey product line. None of them
# is near the key colour.
BLUE='#14306A'
ORANGE='#F28C1E'
SLATE='#4A5A78'
# The dialog's face colour (COLOR_3DFACE on Windows 7 to 11). The logo is drawn, antialiased,
# on this colour and only then is every untouched pixel replaced by the key colour RGB(0,255,0)
# that the program draws as transparent. Drawn straight on green, the soft edges would mix with
# green and leave greenish fringes; mixed with the face colour they blend into the dialog.
FACE='#F0F0F0'
KEY='#00FF00'

# logo.bmp: 365 x 122, 24 bits per pixel, uncompressed BMP3 (what LoadImage and the dialog
# expect). Emblem on the left, the maker's name with a rule under it, the product below.
"$CONVERT" -size 365x122 "xc:$FACE" \
  -fill "$BLUE" -draw 'roundrectangle 10,15 101,106 18,18' \
  -fill white -draw 'polygon 27,31 42,31 55.5,68 69,31 84,31 63,85 48,85' \
  -fill "$ORANGE" -draw 'roundrectangle 30,91 81,96 2,2' \
  -font "$FONT" -pointsize 36 -fill "$BLUE" -annotate +116+60 'SORVANTIK' \
  -fill "$ORANGE" -draw 'rectangle 118,69 352,71' \
  -pointsize 24 -kerning 14 -fill "$SLATE" -annotate +118+100 'VELTABOX' \
  -fill "$KEY" -opaque "$FACE" \
  -strip +set date:create +set date:modify \
  -type TrueColor -compress None "BMP3:$here/logo.bmp"

# app.ico: the emblem alone, in eight 32-bit images with alpha: 48, 32 and 16 pixels with soft
# edges, then 48, 32, 16, 32 and 16 with hard ones (alpha 0 or 255 only), in the places where the
# set had its paletted images. Windows picks the first image of a size, so the soft ones are the
# ones it shows. 48 and 32 are scaled down from one large drawing; 16 has its own drawing on a
# 16-pixel grid (no bar, a bolder V), because the large one turns to mud at that size.
# TrueColorAlpha keeps ImageMagick from storing an image with few colours as a paletted one.
"$CONVERT" \
  \( -size 384x384 xc:none \
     -fill "$BLUE" -draw 'roundrectangle 8,8 375,375 72,72' \
     -fill white -draw 'polygon 72,64 138,64 192,236 246,64 312,64 226,300 158,300' \
     -fill "$ORANGE" -draw 'roundrectangle 96,320 288,344 12,12' \
     -write mpr:big +delete \) \
  \( -size 256x256 xc:none \
     -fill "$BLUE" -draw 'roundrectangle 0,0 255,255 48,48' \
     -fill white -draw 'polygon 32,32 88,32 128,152 168,32 224,32 156,224 100,224' \
     -write mpr:small +delete \) \
  \( mpr:big -filter Box -resize 48x48 \) \
  \( mpr:big -filter Box -resize 32x32 \) \
  \( mpr:small -filter Box -resize 16x16 \) \
  \( mpr:big -filter Box -resize 48x48 -channel A -threshold 50% +channel \) \
  \( mpr:big -filter Box -resize 32x32 -channel A -threshold 50% +channel \) \
  \( mpr:small -filter Box -resize 16x16 -channel A -threshold 50% +channel \) \
  \( mpr:big -filter Box -resize 32x32 -channel A -threshold 50% +channel \) \
  \( mpr:small -filter Box -resize 16x16 -channel A -threshold 50% +channel \) \
  -type TrueColorAlpha -strip +set date:create +set date:modify \
  "ICO:$here/app.ico"
