#!/bin/bash
# Per-effect benchmark: renders every bench/effects/*.scr (one effect alone at 800 x 600, with
# the source effect it processes) for a fixed number of frames and prints, per script, frames per
# second under llvmpipe and the CPU cost per frame with GALLIUM_NOOP=1 (Mesa draws nothing, so
# what remains is our own work plus the GL calls). Blur is also compared with blur-reference and
# DOF with dof-reference, the same passes written directly against SDL and the GL.
#   bench/effects.sh [BUILD_DIR [FRAMES]]        (defaults: build, 100)
#
# Scripts read their pictures, scenes and other data from a generated data folder: by default
# BUILD_DIR/bench/data, made here with holdfast-makedemo from content/ (the same files that
# tools/make-demo.sh packs into the bundled demo's data.qzd), remade when content/ or the maker
# is newer. Set BENCH_DATA=DIR to use another folder that holds data/... .
# Without a display the whole run goes under xvfb-run. Needs the build's bin/effect-bench,
# bin/blur-reference and bin/holdfast-makedemo (configure with benchmarks on).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
frames=${2:-100}
bin="$build/bin"
for program in effect-bench blur-reference dof-reference holdfast-makedemo; do
    if [ ! -x "$bin/$program" ]; then
        echo "bench/effects.sh: $bin/$program is missing (build with -DHOLDFAST_BENCHMARKS=ON)" >&2
        exit 2
    fi
done

if [ -z "${DISPLAY:-}" ] && [ -z "${BENCH_UNDER_XVFB:-}" ]; then
    exec env BENCH_UNDER_XVFB=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build" "$frames"
fi

data=${BENCH_DATA:-}
if [ -z "$data" ]; then
    data="$build/bench/data"
    if [ ! -d "$data/data" ] || [ -n "$(find "$root/content" "$bin/holdfast-makedemo" -newer "$data/.made" -print -quit 2>/dev/null || echo stale)" ]; then
        rm -rf "$data"
        "$bin/holdfast-makedemo" --content "$root/content" --out "$data" >/dev/null
        touch "$data/.made"
    fi
fi

export HOLDFAST_UNATTENDED=1 SDL_AUDIODRIVER=dummy

field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p"; }

# Runs one measurement and prints "fps us_per_frame" (or "- -" after a failure, whose output
# goes to stderr).
measure() {
    local out
    if ! out=$("$@" 2>&1); then
        echo "$out" | tail -5 >&2
        echo "- -"
        return
    fi
    echo "$(echo "$out" | grep '^frames=' | sed 's/^/ /' | field fps) $(echo "$out" | grep '^frames=' | sed 's/^/ /' | field cpu_us_per_frame)"
}

printf '%-22s %12s %18s\n' "effect" "fps llvmpipe" "CPU us/frame noop"
blur_fps=""
blur_cpu=""
dof_fps=""
dof_cpu=""
for script in "$root"/bench/effects/*.scr; do
    name=$(basename "$script" .scr)
    args=(--data "$data" --script "$script" --frames "$frames")
    read -r fps _ < <(measure "$bin/effect-bench" "${args[@]}")
    read -r _ cpu < <(GALLIUM_NOOP=1 measure "$bin/effect-bench" "${args[@]}")
    printf '%-22s %12s %18s\n' "$name" "$fps" "$cpu"
    if [ "$name" = DOF ]; then
        dof_fps=$fps
        dof_cpu=$cpu
    fi
    if [ "$name" = Blur ]; then
        blur_fps=$fps
        blur_cpu=$cpu
        read -r fps _ < <(measure "$bin/effect-bench" "${args[@]}" --copy-mode)
        read -r _ cpu < <(GALLIUM_NOOP=1 measure "$bin/effect-bench" "${args[@]}" --copy-mode)
        printf '%-22s %12s %18s\n' "Blur (copy mode)" "$fps" "$cpu"
    fi
done

if [ -n "$blur_fps" ]; then
    read -r ref_fps _ < <(measure "$bin/blur-reference" --frames "$frames")
    read -r _ ref_cpu < <(GALLIUM_NOOP=1 measure "$bin/blur-reference" --frames "$frames")
    printf '%-22s %12s %18s\n' "blur-reference (GL)" "$ref_fps" "$ref_cpu"
    awk -v a="$blur_fps" -v b="$ref_fps" -v c="$blur_cpu" -v d="$ref_cpu" 'BEGIN {
        if (a + 0 > 0 && b + 0 > 0) printf "Blur / reference: %.2fx the time per frame under llvmpipe", b / a;
        if (c + 0 > 0 && d + 0 > 0) printf ", %.2fx the CPU time per frame with GALLIUM_NOOP", c / d;
        printf " (goal <= 1.25x)\n" }'
fi

if [ -n "$dof_fps" ]; then
    program="$data/data/shaders/dof_light.qzs"
    read -r ref_fps _ < <(measure "$bin/dof-reference" --program "$program" --frames "$frames")
    read -r _ ref_cpu < <(GALLIUM_NOOP=1 measure "$bin/dof-reference" --program "$program" --frames "$frames")
    printf '%-22s %12s %18s\n' "dof-reference (GL)" "$ref_fps" "$ref_cpu"
    awk -v a="$dof_fps" -v b="$ref_fps" -v c="$dof_cpu" -v d="$ref_cpu" 'BEGIN {
        if (a + 0 > 0 && b + 0 > 0) printf "DOF / reference: %.2fx the time per frame under llvmpipe", b / a;
        if (c + 0 > 0 && d + 0 > 0) printf ", %.2fx the CPU time per frame with GALLIUM_NOOP", c / d;
        printf " (goal <= 1.25x)\n" }'
fi
