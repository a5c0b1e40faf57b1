#!/bin/bash
# Makes the contact sheet of the bundled demo shown in docs/demo.md: one frame every 4 s, drawn
# by holdfast-capture stepping only those times (seconds; stepping every frame a player draws
# takes the better part of an hour under llvmpipe on a busy machine), then made smaller (a palette
# of 256 colours) so the picture can live in the repository.
#   tools/make-sheet.sh BUILD_DIR [OUT.png]      (default OUT: docs/demo-sheet.png)
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ] || [ ! -x "$1/bin/holdfast-capture" ]; then
    echo "usage: tools/make-sheet.sh BUILD_DIR [OUT.png]   (BUILD_DIR/bin must hold the built tools)" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
out=${2:-$root/docs/demo-sheet.png}
# The sheet replaces a regular file only, never a FIFO, device or symbolic link of that name.
if [ -L "$out" ] || { [ -e "$out" ] && [ ! -f "$out" ]; }; then
    echo "make-sheet.sh: will not write $out: it exists and is not a regular file" >&2
    exit 2
fi
bash "$root/tools/make-demo.sh" "$build"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# 2 s into each 4 s, away from the section changes, which fall on whole multiples of 4 s; and on
# the last sixteenth of a beat, where only the build's fastest roll flashes (a frame drawn alone
# shows a flash at its start).
"$build/bin/holdfast-capture" --data "$build/demo/data.qzd" --sparse --from 2435 --to 286000 --step 4000 \
    --columns 8 --sheet "$tmp/sheet.png"
if command -v ffmpeg >/dev/null 2>&1; then
    ffmpeg -loglevel error -y -i "$tmp/sheet.png" \
        -vf "split[a][b];[a]palettegen=max_colors=256[p];[b][p]paletteuse=dither=bayer" "$tmp/small.png"
    mv -f "$tmp/small.png" "$out"
else
    mv -f "$tmp/sheet.png" "$out"
fi
ls -l "$out"
