#!/bin/sh
# How long after a picture of the bundled demo is saved the preview shows a frame with it, without
# a key: the demo's folder is made with holdfast-makedemo, the preview is started at each TIME,
# paused (a saved picture makes it jump to where it is) and playing (the next frame shows it), and
# the plasma picture is saved over three times as an editor saves (a new file renamed over the old
# one). The preview prints, for each edit, the time from the file's write to the swap of the first
# frame drawn with it; this prints those figures. Needs an X display (xvfb-run).
# With EDIT=shader the lattice's program (data/shaders/lattice.frag) is saved instead, a line
# added and taken away again: the preview builds it into the running effect, no jump. EDIT=script
# does the same to the script, which loads the demo again and jumps (what a saved shader cost
# before it was reloaded in place).
#   [EDIT=shader|script] bench/preview-edit-latency.sh [BUILD_DIR] [TIMES]
#   (default times: outside the Blur sections; for the shader and the script, 234000, in the lattice)
set -eu
BUILD=${1:-build}
EDIT=${EDIT:-picture}
if [ "$EDIT" != picture ]; then
    TIMES=${2:-234000}
else
    TIMES=${2:-"20000 40000 140000 200000 250000"}
fi
ROOT=$(cd "$(dirname "$0")/.." && pwd)
WORK=$(mktemp -d)
PID=
trap '[ -n "$PID" ] && kill "$PID" 2>/dev/null; rm -rf "$WORK"' EXIT
export HOLDFAST_UNATTENDED=1 SDL_AUDIODRIVER=dummy

"$BUILD/bin/holdfast-makedemo" --content "$ROOT/content" --out "$WORK/demo" >/dev/null
# The demo's oscilloscope needs the sound running: the music made once (tools/make-demo.sh) or now.
if [ -s "$BUILD/demo/music.ogg" ]; then
    cp "$BUILD/demo/music.ogg" "$WORK/demo/"
else
    "$BUILD/bin/holdfast-makemusic" "$WORK/demo/music.ogg" >/dev/null 2>&1
fi
if [ "$EDIT" != picture ]; then
    PICTURE="$WORK/demo/data/shaders/lattice.frag"
    [ "$EDIT" = script ] && PICTURE="$WORK/demo/data/scripts/demo.scr"
    cp "$PICTURE" "$WORK/a"
    { cat "$PICTURE"; echo "// saved again"; } > "$WORK/b"
else
    PICTURE="$WORK/demo/data/images/plasma.png"
    cp "$PICTURE" "$WORK/a"
    cp "$WORK/demo/data/images/loading.png" "$WORK/b" # another picture of the same kind
fi

# Waits up to 60 s until the log holds COUNT lines matching PATTERN.
wait_for() {
    i=0
    while :; do
        found=$(grep -c "$2" "$1" 2>/dev/null) || found=${found:-0}
        [ "$found" -lt "$3" ] || return 0
        i=$((i + 1))
        [ "$i" -lt 600 ] || { echo "timed out waiting for '$2' in $1" >&2; cat "$1" >&2; exit 1; }
        sleep 0.1
    done
}

for T in $TIMES; do
    for MODE in paused playing; do
        LOG="$WORK/preview-$T-$MODE.log"
        FLAG=
        [ "$MODE" = paused ] && FLAG=--paused
        "$BUILD/bin/holdfast-preview" --data "$WORK/demo" --at "$T" $FLAG 2>"$LOG" &
        PID=$!
        wait_for "$LOG" "jump to" 1
        n=0
        for picture in b a b; do
            n=$((n + 1))
            sleep 0.3
            cp "$WORK/$picture" "$PICTURE.new"
            mv -f "$PICTURE.new" "$PICTURE"
            wait_for "$LOG" "the edit shows" "$n"
        done
        kill "$PID"
        wait "$PID" 2>/dev/null || true
        PID=
        printf '%6s ms, %-7s: ' "$T" "$MODE"
        grep "the edit shows" "$LOG" | sed 's/.*shows \([0-9]*\) ms after it was saved.*/\1/' | tr '\n' ' '
        echo "(ms from the save to the frame)"
    done
done
