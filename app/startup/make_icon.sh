#!/usr/bin/env bash
# Draws the program icon, a stylised LED strip, and writes korvane.ico with
# the sizes 16 to 256. Needs ImageMagick. The result is committed; run this
# again only to change the image.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 256 px master: a dark rounded panel with a band of lit LEDs in three colours.
draw=()
for row in 0 1 2 3 4; do
  for col in 0 1 2 3 4 5 6; do
    x=$((40 + col * 29)); y=$((70 + row * 29))
    case $(( (col + row) % 5 )) in
      0|1) colour='#ff3b30' ;;
      2) colour='#ffcc00' ;;
      3) colour='#34c759' ;;
      *) colour='#3a3a48' ;;
    esac
    draw+=(-fill "$colour" -draw "circle $x,$y $((x + 10)),$y")
  done
done
convert -size 256x256 xc:none \
  -fill '#1c1c28' -stroke '#6b6b80' -strokewidth 6 -draw 'roundrectangle 10,40 246,216 28,28' \
  -stroke none "${draw[@]}" "$work/master.png"
for size in 16 24 32 48 64 256; do
  convert "$work/master.png" -resize "${size}x${size}" -depth 8 "PNG32:$work/icon-$size.png"
done
convert "$work"/icon-{16,24,32,48,64,256}.png "$here/korvane.ico"
