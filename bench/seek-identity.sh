#!/bin/sh
# Jumps the preview to every STEP ms of a demo and compares each frame it shows with the capture
# tool's frame at the same time (stepped from the start at 60 fps), byte for byte: both tools
# write the same PNG encoding, so equal files are equal pixels. Prints the jump times and the
# count of identical frames; lists the times that differ. Needs an X display (xvfb-run).
#   bench/seek-identity.sh [BUILD_DIR] [DATA] [STEP] [LAST]
set -eu
BUILD=${1:-build}
DATA=${2:-$BUILD/demo/data.qzd}
STEP=${3:-5000}
LAST=${4:-285000}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
TIMES=$(seq -s, 0 "$STEP" "$LAST")
export HOLDFAST_UNATTENDED=1 SDL_AUDIODRIVER=dummy

"$BUILD/bin/holdfast-preview" --data "$DATA" --seek-frames "$TIMES" --out "$WORK/jumped" 2>"$WORK/preview.log"
grep -E "jumps," "$WORK/preview.log"
echo "capturing the reference frames (every frame from the start; minutes for a long demo)"
"$BUILD/bin/holdfast-capture" --data "$DATA" --times "$TIMES" --out "$WORK/stepped" 2>/dev/null

same=0
total=0
for reference in "$WORK"/stepped/frame_*.png; do
    name=$(basename "$reference")
    total=$((total + 1))
    if cmp -s "$reference" "$WORK/jumped/$name"; then
        same=$((same + 1))
    else
        echo "differs: $name"
    fi
done
echo "identical: $same of $total"
[ "$same" -eq "$total" ]
