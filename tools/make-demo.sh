#!/bin/bash
# Makes the bundled demo in DEMO_DIR (default BUILD_DIR/demo): music.ogg and data.qzd (the script
# and the loading picture, packed with the player's password). Uses the tools in BUILD_DIR/bin;
# does nothing that is already up to date, and replaces finished files only whole.
#   tools/make-demo.sh BUILD_DIR [DEMO_DIR]
# Installed (cmake --install) it is PREFIX/bin/holdfast-make-demo: holdfast-make-demo PREFIX DEMO_DIR.
set -euo pipefail

usage="usage: make-demo.sh BUILD_DIR [DEMO_DIR]   (BUILD_DIR/bin must hold the built tools)"
if [ "${1:-}" = --help ]; then
    echo "$usage"
    exit 0
fi
if [ $# -lt 1 ] || [ $# -gt 2 ] || [ ! -d "$1/bin" ]; then
    echo "$usage" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
# The source tree keeps the content beside tools/; an installed tree under share/holdfast.
content="$root/content"
[ -d "$content" ] || content="$root/share/holdfast/content"
bin="$build/bin"
demo="${2:-$build/demo}"
mkdir -p "$demo"
demo=$(cd "$demo" && pwd)
# One maker at a time (parallel test runs call this too); a later one finds everything made.
exec 9>"$demo/.lock"
flock 9

if [ ! -s "$demo/music.ogg" ] || [ "$bin/holdfast-makemusic" -nt "$demo/music.ogg" ]; then
    "$bin/holdfast-makemusic" "$demo/music.ogg.tmp.$$"
    mv -f "$demo/music.ogg.tmp.$$" "$demo/music.ogg"
fi

stale=0
if [ ! -s "$demo/data.qzd" ]; then
    stale=1
else
    while IFS= read -r -d '' source; do
        if [ "$source" -nt "$demo/data.qzd" ]; then stale=1; break; fi
    done < <(find "$content" "$bin/holdfast-makedemo" "$bin/holdfast-pack" -type f -print0)
fi
if [ "$stale" = 1 ]; then
    stage="$demo/stage.$$"
    rm -rf "$stage"
    trap 'rm -rf "$stage" "$demo/data.qzd.tmp.$$"' EXIT
    "$bin/holdfast-makedemo" --content "$content" --out "$stage"
    "$bin/holdfast-pack" create "$demo/data.qzd.tmp.$$" "$stage" --password tolvrask --compress >/dev/null
    mv -f "$demo/data.qzd.tmp.$$" "$demo/data.qzd"
fi
