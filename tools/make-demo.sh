#!/bin/bash
# Makes the bundled demo in DEMO_DIR (default PREFIX/demo): music.ogg and data.qzd (the script and
# the loading picture, packed with the player's password). PREFIX is a build folder or an install
# prefix: PREFIX/bin holds the tools it runs. Does nothing that is already up to date, and
# replaces finished files only whole.
#   tools/make-demo.sh PREFIX [DEMO_DIR]
# Installed (cmake --install) it is PREFIX/bin/holdfast-make-demo: holdfast-make-demo PREFIX DEMO_DIR.
set -euo pipefail

name=$(basename "$0")
root=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: $name PREFIX [DEMO_DIR]   (PREFIX/bin holds the built or installed tools; DEMO_DIR defaults to PREFIX/demo)"
case "${1:-}" in
--help)
    echo "$usage"
    echo
    echo "Makes the bundled demo: music.ogg and the data archive data.qzd in DEMO_DIR."
    echo "  --help     this text"
    echo "  --version  the version"
    exit 0
    ;;
--version)
    # Installed, the tools beside it know the version; in the source tree the project file does.
    if [ -x "$(dirname "$0")/holdfast-script" ]; then
        version=$("$(dirname "$0")/holdfast-script" --version)
        version=${version##* }
    else
        version=$(sed -n 's/^project(holdfast VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
    fi
    echo "holdfast-make-demo $version"
    exit 0
    ;;
esac
if [ $# -lt 1 ] || [ $# -gt 2 ] || [ ! -d "$1/bin" ]; then
    echo "$usage" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
# The source tree keeps the content beside tools/; an installed tree under share/holdfast.
content="$root/content"
[ -d "$content" ] || content="$root/share/holdfast/content"
bin="$build/bin"
demo="${2:-$build/demo}"
mkdir -p "$demo"
demo=$(cd "$demo" && pwd)
# One maker at a time (parallel test runs call this too); a later one finds everything made. The
# lock is on the folder itself, so nothing is left behind in it.
exec 9<"$demo"
flock 9

# Finished files replace regular files only: a FIFO, device or link under the name is left alone
# (the rename would replace it, and the size checks below would take a FIFO for a missing file).
for output in "$demo/music.ogg" "$demo/data.qzd"; do
    if [ -L "$output" ] || { [ -e "$output" ] && [ ! -f "$output" ]; }; then
        echo "$name: will not replace $output: it exists and is not a regular file" >&2
        exit 1
    fi
done

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
