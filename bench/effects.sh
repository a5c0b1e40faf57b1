#!/bin/bash
# Per-effect benchmark: renders every bench/effects/*.scr (one effect alone at 800 x 600, with
# the source effect it processes) for a fixed number of frames and prints, per script, frames per
# second and the CPU time per frame under llvmpipe, and the CPU cost per frame with GALLIUM_NOOP=1
# (Mesa draws nothing, so what remains is our own work plus the GL calls). Blur is also compared
# with blur-reference, DOF with dof-reference and Shader with shader-reference, the same passes
# written directly against SDL and the GL.
#   bench/effects.sh [BUILD_DIR [FRAMES [REPEAT]]]   (defaults: build, 50, 3)
# Each figure is the best of REPEAT runs (other work on the machine only ever slows a run down).
#
# Scripts read their pictures, scenes and other data from a generated data folder: by default
# BUILD_DIR/bench/data, made here with holdfast-makedemo from content/ (the same files that
# tools/make-demo.sh packs into the bundled demo's data.qzd), remade when content/ or the maker
# is newer. Set BENCH_DATA=DIR to use another folder that holds data/... .
# Without a display the whole run goes under xvfb-run. Needs the build's bin/effect-bench,
# bin/blur-reference, bin/dof-reference, bin/shader-reference, bin/holdfast-makedemo and
# bin/holdfast-makemusic
# (configure with benchmarks on).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
frames=${2:-50}
repeat=${3:-3}
bin="$build/bin"
for program in effect-bench blur-reference dof-reference shader-reference holdfast-makedemo holdfast-makemusic; do
    if [ ! -x "$bin/$program" ]; then
        echo "bench/effects.sh: $bin/$program is missing (build with -DHOLDFAST_BENCHMARKS=ON)" >&2
        exit 2
    fi
done

if [ -z "${DISPLAY:-}" ] && [ -z "${BENCH_UNDER_XVFB:-}" ]; then
    exec env BENCH_UNDER_XVFB=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build" "$frames" "$repeat"
fi

data=${BENCH_DATA:-}
if [ -z "$data" ]; then
    data="$build/bench/data"
    if [ ! -d "$data/data" ] || [ -n "$(find "$root/content" "$bin/holdfast-makedemo" -newer "$data/.made" -print -quit 2>/dev/null || echo stale)" ]; then
        rm -rf "$data"
        "$bin/holdfast-makedemo" --content "$root/content" --out "$data" >/dev/null
        # Music for the audio-reactive effects: its first 40 s (pads, then hats and kicks).
        "$bin/holdfast-makemusic" "$data/music.ogg" --seconds 40 >/dev/null 2>&1
        touch "$data/.made"
    fi
fi

export HOLDFAST_UNATTENDED=1 SDL_AUDIODRIVER=dummy

field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p"; }

# Runs one measurement and prints "fps cpu_us_per_frame" (or "- -" after a failure, whose output
# goes to stderr).
measure() {
    local out
    if ! out=$("$@" 2>&1); then
        echo "$out" | tail -5 >&2
        echo "- -"
        return
    fi
    out=" $(echo "$out" | grep '^frames=')"
    echo "$(echo "$out" | field fps) $(echo "$out" | field cpu_us_per_frame)"
}

# "fps lpcpu cpu": the best frame rate and the lowest CPU time per frame (all threads, ms) of
# REPEAT runs under llvmpipe, and the lowest CPU time per frame (us) of REPEAT runs with
# GALLIUM_NOOP=1. On a busy machine the CPU time is the steadier figure of the first two.
best() {
    local fps=- lpcpu=- cpu=- f l c k
    for ((k = 0; k < repeat; k++)); do
        read -r f l < <(measure "$@")
        read -r _ c < <(GALLIUM_NOOP=1 measure "$@")
        if [ "$f" != - ] && { [ "$fps" = - ] || awk -v a="$f" -v b="$fps" 'BEGIN { exit !(a > b) }'; }; then fps=$f; fi
        if [ "$l" != - ] && { [ "$lpcpu" = - ] || awk -v a="$l" -v b="$lpcpu" 'BEGIN { exit !(a < b) }'; }; then lpcpu=$l; fi
        if [ "$c" != - ] && { [ "$cpu" = - ] || awk -v a="$c" -v b="$cpu" 'BEGIN { exit !(a < b) }'; }; then cpu=$c; fi
    done
    [ "$lpcpu" != - ] && lpcpu=$(awk -v a="$lpcpu" 'BEGIN { printf "%.1f", a / 1000 }')
    echo "$fps $lpcpu $cpu"
}

row() { printf '%-22s %12s %22s %18s\n' "$@"; }

row "effect" "fps llvmpipe" "CPU ms/frame llvmpipe" "CPU us/frame noop"
blur=()
dof=()
shader=()
for script in "$root"/bench/effects/*.scr; do
    name=$(basename "$script" .scr)
    args=(--data "$data" --script "$script" --frames "$frames")
    read -r fps lpcpu cpu < <(best "$bin/effect-bench" "${args[@]}")
    row "$name" "$fps" "$lpcpu" "$cpu"
    if [ "$name" = DOF ]; then
        dof=("$fps" "$lpcpu" "$cpu")
    fi
    if [ "$name" = Shader ]; then
        shader=("$fps" "$lpcpu" "$cpu")
    fi
    if [ "$name" = Blur ]; then
        blur=("$fps" "$lpcpu" "$cpu")
        read -r fps lpcpu cpu < <(best "$bin/effect-bench" "${args[@]}" --copy-mode)
        row "Blur (copy mode)" "$fps" "$lpcpu" "$cpu"
    fi
done

if [ ${#blur[@]} -gt 0 ]; then
    read -r fps lpcpu cpu < <(best "$bin/blur-reference" --frames "$frames")
    row "blur-reference (GL)" "$fps" "$lpcpu" "$cpu"
    awk -v f="${blur[0]}" -v rf="$fps" -v l="${blur[1]}" -v rl="$lpcpu" -v c="${blur[2]}" -v rc="$cpu" 'BEGIN {
        printf "Blur / reference (goal <= 1.25x):";
        if (f + 0 > 0 && rf + 0 > 0) printf " time per frame %.2fx,", rf / f;
        if (l + 0 > 0 && rl + 0 > 0) printf " CPU per frame under llvmpipe %.2fx,", l / rl;
        if (c + 0 > 0 && rc + 0 > 0) printf " CPU per frame with GALLIUM_NOOP %.2fx", c / rc;
        printf "\n" }'
fi

if [ ${#dof[@]} -gt 0 ]; then
    read -r fps lpcpu cpu < <(best "$bin/dof-reference" --program "$data/data/shaders/dof_light.qzs" --frames "$frames")
    row "dof-reference (GL)" "$fps" "$lpcpu" "$cpu"
    awk -v f="${dof[0]}" -v rf="$fps" -v l="${dof[1]}" -v rl="$lpcpu" -v c="${dof[2]}" -v rc="$cpu" 'BEGIN {
        printf "DOF / reference (goal <= 1.25x):";
        if (f + 0 > 0 && rf + 0 > 0) printf " time per frame %.2fx,", rf / f;
        if (l + 0 > 0 && rl + 0 > 0) printf " CPU per frame under llvmpipe %.2fx,", l / rl;
        if (c + 0 > 0 && rc + 0 > 0) printf " CPU per frame with GALLIUM_NOOP %.2fx", c / rc;
        printf "\n" }'
fi

if [ ${#shader[@]} -gt 0 ]; then
    read -r fps lpcpu cpu < <(best "$bin/shader-reference" --program "$data/data/shaders/lattice.frag" --frames "$frames")
    row "shader-reference (GL)" "$fps" "$lpcpu" "$cpu"
    awk -v f="${shader[0]}" -v rf="$fps" -v l="${shader[1]}" -v rl="$lpcpu" -v c="${shader[2]}" -v rc="$cpu" 'BEGIN {
        printf "Shader / reference (goal <= 1.25x):";
        if (f + 0 > 0 && rf + 0 > 0) printf " time per frame %.2fx,", rf / f;
        if (l + 0 > 0 && rl + 0 > 0) printf " CPU per frame under llvmpipe %.2fx,", l / rl;
        if (c + 0 > 0 && rc + 0 > 0) printf " CPU per frame with GALLIUM_NOOP %.2fx", c / rc;
        printf "\n" }'
fi
