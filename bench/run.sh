#!/bin/bash
# Measures holdfast on the machine it runs on and writes the figures, with the goals beside them,
# to docs/performance.md (also printed):
#   - every effect alone (bench/effects/*.scr through bench/effects.sh): fps under llvmpipe and
#     CPU us per frame with GALLIUM_NOOP=1 (Mesa draws nothing);
#   - the bundled demo played by the player under llvmpipe over a span of demo time: mean and
#     worst one-second figures (HOLDFAST_STATS), the load time to the first frame and the
#     player's peak resident memory (/usr/bin/time -v); and the whole demo stepped by
#     effect-bench with GALLIUM_NOOP=1: CPU us per frame, mean and in the worst second;
#   - archive reading MB/s, ours (holdfast-pack bench) beside the reference decoder
#     (tests/archive/reference-bench.js, node-unrar-js) on the same stored + encrypted and
#     compressed + encrypted archives, and packing MB/s (holdfast-pack create);
#   - holdfast-preview's sync with a Rocket editor stand-in (bench/rocket-sync.py): frame rate
#     with 200 keyed tracks against none, and the time from an edit to the frame showing it.
#
#   bench/run.sh [BUILD_DIR]        (default: build; configure with -DCMAKE_BUILD_TYPE=Release)
# Environment:
#   BENCH_FRAMES=N           frames per effect (default 100)
#   BENCH_DEMO_FROM=MS       demo time the measured span starts at (default 60000)
#   BENCH_DEMO_SECONDS=S     length of the span in seconds (default 60); "all" plays the whole
#                            demo from its start (about five minutes)
#   BENCH_DEMO_STEP=MS       demo time between the stepped frames (default 40)
#   BENCH_CORPUS_MEMBERS=N   archive corpus size in 4 MiB members, 1 to 16 (default 4)
#   BENCH_OUT=FILE           where the report goes (default docs/performance.md)
# Without a display everything runs under one xvfb-run. Nothing here asks anything; a missing
# tool stops the run with a message saying what to install or build.
set -euo pipefail

if [ "${1:-}" = --help ] || [ "${1:-}" = -h ]; then
    sed -n '2,24p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
fi
if [ $# -gt 1 ]; then
    echo "usage: bench/run.sh [BUILD_DIR]" >&2
    exit 2
fi

root=$(cd "$(dirname "$0")/.." && pwd)
if [ ! -d "${1:-$root/build}" ]; then
    echo "bench/run.sh: no build folder ${1:-$root/build} (build first: see README.md)" >&2
    exit 2
fi
build=$(cd "${1:-$root/build}" && pwd)
bin="$build/bin"
frames=${BENCH_FRAMES:-100}
demo_from=${BENCH_DEMO_FROM:-60000}
demo_seconds=${BENCH_DEMO_SECONDS:-60}
out=${BENCH_OUT:-$root/docs/performance.md}
corpus_members=${BENCH_CORPUS_MEMBERS:-4}
demo_step=${BENCH_DEMO_STEP:-40}
password=tolvrask

fail() {
    echo "bench/run.sh: $*" >&2
    exit 2
}
[[ "$frames" =~ ^[1-9][0-9]*$ ]] || fail "BENCH_FRAMES must be a count above 0"
[[ "$demo_from" =~ ^[0-9]+$ ]] && [ "$demo_from" -lt 286000 ] || fail "BENCH_DEMO_FROM must be 0 to 285999 (ms)"
[[ "$demo_seconds" =~ ^([1-9][0-9]*|all)$ ]] || fail "BENCH_DEMO_SECONDS must be a count of seconds or \"all\""
[[ "$demo_step" =~ ^[1-9][0-9]*$ ]] || fail "BENCH_DEMO_STEP must be a count of ms above 0"
[[ "$corpus_members" =~ ^[0-9]+$ ]] && [ "$corpus_members" -ge 1 ] && [ "$corpus_members" -le 16 ] ||
    fail "BENCH_CORPUS_MEMBERS must be 1 to 16"

for program in holdfast holdfast-pack holdfast-makedemo holdfast-makemusic effect-bench blur-reference bench_archive; do
    [ -x "$bin/$program" ] || fail "$bin/$program is missing (build with -DHOLDFAST_BENCHMARKS=ON and Google Benchmark, libbenchmark-dev)"
done
for tool in xvfb-run timeout awk; do
    command -v "$tool" > /dev/null || fail "$tool is missing (scripts/deps.sh installs what the project needs)"
done
[ -x /usr/bin/time ] || fail "/usr/bin/time is missing (Debian package time; scripts/deps.sh installs it)"

if [ -z "${DISPLAY:-}" ] && [ -z "${BENCH_UNDER_XVFB:-}" ]; then
    exec env BENCH_UNDER_XVFB=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build"
fi

export HOLDFAST_UNATTENDED=1 SDL_AUDIODRIVER=dummy
unset HOLDFAST_STATS GALLIUM_NOOP
tmp=$(mktemp -d /tmp/holdfast-run-XXXXXX)
trap 'rm -rf "$tmp"' EXIT
started=$(date +%s)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
say() { echo "bench/run.sh: $*" >&2; }
field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" | tail -1; }
# a / b with `digits` decimals, or "-" when either is missing or b is 0.
ratio() { awk -v a="$1" -v b="$2" -v d="${3:-1}" 'BEGIN { if (a == "" || b == "" || a == "-" || b == "-" || b + 0 == 0) print "-"; else printf "%.*f\n", d, a / b }'; }
# "met" / "not met" for `value op goal`, "-" without a value.
verdict() { awk -v v="$1" -v op="$2" -v g="$3" 'BEGIN { if (v == "" || v == "-") { print "-"; exit }
    ok = (op == "<") ? (v + 0 < g + 0) : (v + 0 > g + 0); print ok ? "met" : "**not met**" }'; }

# ---- effects, each alone ----------------------------------------------------
say "effects ($frames frames each, twice)"
effects_rows=""
if "$root/bench/effects.sh" "$build" "$frames" > "$tmp/effects.txt" 2> "$tmp/effects.err"; then
    # Rows are "name ... fps llvmpipe-cpu-ms noop-cpu-us"; names may hold spaces. The summary
    # lines have no figures.
    effects_rows=$(awk 'NR > 1 && NF >= 4 && $(NF) ~ /^([0-9.]+|-)$/ && $(NF-1) ~ /^([0-9.]+|-)$/ && $(NF-2) ~ /^([0-9.]+|-)$/ {
        name = $1; for (i = 2; i <= NF - 3; ++i) name = name " " $i
        cpu = $(NF); ok = (cpu == "-") ? "-" : (cpu + 0 < 500 ? "met" : "**not met**")
        printf "| %s | %s | %s | %s |\n", name, $(NF-2), cpu, ok }' "$tmp/effects.txt")
    effects_note=$(grep -E '^(Blur|DOF|Shader) / reference' "$tmp/effects.txt" || true)
else
    effects_note="bench/effects.sh failed: $(tail -3 "$tmp/effects.err" | tr '\n' ' ')"
fi

# ---- the bundled demo -------------------------------------------------------
say "bundled demo (tools/make-demo.sh)"
"$root/tools/make-demo.sh" "$build" > "$tmp/make-demo.txt" 2>&1 || { cat "$tmp/make-demo.txt" >&2; fail "tools/make-demo.sh failed"; }
# The demo's files unpacked, as tools/make-demo.sh packs them.
"$bin/holdfast-makedemo" --content "$root/content" --out "$tmp/stage" > /dev/null || fail "holdfast-makedemo failed"
if [ "$demo_seconds" = all ]; then
    demo_dir="$build/demo"
    limit=400
    span_text="the whole demo from its start"
else
    # The same content with DEMO_START moved to the span's start; the player is interrupted
    # (SIGINT ends it like closing the window) once the span has played.
    demo_dir="$tmp/span"
    mkdir -p "$demo_dir"
    cp -r "$tmp/stage" "$tmp/stage-span"
    sed -i "s/^DEMO_START .*/DEMO_START $demo_from/" "$tmp/stage-span/data/scripts/demo.scr"
    "$bin/holdfast-pack" create "$demo_dir/data.qzd" "$tmp/stage-span" --password "$password" --compress > /dev/null 2>&1 ||
        fail "holdfast-pack could not pack the demo"
    ln -s "$build/demo/music.ogg" "$demo_dir/music.ogg"
    limit=$((demo_seconds + 4))  # the load comes first
    span_text="from demo time $demo_from ms for about $demo_seconds s, then stopped by SIGINT"
fi

# Plays the demo in $demo_dir; prints the statistics line with rss_kb=... added, or nothing.
play() {
    local name=$1 log="$tmp/play-$1.err" timing="$tmp/play-$1.time"
    shift
    (cd "$demo_dir" && env HOLDFAST_STATS=1 "$@" /usr/bin/time -v -o "$timing" \
        timeout -s INT -k 30 "$limit" "$bin/holdfast") 2> "$log" || true
    local stats
    stats=$(grep '^frames=' "$log" | tail -1 || true)
    if [ -z "$stats" ] || [ "$(echo " $stats" | field frames)" = 0 ]; then
        say "the player gave no figures ($name):"
        tail -5 "$log" >&2
        return
    fi
    echo "$stats rss_kb=$(sed -n 's/.*Maximum resident set size (kbytes): *//p' "$timing")"
}
say "player under llvmpipe ($span_text)"
demo_gl=$(play llvmpipe)
# Our CPU cost over the whole demo: every $demo_step ms of demo time drawn as fast as it goes with
# GALLIUM_NOOP=1. (The player itself under GALLIUM_NOOP runs at thousands of frames a second, where
# Mesa's no-op driver grows by gigabytes: see the note in the report.)
# Three runs, keeping the one with the lowest worst second: CPU time on a busy machine only ever
# comes out too high.
say "whole demo stepped with GALLIUM_NOOP=1 (every $demo_step ms, 3 runs)"
get() { echo " $1" | field "$2"; }
step_frames=$((286000 / demo_step))
demo_noop=""
step_runs=""
for run in 1 2 3; do
    line=$(GALLIUM_NOOP=1 "$bin/effect-bench" --data "$tmp/stage" --script "$tmp/stage/data/scripts/demo.scr" \
        --start 0 --step "$demo_step" --frames "$step_frames" --warmup 0 --window 1000 2> "$tmp/step.err" | grep '^frames=' || true)
    if [ -z "$line" ]; then
        say "effect-bench gave no figures for the demo:"
        tail -5 "$tmp/step.err" >&2
        continue
    fi
    step_runs+="${step_runs:+, }$(get "$line" worst_cpu_us_per_frame)"
    if [ -z "$demo_noop" ] || awk -v a="$(get "$line" worst_cpu_us_per_frame)" -v b="$(get "$demo_noop" worst_cpu_us_per_frame)" 'BEGIN { exit !(a + 0 < b + 0) }'; then
        demo_noop=$line
    fi
done
gl_fps=$(get "$demo_gl" fps); gl_worst=$(get "$demo_gl" worst_fps); gl_seconds=$(get "$demo_gl" seconds)
gl_load=$(get "$demo_gl" load_ms); gl_rss_kb=$(get "$demo_gl" rss_kb)
gl_cpu=$(get "$demo_gl" cpu_us_per_frame); gl_worst_cpu=$(get "$demo_gl" worst_cpu_us_per_frame)
noop_fps=$(get "$demo_noop" fps); noop_worst=$(get "$demo_noop" worst_fps); noop_frames=$(get "$demo_noop" frames)
noop_cpu=$(get "$demo_noop" cpu_us_per_frame); noop_worst_cpu=$(get "$demo_noop" worst_cpu_us_per_frame)
noop_worst_at=$(get "$demo_noop" worst_at_ms)
gl_rss=$(ratio "$gl_rss_kb" 1024 0)

# ---- archives ---------------------------------------------------------------
corpus_mib=$((corpus_members * 4))
say "archives ($corpus_mib MiB corpus)"
"$bin/bench_archive" --write-corpus "$tmp/corpus" "$corpus_members" || fail "bench_archive could not write the corpus"
corpus_bytes=$(du -sb "$tmp/corpus" | cut -f1)
reference_state=""
if [ ! -f "$root/tests/archive/node_modules/node-unrar-js/package.json" ]; then
    timeout 300 "$root/tests/archive/setup.sh" > /dev/null 2>&1 || true
fi
if ! command -v node > /dev/null; then
    reference_state="node is not installed (tests/archive/setup.sh installs it with the reference decoder)"
elif [ ! -f "$root/tests/archive/node_modules/node-unrar-js/package.json" ]; then
    reference_state="node-unrar-js is not installed (run tests/archive/setup.sh)"
fi
archive_rows=""
for kind in stored compressed; do
    flag=""
    [ "$kind" = compressed ] && flag=--compress
    /usr/bin/time -f "%e %U %S" -o "$tmp/pack-$kind.time" \
        "$bin/holdfast-pack" create "$tmp/$kind.qzd" "$tmp/corpus" --password "$password" $flag > /dev/null 2> "$tmp/pack-$kind.err" ||
        { tail -3 "$tmp/pack-$kind.err" >&2; fail "holdfast-pack create failed"; }
    # MB/s of input by the clock, and per second of the process's CPU time (less hurt by load).
    pack=$(awk -v b="$corpus_bytes" '{ printf "%.1f", b / $1 / 1e6 }' "$tmp/pack-$kind.time")
    pack_cpu=$(awk -v b="$corpus_bytes" '{ printf "%.1f", b / ($2 + $3) / 1e6 }' "$tmp/pack-$kind.time")
    archive_size=$(stat -c %s "$tmp/$kind.qzd")
    ours=$("$bin/holdfast-pack" bench "$tmp/$kind.qzd" --password "$password" --rounds 3 | sed -n 's/.*: \([0-9.]*\) MB\/s.*/\1/p' || true)
    reference="-"
    if [ -z "$reference_state" ]; then
        reference=$(node "$root/tests/archive/reference-bench.js" "$tmp/$kind.qzd" "$password" 3 | sed -n 's/^MB\/s //p' || true)
        [ -n "$reference" ] || reference="-"
    fi
    eval "pack_$kind=\$pack pack_cpu_$kind=\$pack_cpu ours_$kind=\$ours reference_$kind=\$reference size_$kind=\$archive_size"
    archive_rows+="| $kind + encrypted ($(ratio "$archive_size" 1048576 1) MiB) | ${ours:--} | $reference | $(ratio "$ours" "$reference" 2)x | $(verdict "$ours" ">" "$reference") |"$'\n'
done

# ---- the preview's Rocket sync ------------------------------------------------
if command -v python3 >/dev/null; then
    rocket_section=$(python3 "$root/bench/rocket-sync.py" "$build" 2>&1) ||
        rocket_section="## Live sync with the Rocket editor"$'\n\n'"bench/rocket-sync.py failed: ${rocket_section##*$'\n'}"
else
    rocket_section="## Live sync with the Rocket editor"$'\n\n'"Not measured: python3 is missing."
fi

# ---- the report -------------------------------------------------------------
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
elapsed=$(($(date +%s) - started))
cpu_model=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)

mkdir -p "$(dirname "$out")"
# What follows the marker line in the existing report (measurements made by hand or by other
# scripts, such as bench/compare.sh's before/after tables) is carried over unchanged.
marker='<!-- Sections below this line are kept when bench/run.sh rewrites the file. -->'
kept=""
[ -f "$out" ] && kept=$(awk -v m="$marker" 'found || $0 == m { found = 1; print }' "$out")
{
cat <<EOF
# Performance

Measured by \`bench/run.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC'), commit $commit, Release build.
Machine: ${cpu_model:-unknown CPU}, $(nproc) cores, Linux $(uname -r); Xvfb with Mesa llvmpipe.
Load average (1, 5, 15 min) before the run: $load_before; after: $load_after. The machine was
shared while measuring, so wall-clock figures (fps, load time, MB/s) are lower than on an idle
machine. CPU time per frame is affected less, but not untouched: on a busy machine (and on a virtual
machine whose host is busy) it comes out higher and varies from run to run, so compare figures
measured on a quiet machine. The run took $elapsed s.

## Regenerating

\`\`\`sh
bench/run.sh [BUILD_DIR]     # default build/; rewrites this file for the machine it runs on
\`\`\`

It needs a Release build with the benchmarks (\`-DHOLDFAST_BENCHMARKS=ON\`, Google Benchmark), xvfb-run,
\`/usr/bin/time\` (package \`time\`) and, for the reference decoder, node with node-unrar-js
(\`tests/archive/setup.sh\`, run by the script when missing). \`BENCH_FRAMES\` (frames per effect,
default 100), \`BENCH_DEMO_FROM\` and \`BENCH_DEMO_SECONDS\` (the span of the demo the player plays,
default 60 s from 60000 ms; \`all\` plays the whole demo, about five minutes), \`BENCH_DEMO_STEP\`
(demo time between stepped frames, default 40 ms), \`BENCH_CORPUS_MEMBERS\` (archive corpus in 4 MiB
members, default 4) and \`BENCH_OUT\` change what is run. The default run takes a few minutes.

## Goals

| goal | measured | |
|---|---|---|
| engine CPU per frame < 0.5 ms everywhere in the bundled demo (worst second, GALLIUM_NOOP) | ${noop_worst_cpu:--} µs (at ${noop_worst_at:--} ms) | $(verdict "$noop_worst_cpu" "<" 500) |
| load to the first frame < 1 s (llvmpipe) | ${gl_load:--} ms | $(verdict "$gl_load" "<" 1000) |
| player peak RSS < 300 MB (llvmpipe) | ${gl_rss} MiB | $(verdict "$gl_rss" "<" 300) |
| archive reading faster than the reference decoder, stored + encrypted | ${ours_stored:--} vs ${reference_stored} MB/s | $(verdict "${ours_stored:-}" ">" "$reference_stored") |
| archive reading faster than the reference decoder, compressed + encrypted | ${ours_compressed:--} vs ${reference_compressed} MB/s | $(verdict "${ours_compressed:-}" ">" "$reference_compressed") |

## The bundled demo

Two runs. **Player**: \`build/bin/holdfast\` with \`tools/make-demo.sh\`'s data and music.ogg under
llvmpipe, $span_text; figures from its \`HOLDFAST_STATS=1\` line, CPU being the rendering thread's own
time (llvmpipe's vertex work on that thread included, its rasterising threads and the audio thread
left out). **Stepped**: the whole demo, $noop_frames frames $demo_step ms of demo time apart from 0 to
286 s, drawn by \`effect-bench\` with GALLIUM_NOOP=1 as fast as it goes (the process's CPU time; no
music, so the spectrum-driven parts see silence). "Worst second" is the slowest (fps) or costliest
(CPU per frame) second: of wall-clock time for the player, of demo time for the stepped run. The
stepped row is the best of three runs by its worst second (the three: ${step_runs:--} µs).

| run | mean fps | worst-second fps | CPU µs/frame | worst-second CPU µs/frame | load to first frame | peak RSS |
|---|---|---|---|---|---|---|
| player, llvmpipe (${gl_seconds:--} s played) | ${gl_fps:--} | ${gl_worst:--} | ${gl_cpu:--} | ${gl_worst_cpu:--} | ${gl_load:--} ms | ${gl_rss} MiB |
| stepped, GALLIUM_NOOP=1 | ${noop_fps:--} | ${noop_worst:--} | ${noop_cpu:--} | ${noop_worst_cpu:--} (at ${noop_worst_at:--} ms) | - | - |

The player is not timed with GALLIUM_NOOP=1: at thousands of frames a second Mesa's no-op driver
keeps memory for every immediate-mode draw (Splinzor alone grows by about 165 KB a frame there, and
not at all under llvmpipe); a 60 s span reached 5 GB and its CPU figures were dominated by page
faults. Stepping draws a bounded number of frames instead; the same growth still adds page faults
to the stepped parts and to the effects below that draw with immediate-mode lines (Splinzor).

## Effects, each alone

Each \`bench/effects/*.scr\` (one effect at 800 × 600, with the source it processes) drawn for $frames
frames by \`effect-bench\` (each frame ends with glFinish). CPU µs per frame is the process's CPU
time with GALLIUM_NOOP=1; the goal column checks it against the demo's 0.5 ms.

| effect | fps llvmpipe | CPU µs/frame (GALLIUM_NOOP) | < 500 µs |
|---|---|---|---|
${effects_rows:-| (no figures) | - | - | - |}

${effects_note}

## Archives

A $corpus_mib MiB demo-like corpus (\`bench_archive --write-corpus\`: script text, music-like samples,
picture-like gradients, some random data) packed with the player's password. Reading: best of 3
whole-archive extractions in memory, MB/s of unpacked data: ours with \`holdfast-pack bench\`, the
reference decoder (node-unrar-js, the official unRAR built for WebAssembly) with
\`tests/archive/reference-bench.js\`, on the same files in the same run.${reference_state:+ Reference: $reference_state.}

| archive | ours MB/s | reference MB/s | ours / reference | faster |
|---|---|---|---|---|
${archive_rows%$'\n'}

Packing (\`holdfast-pack create\`, files read from disk, archive written), MB/s of input by the clock
(and per second of the process's CPU time): compressed + encrypted ${pack_compressed:--}
(${pack_cpu_compressed:--}), stored + encrypted ${pack_stored:--} (${pack_cpu_stored:--}).

$rocket_section
EOF
if [ -n "$kept" ]; then
    printf '\n%s\n' "$kept"
fi
} > "$out.tmp"
mv -f "$out.tmp" "$out"
cat "$out"
