#!/bin/bash
# Tries the scene, morph-data and program readers with hostile and careless input, as a user who
# makes (or is handed) such files would, and writes what happened to docs/reliability.md (also
# printed): for each case the tool, its exit status, the time it took, its peak memory and the
# first line it reported. Every run has an address-space cap and a time limit:
#   - object graphs: 300 000 nested dummies, 1 000 000 bare objects, objects at and past the
#     object and nesting limits, one material with 500 000 texture slots, nine lights;
#   - hierarchies of 29 and 40 levels drawn hierarchically (deeper than the GL matrix stack);
#   - Hode's morph data: a sparse file of 1.9 GB, zero and negative frame counts, 0 to 3 bytes,
#     a trailing byte;
#   - the depth-of-field program text at 10 MB;
#   - stored names leading out of the demo, an unknown chunk, another version;
#   - model import (holdfast-scene import): glTF nodes shared by two parents on 16 and 20 levels,
#     a scene listing its root 200 000 times, 20 000 nodes of one name, OBJ files of 200 000 and
#     of 100 000 objects, a number of a million digits, an embedded 30000 x 30000 picture, a buffer
#     and a material file outside the model's folder;
#   - data files: a solid archive of 100 pictures against the same archive not solid, a 16 x 16
#     PNG padded to 1.9 GB, a progressive JPEG of 50 000 scans, a picture named "../outside.png",
#     a music.ogg padded to 4 GB, and a FIFO as the music;
#   - holdfast-preview --rocket on the bundled demo against a hostile editor
#     (bench/reliability/rocket-hostile.py): 10 000 000 keys on falling rows, a cursor moved to
#     row 0xFFFFFFFF and to 2147483000 ms with DEMO_LENGTH 2147483647, a save onto a read-only script;
#   - the preview's file watching and reloads (bench/reliability/preview-watch.py drives each, with
#     at least 300 s): a loop of links under data/, more file events than the system queues, data/
#     deleted and made again, ten saves alternating 500 pictures and one, a reload failing half way;
#   - holdfast-script --check on music that is a FIFO or 1 s of music padded to 4 GB, 1 000 000
#     timed signals, 200 000 keys outside their values, 100 000 missing pictures, a file name with
#     a newline and an escape, and a SIGINT in the middle (bench/reliability/checker-cases.sh).
# holdfast-scene info reads each scene file; the player plays it from a packed demo; the morph and
# program cases run through holdfast-capture on a demo folder (the same loaders, no archive); the
# data-file cases run through holdfast-script --check and the player or holdfast-capture.
#
#   bench/reliability.sh [BUILD_DIR]     (default: build; a Release build is meant)
# Environment:
#   RELIABILITY_CAP_MB=N     address-space cap per run (default 2048)
#   RELIABILITY_TIMEOUT=S    time limit per run (default 60)
#   RELIABILITY_OUT=FILE     where the report goes (default docs/reliability.md)
# Without a display everything runs under one xvfb-run.
set -euo pipefail

if [ "${1:-}" = --help ] || [ "${1:-}" = -h ]; then
    sed -n '2,38p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
fi
root=$(cd "$(dirname "$0")/.." && pwd)
fail() {
    echo "bench/reliability.sh: $*" >&2
    exit 2
}
[ -d "${1:-$root/build}" ] || fail "no build folder ${1:-$root/build} (build first: see README.md)"
build=$(cd "${1:-$root/build}" && pwd)
bin="$build/bin"
cap_mb=${RELIABILITY_CAP_MB:-2048}
limit=${RELIABILITY_TIMEOUT:-60}
out=${RELIABILITY_OUT:-$root/docs/reliability.md}
for program in holdfast holdfast-scene holdfast-pack holdfast-capture holdfast-script holdfast-makemusic holdfast-makedemo \
    holdfast-preview hostile-scenes hostile-files; do
    [ -x "$bin/$program" ] || fail "$bin/$program is missing (build the project with its benchmarks)"
done
for tool in xvfb-run timeout truncate python3; do
    command -v "$tool" > /dev/null || fail "$tool is missing (scripts/deps.sh installs what the project needs)"
done
[ -x /usr/bin/time ] || fail "/usr/bin/time is missing (Debian package time; scripts/deps.sh installs it)"
if [ -z "${DISPLAY:-}" ] && [ -z "${RELIABILITY_UNDER_XVFB:-}" ]; then
    exec env RELIABILITY_UNDER_XVFB=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build"
fi

export HOLDFAST_UNATTENDED=1 SDL_AUDIODRIVER=dummy
unset HOLDFAST_STATS GALLIUM_NOOP
tmp=$(mktemp -d /tmp/holdfast-reliability-XXXXXX)
trap 'rm -rf "$tmp"' EXIT
started=$(date +%s)
rows=()
runs=0
crashes=0

# run CLASS CASE LIMIT DIR PROGRAM ARGS...: one capped, timed run in DIR; adds a row. The time
# limit is RUN_LIMIT seconds when set.
run() {
    local class=$1 case=$2 lim=$3 dir=$4
    shift 4
    local err="$tmp/err" out="$tmp/out" stats="$tmp/stats" rc=0 seconds_limit=${RUN_LIMIT:-$limit}
    (cd "$dir" && ulimit -v $((cap_mb * 1024)) &&
        exec /usr/bin/time -f "%e %M" -o "$stats" timeout -k 5 "$seconds_limit" "$@") > "$out" 2> "$err" || rc=$?
    local seconds kb
    read -r seconds kb < <(tail -1 "$stats" 2> /dev/null || echo "? 0")
    local said
    # The first report about the input (start-up notes such as a missing music file are not); the
    # checker's findings come on stdout.
    said=$(cat "$err" "$out" | grep -v "no music at" |
        grep -m1 -E "^preview watch: |^rocket-hostile|regular file|Scene file|Morph data|morphdata|Texture|DOF|^holdfast-scene:|scene|GL error|assert|Sanitizer|bad_alloc|terminate|Segmentation|Data file|picture|Music|: (error|warning): |Image" |
        sed -e 's/^error: [^ ]* //' -e "s|$tmp/[^/]*/||g" -e 's/|/\\|/g' | cut -c1-480 || true)
    local outcome
    # The preview watch driver words its own outcome.
    local own=${said#preview watch: }
    case $rc in
    0) outcome=${said:+"reported, the run went on: $said"} outcome=${outcome:-"ran, nothing reported"}
       if [ "$own" != "$said" ]; then outcome="ran: $own"; fi ;;
    124 | 137) outcome="timed out after ${seconds_limit} s" ;;
    1 | 2) outcome="refused (exit $rc): $said" ;;
    *) outcome="**crashed (exit $rc)**: $said"; crashes=$((crashes + 1)) ;;
    esac
    runs=$((runs + 1))
    rows+=("| $class | $case | $(basename "$1") | $outcome | $seconds | $((kb / 1024)) | $lim |")
    echo "$class / $case / $(basename "$1"): exit $rc, ${seconds} s, $((kb / 1024)) MB" >&2
}

# A packed demo in DIR whose script is the lines given, with scene f.qzg copied from SCENE. It
# starts past its end: the player loads everything, draws one frame and ends.
packed_demo() {
    local dir=$1 scene=$2 body=$3
    mkdir -p "$dir/src/data/scripts" "$dir/src/data/scenes"
    cp "$scene" "$dir/src/data/scenes/f.qzg"
    printf '__HEADER__\nDEMO_START 300000\nDEMO_END 286000\n__DEFS__\n%b' "$body" > "$dir/src/data/scripts/demo.scr"
    "$bin/holdfast-pack" create "$dir/data.qzd" "$dir/src" --password tolvrask > /dev/null 2>&1
}

scene_script='DEFINE SELECT 6\nDEFINE HIER 16\nINSERT_EFFECT Scene0\n__SETUP__\n0 SIGNAL Scene0 Datafile "data/scenes/f.qzg"\n__TIMELINE__\n0 BEGIN Scene0\n0 INIT Scene0\n0 SIGNAL Scene0 Camera 0\n0 TRIGGER Scene0 SELECT "Level0"\n0 TRIGGER Scene0 HIER 1\n'

# scene_case CLASS CASE LIMIT KIND N: holdfast-scene info and the player on one generated file.
scene_case() {
    local class=$1 case=$2 lim=$3 kind=$4 n=$5
    local dir="$tmp/$kind-$n"
    mkdir -p "$dir"
    "$bin/hostile-scenes" "$kind" "$n" "$dir/f.qzg"
    run "$class" "$case" "$lim" "$dir" "$bin/holdfast-scene" info f.qzg
    packed_demo "$dir/demo" "$dir/f.qzg" "$scene_script"
    run "$class" "$case" "$lim" "$dir/demo" "$bin/holdfast"
}

scene_case "object graph" "300 000 nested dummies" "100 000 objects" nested 300000
scene_case "object graph" "1 000 000 bare objects" "100 000 objects" bare 1000000
scene_case "object graph" "100 000 bare objects (at the limit)" "100 000 objects" bare 100000
scene_case "object graph" "257 nested dummies" "256 levels" nested 257
scene_case "object graph" "500 000 texture slots in one material" "256 slots" slots 500000
scene_case "lights" "9 lights" "8 lights" lights 9
scene_case "hierarchy" "29 levels drawn hierarchically" "none (deeper levels keep their matrix on the CPU)" deep 29
scene_case "hierarchy" "256 levels (255 dummies and the quad) drawn hierarchically" "256 levels" deep 255
scene_case "stored paths" "texture name with ../" "inside data/textures" outside 0
scene_case "messages" "unknown chunk id 8" "fatal, named" chunk 8
scene_case "messages" "version 2" "refused, named" version 2

# Morph data and the program text through holdfast-capture on a demo folder.
folder_demo() {
    local dir=$1 body=$2
    mkdir -p "$dir/data/scripts" "$dir/data/scenes" "$dir/data/shaders"
    "$bin/hostile-scenes" version 1 "$dir/data/scenes/f.qzg"
    printf '__HEADER__\nDEMO_START 0\nDEMO_END 600\n__DEFS__\n%b' "$body" > "$dir/data/scripts/demo.scr"
}
hode='INSERT_EFFECT Hode\n__SETUP__\n0 SIGNAL Hode Datafile "data/scenes/f.qzg"\n__TIMELINE__\n0 BEGIN Hode\n'
morph_case() {
    local case=$1 lim=$2 dir="$tmp/morph-$3"
    folder_demo "$dir" "$hode"
    local pmd="$dir/data/scenes/morphdata_Box01.pmd"
    case $3 in
    huge) printf '\x01\x00\x00\x00' > "$pmd" && truncate -s 1900000000 "$pmd" ;;
    zero) printf '\x00\x00\x00\x00' > "$pmd" ;;
    negative) printf '\xff\xff\xff\xff' > "$pmd" ;;
    empty) : > "$pmd" ;;
    three) printf '\x01\x00\x00' > "$pmd" ;;
    trailing) { printf '\x01\x00\x00\x00'; head -c $((4 * 24)) /dev/zero; printf '\x00'; } > "$pmd" ;;
    esac
    run "morph data (Hode)" "$case" "$lim" "$dir" "$bin/holdfast-capture" --data . --times 100 --out "$dir/out"
}
morph_case "sparse file of 1.9 GB" "256 MiB of frames" huge
morph_case "zero frames" "does not morph" zero
morph_case "negative frame count" "refused, named" negative
morph_case "0 bytes" "refused, named" empty
morph_case "3 bytes" "refused, named" three
morph_case "one byte after the frames" "whole frames only" trailing

dir="$tmp/dof"
folder_demo "$dir" 'DEFINE LINK 2\nINSERT_EFFECT Scene0\nINSERT_EFFECT DOF\n__SETUP__\n0 SIGNAL Scene0 Datafile "data/scenes/f.qzg"\n__TIMELINE__\n0 BEGIN Scene0\n0 BEGIN DOF\n0 TRIGGER DOF LINK "Scene0"\n'
{
    echo '!!ARBfp1.0'
    echo 'TEMP r;'
    echo 'MOV r, fragment.color;'
    yes 'ADD r, r, r;' | head -n 800000 || true
    echo 'MOV result.color, r;'
    echo 'END'
} > "$dir/data/shaders/dof_light.qzs"
run "program text" "DOF program of $(($(stat -c %s "$dir/data/shaders/dof_light.qzs") / 1000000)) MB" "64 KiB" "$dir" \
    "$bin/holdfast-capture" --data . --times 100 --out "$dir/out"

# Model import: hostile and careless models, written here; each import writes into a demo folder.
model_dir="$tmp/models"
mkdir -p "$model_dir/model" "$model_dir/demo/data/scenes"
gltf_head='{"asset":{"version":"2.0"},"scene":0,'
# One triangle, its buffer inline.
gltf_triangle='"meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],"buffers":[{"byteLength":36,"uri":"data:application/octet-stream;base64,AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAACAPwAAgD8AAAAA"}],"bufferViews":[{"buffer":0,"byteLength":36}],"accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],"max":[1,1,0]}]'
# shared_nodes LEVELS: two nodes a level, each a child of both above, the last ones holding the mesh.
shared_nodes() {
    awk -v n="$1" 'BEGIN { for (l = 0; l < n; l++) for (k = 0; k < 2; k++) {
        printf "%s{\"name\":\"L%d_%d\"", (l || k ? "," : ""), l, k
        if (l + 1 < n) printf ",\"children\":[%d,%d]}", 2 * l + 2, 2 * l + 3; else printf ",\"mesh\":0}" } }'
}
# repeated N TEXT: TEXT N times, comma-separated.
repeated() { awk -v n="$1" -v t="$2" 'BEGIN { for (i = 0; i < n; i++) printf "%s%s", (i ? "," : ""), t }'; }
model_case() {
    local case=$1 lim=$2 file=$3
    shift 3
    run "model import" "$case" "$lim" "$model_dir" "$bin/holdfast-scene" import "$@" "model/$file" demo/data/scenes/out.qzg
}
for levels in 16 20; do
    printf '%s"scenes":[{"nodes":[0,1]}],"nodes":[%s],%s}' "$gltf_head" "$(shared_nodes $levels)" "$gltf_triangle" \
        > "$model_dir/model/shared$levels.gltf"
    model_case "glTF nodes shared by two parents, $levels levels" "each node reached once" "shared$levels.gltf"
done
printf '%s"scenes":[{"nodes":[%s]}],"nodes":[{"name":"Root","mesh":0}],%s}' "$gltf_head" "$(repeated 200000 0)" \
    "$gltf_triangle" > "$model_dir/model/roots.gltf"
model_case "a scene listing its root node 200 000 times" "each node reached once" roots.gltf
printf '%s"scenes":[{"nodes":[%s]}],"nodes":[%s],%s}' "$gltf_head" "$(seq -s, 0 19999)" \
    "$(repeated 20000 '{"name":"Same","mesh":0}')" "$gltf_triangle" > "$model_dir/model/same.gltf"
model_case "20 000 nodes of one name" "100 000 objects" same.gltf
for objects in 200000 100000; do
    awk -v n="$objects" 'BEGIN { for (i = 0; i < n; i++) printf "o part%d\nv 0 0 %d\nv 1 0 %d\nv 1 1 %d\nf -3 -2 -1\n", i, i, i, i }' \
        > "$model_dir/model/objects$objects.obj"
done
model_case "OBJ of 200 000 objects" "100 000 objects" objects200000.obj
model_case "OBJ of 100 000 objects (at the limit)" "100 000 objects" objects100000.obj
{
    printf '%s"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],"extras":1' "$gltf_head"
    head -c 1000000 /dev/zero | tr '\0' 0
    printf ',%s}' "$gltf_triangle"
} > "$model_dir/model/number.gltf"
model_case "a number of a million digits" "a double's range" number.gltf
# A picture header claiming 30000 x 30000 pixels, embedded as the colour map.
huge=$(printf '\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR\x00\x00\x75\x30\x00\x00\x75\x30\x08\x02\x00\x00\x00\x00\x00\x00\x00' | base64 -w0)
printf '%s"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],"materials":[{"pbrMetallicRoughness":{"baseColorTexture":{"index":0}}}],"textures":[{"source":0}],"images":[{"uri":"data:image/png;base64,%s"}],%s}' \
    "$gltf_head" "$huge" "${gltf_triangle/\"POSITION\":0\}/\"POSITION\":0\},\"material\":0}" > "$model_dir/model/picture.gltf"
model_case "an embedded 30000 x 30000 picture" "8192 a side" picture.gltf
printf '\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x80\x3f\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x80\x3f\x00\x00\x80\x3f\x00\x00\x00\x00' > "$model_dir/secret.bin"
printf '%s"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],%s}' "$gltf_head" \
    "${gltf_triangle/data:application\/octet-stream;base64,AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAACAPwAAgD8AAAAA/../secret.bin}" \
    > "$model_dir/model/buffer.gltf"
model_case "a buffer URI ../secret.bin" "the model's folder" buffer.gltf
printf 'newmtl S\nKd 1 0 0\n' > "$model_dir/secret.mtl"
printf 'mtllib ../secret.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nusemtl S\nf 1 2 3\n' > "$model_dir/model/material.obj"
model_case "an mtllib ../secret.mtl" "the model's folder" material.obj
# Data files: archives, pictures and the music. A demo of pictures, SIGNALed into Image1 (the last
# one shown), 200 ms long: the player loads everything, draws a few frames and ends.
picture_demo() {
    local dir=$1
    shift
    mkdir -p "$dir/data/scripts" "$dir/data/images"
    {
        printf '__HEADER__\nDEMO_START 0\nDEMO_END 286000\nDEMO_LENGTH 200\n__DEFS__\nINSERT_EFFECT Image1\n__SETUP__\n'
        for picture in "$@"; do printf '0 SIGNAL Image1 Datafile "%s"\n' "$picture"; done
        printf '__TIMELINE__\n0 BEGIN Image1\n'
    } > "$dir/data/scripts/demo.scr"
}
pictures=()
for i in $(seq -f %03g 0 99); do pictures+=("data/images/pic$i.png"); done
for mode in plain solid; do
    dir="$tmp/pictures-$mode"
    picture_demo "$dir/src" "${pictures[@]}"
    "$bin/hostile-files" pictures "$dir/src/data/images" 100 256
    "$bin/holdfast-pack" create "$dir/data.qzd" "$dir/src" --password tolvrask --compress \
        $([ $mode = solid ] && echo --solid) > /dev/null 2>&1
done
for mode in plain solid; do
    run "data files" "100 pictures (9 MB), archive $([ $mode = solid ] && echo solid || echo not solid)" \
        "one pass through a solid stream" "$tmp/pictures-$mode" "$bin/holdfast-script" --check data.qzd --password tolvrask
done
for mode in plain solid; do
    run "data files" "100 pictures (9 MB), archive $([ $mode = solid ] && echo solid || echo not solid)" \
        "one pass through a solid stream" "$tmp/pictures-$mode" "$bin/holdfast"
done

dir="$tmp/padded"
picture_demo "$dir" data/images/padded.png
"$bin/hostile-files" padded-png "$dir/data/images/padded.png" 1900000000
run "data files" "16 x 16 PNG padded with zeros to 1.9 GB" "the picture's bytes only" "$dir" \
    "$bin/holdfast-script" --check .
run "data files" "16 x 16 PNG padded with zeros to 1.9 GB" "the picture's bytes only" "$dir" \
    "$bin/holdfast-capture" --data . --times 100 --out "$dir/out"

dir="$tmp/scans"
picture_demo "$dir" data/images/scans.jpg
"$bin/hostile-files" scans-jpeg "$dir/data/images/scans.jpg" 50000 2048
run "data files" "progressive 2048 x 2048 JPEG of 50 000 scans ($(($(stat -c %s "$dir/data/images/scans.jpg") / 1000000)) MB)" \
    "1000 scans" "$dir" "$bin/holdfast-script" --check .
run "data files" "progressive 2048 x 2048 JPEG of 50 000 scans ($(($(stat -c %s "$dir/data/images/scans.jpg") / 1000000)) MB)" \
    "1000 scans" "$dir" "$bin/holdfast-capture" --data . --times 100 --out "$dir/out"

dir="$tmp/escape/demo"
picture_demo "$dir" ../outside.png
"$bin/hostile-files" pictures "$tmp/escape" 1 16
mv "$tmp/escape/pic000.png" "$tmp/escape/outside.png"
run "data files" "picture named \"../outside.png\"" "inside the demo folder" "$dir" "$bin/holdfast-script" --check .
run "data files" "picture named \"../outside.png\"" "inside the demo folder" "$dir" \
    "$bin/holdfast-capture" --data . --times 100 --out "$dir/out"

dir="$tmp/music"
cp -r "$tmp/pictures-plain" "$dir"
"$bin/holdfast-makemusic" "$dir/music.ogg" --seconds 5 > /dev/null 2>&1
truncate -s 4G "$dir/music.ogg"
RUN_LIMIT=20 run "data files" "music.ogg padded with zeros to 4 GB" "the Ogg pages only" "$dir" \
    "$bin/holdfast-script" --check data.qzd --password tolvrask
RUN_LIMIT=20 run "data files" "music.ogg padded with zeros to 4 GB" "the Ogg pages only" "$dir" "$bin/holdfast"
rm "$dir/music.ogg"
mkfifo "$dir/music.ogg"
RUN_LIMIT=20 run "data files" "music.ogg is a FIFO" "regular files only" "$dir" \
    "$bin/holdfast-script" --check data.qzd --password tolvrask

# FIFOs and devices where the player and the tools read and write: refused at once, nothing replaced.
fifo="$tmp/fifo"
mkdir -p "$fifo/data/scripts"
mkfifo "$fifo/data.qzd" "$fifo/music.ogg" "$fifo/out.ogg" "$fifo/data/scripts/demo.scr"
ln -s /dev/null "$fifo/null.qzd"
run "not a regular file" "data.qzd and music.ogg are FIFOs" "regular files only" "$fifo" "$bin/holdfast"
run "not a regular file" "the archive is a FIFO" "regular files only" "$fifo" "$bin/holdfast-pack" test data.qzd
run "not a regular file" "the new archive's name links to /dev/null" "regular files only" "$fifo" \
    "$bin/holdfast-pack" create null.qzd data --password tolvrask
run "not a regular file" "OUT.ogg is a FIFO" "regular files only" "$fifo" "$bin/holdfast-makemusic" out.ogg --seconds 1
run "not a regular file" "the script is a FIFO" "regular files only" "$fifo" "$bin/holdfast-script" data/scripts/demo.scr
run "not a regular file" "the scene is a FIFO" "regular files only" "$fifo" "$bin/holdfast-scene" info data.qzd
[ -p "$fifo/out.ogg" ] && [ -L "$fifo/null.qzd" ] || fail "a FIFO or link was replaced"

# The preview's Rocket client against a hostile editor, on the bundled demo's data; the
# audio-reactive effects need music: the bundled tune's first 80 s.
rocket_demo="$tmp/rocket-demo"
"$bin/holdfast-makedemo" --content "$root/content" --out "$rocket_demo" > /dev/null
"$bin/holdfast-makemusic" "$rocket_demo/music.ogg" --seconds 80 > /dev/null 2>&1
rocket_case() {
    limit=240 run "Rocket sync" "$1" "$2" "$tmp" python3 "$root/bench/reliability/rocket-hostile.py" "$bin" \
        "$rocket_demo" "$3"
}
rocket_case "the editor sends 10 000 000 keys on falling rows" \
    "1 000 000 keys held; under 300 MB and 30 fps" flood
rocket_case "the editor's cursor at row 0xFFFFFFFF, DEMO_LENGTH 2147483647" \
    "no jump past the end; a frame at least every second" row-past-end
rocket_case "the editor's cursor at 2147483000 ms, DEMO_LENGTH 2147483647" \
    "a frame at least every second, input read" row-far
rocket_case "the editor saves onto a read-only (0444) script" "refused, the script as it was" read-only-save
# The checker against demos that once blocked it, made it crawl or forged its output.
. "$root/bench/reliability/checker-cases.sh"

# The preview's file watching and reloads, each case a paused preview driven by
# bench/reliability/preview-watch.py (which says whether the goal was met).
watch_case() {
    local case=$1 what=$2 goal=$3 dir="$tmp/watch-$1"
    mkdir -p "$dir"
    RUN_LIMIT=$((limit > 300 ? limit : 300)) run "preview watch" "$what" "$goal" "$dir" \
        "$root/bench/reliability/preview-watch.py" "$case" "$bin/holdfast-preview" "$dir"
}
watch_case loop "data/ holds l1 -> .. and l2 -> .." "first frame within 5 s"
watch_case overflow "more file events than the system queues (the preview stopped), then a save" "the save shows by itself"
watch_case recreated "data/ deleted and made again with another script" "the new script shows by itself"
watch_case memory "ten saves alternating between 500 other 256 x 256 pictures and one" \
    "RSS within 10 % of the first; after a reload within 10 % of a fresh start"
watch_case failed "a reload that loads 499 pictures and fails on the 500th" "RSS within 10 % of before"

took=$(($(date +%s) - started))
commit=$(git -C "$root" rev-parse --short HEAD 2> /dev/null || echo unknown)
{
    echo "# Reliability"
    echo
    echo "Tried by \`bench/reliability.sh\` on $(date -u '+%Y-%m-%d %H:%M') UTC, commit $commit: $runs runs, each under a"
    echo "${cap_mb} MB address-space cap (\`ulimit -v\`) and a ${limit} s time limit (240 s for the Rocket cases, 300 s for the preview watch cases); $crashes crashed."
    echo "The run took ${took} s; load average (1, 5, 15 min) afterwards: $(cut -d' ' -f1-3 /proc/loadavg)."
    echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $(nproc) cores; Xvfb with Mesa llvmpipe."
    echo
    echo "## Regenerating"
    echo
    echo '```sh'
    echo 'bench/reliability.sh [BUILD_DIR]     # default build/; rewrites this file'
    echo '```'
    echo
    echo "The hostile scene files are written at run time by \`hostile-scenes\` (bench/reliability/), the"
    echo "morph files and the program text by the script itself; nothing hostile is kept in the tree."
    echo "\`holdfast-scene info\` reads each scene, the player plays it from a packed demo (Scene0, its"
    echo "top object switched to hierarchical drawing), and the morph and program cases run through"
    echo "\`holdfast-capture\` on a demo folder. Seconds and peak memory are the whole run's, start-up and"
    echo "the driver included. The limits are those of docs/scene-format.md; what each refusal does in"
    echo "the player (a non-fatal report and the scene left out, or the demo ended) is in docs/authoring.md."
    echo "The model import cases are written by the script too and imported into a demo folder's"
    echo "data/scenes/ by \`holdfast-scene import\`."
    echo "The data-file cases (pictures by \`hostile-files\`) run through \`holdfast-script --check\` and the"
    echo "player (a packed demo) or \`holdfast-capture\` (a folder); their limits are in docs/archive.md."
    echo "The class \"not a regular file\" puts FIFOs and links to devices where the player and the tools"
    echo "read and write; the script fails if any of them was replaced. The Rocket cases run"
    echo "\`holdfast-preview --rocket\` on the bundled demo (its music's first 80 s) from 60 s in (the key"
    echo "flood from the start, where llvmpipe draws 60 fps on a small machine) against an editor played by"
    echo "\`bench/reliability/rocket-hostile.py\`; their outcome is that script's line, with the preview's"
    echo "own peak memory (VmHWM), its frame rate under llvmpipe and the longest time it went without"
    echo "presenting a frame; their seconds and peak MB columns are the whole case's (the editor included)."
    echo "The class \"checker\" runs"
    echo "\`holdfast-script --check\` on demos that once blocked it, made it crawl or forged its output"
    echo "(bench/reliability/checker-cases.sh); its outcome is the exit status, the summary line and the"
    echo "first finding: each kind of finding is listed 100 times and the rest counted, names are printed"
    echo "escaped, and the music's length is learnt without reading what follows its last page."
    echo "The preview watch cases run a paused \`holdfast-preview\` on a demo folder and do to its files what"
    echo "the case says (\`bench/reliability/preview-watch.py\`); the outcome says whether the goal in the"
    echo "last column was met, with the figures (RSS as \`/proc\` gives it once a reload has settled)."
    echo
    echo "| class | case | run by | outcome (first report) | seconds | peak MB | limit |"
    echo "|---|---|---|---|---|---|---|"
    printf '%s\n' "${rows[@]}"
} > "$out"
cat "$out"
[ "$crashes" -eq 0 ]
