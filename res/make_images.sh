#!/bin/sh
# Remakes the program's pictures from drawing commands alone (no fonts, no
# source images), so they can be changed and regenerated at will:
#   Quorvel.ico  application icon: one 128x128 image, 32 bpp with alpha
#   about.bmp    About box picture: 300x265, 24 bpp uncompressed (BMP3)
# The outputs are committed, so building the program needs no ImageMagick.
# Usage: res/make_images.sh   (from any directory; writes next to itself)
set -eu

CONVERT=/usr/bin/convert
cd "$(dirname "$0")"

# clock_face CX CY R: prints ImageMagick -draw primitives for a clock face
# of radius R centred at (CX, CY), showing 10:10.  Sizes scale with R.
clock_face() {
    awk -v cx="$1" -v cy="$2" -v r="$3" 'BEGIN {
        pi = atan2(0, -1)
        rim = r * 0.12
        printf "stroke #1f4e8c stroke-width %.2f fill #f7f9fc circle %.2f,%.2f %.2f,%.2f ",
            rim, cx, cy, cx, cy - (r - rim / 2)
        # hour marks; the quarter hours are longer and heavier
        for (h = 0; h < 12; h++) {
            a = h * pi / 6
            long = (h % 3 == 0)
            r1 = r * (long ? 0.62 : 0.70); r2 = r * 0.80
            printf "stroke #2b2b2b stroke-width %.2f line %.2f,%.2f %.2f,%.2f ",
                r * (long ? 0.07 : 0.04),
                cx + r1 * sin(a), cy - r1 * cos(a), cx + r2 * sin(a), cy - r2 * cos(a)
        }
        # hour hand at 10:10 (305 degrees), minute hand at 60 degrees
        hh = 305 * pi / 180; mm = 60 * pi / 180
        printf "stroke #2b2b2b stroke-width %.2f line %.2f,%.2f %.2f,%.2f ",
            r * 0.10, cx, cy, cx + r * 0.42 * sin(hh), cy - r * 0.42 * cos(hh)
        printf "stroke-width %.2f line %.2f,%.2f %.2f,%.2f ",
            r * 0.07, cx, cy, cx + r * 0.64 * sin(mm), cy - r * 0.64 * cos(mm)
        # second hand and hub
        ss = 200 * pi / 180
        printf "stroke #d23a2a stroke-width %.2f line %.2f,%.2f %.2f,%.2f ",
            r * 0.03, cx - r * 0.15 * sin(ss), cy + r * 0.15 * cos(ss),
            cx + r * 0.72 * sin(ss), cy - r * 0.72 * cos(ss)
        printf "stroke none fill #d23a2a circle %.2f,%.2f %.2f,%.2f\n",
            cx, cy, cx + r * 0.07, cy
    }'
}

# The icon: the clock face alone on a transparent background.
"$CONVERT" -size 128x128 xc:none \
    -draw "stroke-linecap round $(clock_face 64 64 61)" \
    -define icon:auto-resize=128 Quorvel.ico

# The word "Quorvel" in round-capped strokes, each letter 30 px high
# (x-height 20) on a baseline at y=0, starting at x=0; 148 px wide.
word='
    ellipse 12,-15 11,14 0,360
    line 14,-6 25,2
    path "M 34,-20 L 34,-7 A 7,7 0 0 0 48,-7 M 48,-20 L 48,0"
    ellipse 64,-10 8,10 0,360
    path "M 82,-20 L 82,0 M 82,-11 A 9,9 0 0 1 94,-19"
    path "M 98,-20 L 106,0 L 114,-20"
    path "M 120,-10 L 136,-10 A 8,10 0 1 0 133,-3"
    line 145,-30 145,0
'

# The About picture: an evening-to-day gradient, a large clock and the name.
"$CONVERT" -size 300x265 gradient:'#0d2a52-#78b4e3' \
    -draw "stroke-linecap round $(clock_face 150 100 78)" \
    -fill none -stroke '#0d2a52' -strokewidth 6 \
    -draw "stroke-linecap round stroke-linejoin round translate 78,243 $word" \
    -fill none -stroke white -strokewidth 4 \
    -draw "stroke-linecap round stroke-linejoin round translate 76,241 $word" \
    -alpha off -type TrueColor -compress None BMP3:about.bmp
