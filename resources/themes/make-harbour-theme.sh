#!/usr/bin/env bash
# Draws the sample bookshelf theme "Harbour" with ImageMagick and packs it
# as "Leafbright Harbour.lbt" beside this script. Run by hand when the
# drawing changes; the package is kept in the repository.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# One shelf: a night-blue back wall with faint planks, a pale board with a
# lit edge and a shadow above it.  $1 file, $2 width px, $3 height px, $4 scale
shelf() {
  local f=$1 w=$2 h=$3 s=$4 board=$((14 * $4))
  local top=$((h - board))
  convert -size "${w}x${h}" xc:'#1d3557' \
    -fill '#22406a' -draw "rectangle 0,$((8 * s)) $w,$((30 * s))" \
    -fill '#22406a' -draw "rectangle 0,$((60 * s)) $w,$((82 * s))" \
    -fill '#17304f' -draw "rectangle 0,$((top - 5 * s)) $w,$((top - 1))" \
    -fill '#c9d6df' -draw "rectangle 0,$top $w,$((h - 1))" \
    -fill '#f1f6f9' -draw "rectangle 0,$top $w,$((top + 2 * s))" \
    -fill '#7f97a8' -draw "rectangle 0,$((h - 2 * s)) $w,$((h - 1))" \
    +dither -colors 16 -strip -define png:compression-level=9 "$f"
}
for pair in 375:bookshelf_bg_375@2x.png 414:bookshelf_bg_414@2x.png 568:bookshelf_bg_long_4inch@2x.png \
            667:bookshelf_bg_667@2x.png 736:bookshelf_bg_736@2x.png; do
  shelf "${pair#*:}" $((${pair%%:*} * 2)) 278 2
done
for pair in 768:bookshelf_bg_ipad@2x.png 1024:bookshelf_bg_1024_ipad@2x.png 1366:bookshelf_bg_1366_ipad@2x.png; do
  shelf "${pair#*:}" $((${pair%%:*} * 2)) 400 2
done

# Bars: the same blue, a lit line on the edge that meets the list.
bar() { # $1 file, $2 width, $3 height, $4 edge (top|bottom)
  local y=$(( $4 == 1 ? $3 - 2 : 0 ))
  convert -size "${2}x${3}" xc:'#16304f' -fill '#2a5a8a' -draw "rectangle 0,$y $2,$((y + 1))" \
    +dither -colors 8 -strip -define png:compression-level=9 "$1"
}
for f in bookshelf_nv_p.png bookshelf_nv_375X_up.png; do bar "$f" 375 44 1; done
bar bookshelf_nv_l.png 812 44 1
bar bookshelf_nv_l_ipad.png 1366 50 1
bar bookshelf_tb_p.png 375 44 0
bar bookshelf_tb_l.png 812 44 0
bar bookshelf_tb_l_ipad.png 1366 50 0

# A book's place: a soft shadow where the cover stands.  $1 file, $2 scale
book() {
  local s=$2 x=$((11 * $2)) y=$((8 * $2)) w=$((74 * $2)) h=$((96 * $2))
  convert -size "$((96 * s))x$((118 * s))" xc:none \
    -fill '#0b1a2e80' -draw "rectangle $((x + 3 * s)),$((y + 3 * s)) $((x + w + 3 * s)),$((y + h + 3 * s))" \
    -strip -define png:compression-level=9 "$1"
}
book bookshelf_book.png 1
book bookshelf_book@2x.png 2
# The pad's covers are 134 x 166 with the book at 15, 11, 104 x 134.
convert -size 134x166 xc:none -fill '#0b1a2e80' -draw "rectangle 19,15 123,149" -strip bookshelf_book_ipad.png

# A cover still loading: a pale card with a wave.  $1 file, $2 width, $3 height
noload() {
  convert -size "${2}x${3}" xc:'#e8eef2' -fill none -stroke '#9fb3c2' -strokewidth 3 \
    -draw "bezier 8,$(($3 * 2 / 3)) $(($2 / 3)),$(($3 / 2)) $(($2 * 2 / 3)),$(($3 * 5 / 6)) $(($2 - 8)),$(($3 * 2 / 3))" \
    -stroke '#c9d6df' -strokewidth 2 -draw "rectangle 1,1 $(($2 - 2)),$(($3 - 2))" \
    +dither -colors 16 -strip -define png:compression-level=9 "$1"
}
noload bookshelf_noload.png 74 96
noload bookshelf_noload@2x.png 148 192
noload bookshelf_noload_ipad.png 104 134

# Folders: a sea-blue folder in the upper part of the place, the name below
# it on the wall; the remote one carries a lighthouse beam.  $1 file, $2 scale, $3 remote
folder() {
  local s=$2
  local draw=(-fill '#3a7ca5' -draw "roundrectangle $((14 * s)),$((6 * s)) $((50 * s)),$((18 * s)) $((3 * s)),$((3 * s))"
              -fill '#4f9bc9' -draw "roundrectangle $((14 * s)),$((12 * s)) $((82 * s)),$((72 * s)) $((5 * s)),$((5 * s))"
              -fill '#6fb3dc' -draw "rectangle $((14 * s)),$((12 * s)) $((82 * s)),$((16 * s))")
  if [ "$3" = 1 ]; then
    draw+=(-fill '#ffd479' -draw "polygon $((48 * s)),$((42 * s)) $((80 * s)),$((28 * s)) $((80 * s)),$((56 * s))"
           -fill '#f1f6f9' -draw "rectangle $((40 * s)),$((34 * s)) $((48 * s)),$((68 * s))")
  fi
  convert -size "$((96 * s))x$((118 * s))" xc:none "${draw[@]}" -strip -define png:compression-level=9 "$1"
}
folder bookshelf_bgfolder.png 1 0
folder bookshelf_bgfolder@2x.png 2 0
folder bookshelf_bgfolder_remote.png 1 1
folder bookshelf_bgfolder_remote@2x.png 2 1
convert -size 134x166 xc:none -fill '#3a7ca5' -draw "roundrectangle 20,10 70,27 4,4" \
  -fill '#4f9bc9' -draw "roundrectangle 20,18 114,106 7,7" -strip bookshelf_bgfolder_ipad.png
convert bookshelf_bgfolder_ipad.png -fill '#ffd479' -draw "polygon 67,66 112,46 112,86" \
  -fill '#f1f6f9' -draw "rectangle 56,55 67,102" -strip bookshelf_bgfolder_remote_ipad.png

printf 'ThemeName Harbour\r\nBookImagePosX 11\r\nBookImagePosY 8\r\nFolderImagePosX 24\r\nFolderImagePosY 20\r\nFolderImageWidth 48\r\nFolderImageHeight 48\r\nBookLabelPosX 13\r\nBookLabelPosY 15\r\nBookLabelWidth 69\r\nBookLabelHeight 90\r\nFolderLabelPosX 13\r\nFolderLabelPosY 74\r\nFolderLabelWidth 69\r\nFolderLabelHeight 34\r\nTintColor #FFD479\r\n' > theme.txt
printf 'ThemeName Harbour\r\nBookImagePosX 15\r\nBookImagePosY 11\r\nFolderImagePosX 33\r\nFolderImagePosY 30\r\nFolderImageWidth 66\r\nFolderImageHeight 66\r\nBookLabelPosX 18\r\nBookLabelPosY 22\r\nBookLabelWidth 95\r\nBookLabelHeight 110\r\nFolderLabelPosX 18\r\nFolderLabelPosY 108\r\nFolderLabelWidth 95\r\nFolderLabelHeight 48\r\nTintColor #FFD479\r\n' > theme_ipad.txt

out="$here/Leafbright Harbour.lbt"
rm -f "$out"
# Fixed times so that the package changes only when the drawing does.
touch -d 2026-01-01T00:00:00Z ./*
zip -q -X -9 "$out" ./*.png theme.txt theme_ipad.txt
ls -l "$out"
