#!/bin/bash
# Measures two builds side by side in one run, alternating between them, and prints a Markdown
# table: the render-target enable + clear + disable pair (bench_pbuffer) beside the same in plain
# GL, Blur and DOF CPU per frame with GALLIUM_NOOP=1 beside their plain-GL references, the bundled
# demo stepped with GALLIUM_NOOP=1 (mean and costliest second of CPU per frame), and the player
# under llvmpipe (frame rate, peak resident memory). Each CPU figure is the lowest of RUNS runs
# (other work on the machine only ever adds to it); ratios are taken against a reference measured
# in the same run, so a busy machine affects both sides alike.
#   bench/compare.sh BEFORE_BUILD AFTER_BUILD
# Environment:
#   COMPARE_RUNS=N            runs of each CPU measurement (default 5)
#   COMPARE_FRAMES=N          frames per effect run (default 100)
#   COMPARE_PLAYER_SECONDS=S  demo seconds the player plays from 60000 ms (default 60); "all" plays
#                             the whole demo from its start (about five minutes per build)
# Needs both builds' bin/ with the benchmarks (-DHOLDFAST_BENCHMARKS=ON); the plain-GL figures come
# from AFTER_BUILD. Without a display everything runs under one xvfb-run.
set -euo pipefail

if [ $# -ne 2 ] || [ ! -d "$1/bin" ] || [ ! -d "$2/bin" ]; then
    echo "usage: bench/compare.sh BEFORE_BUILD AFTER_BUILD   (each with bin/ built)" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
before=$(cd "$1" && pwd)
after=$(cd "$2" && pwd)
runs=${COMPARE_RUNS:-5}
frames=${COMPARE_FRAMES:-100}
player_seconds=${COMPARE_PLAYER_SECONDS:-60}
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "bench/compare.sh: COMPARE_RUNS must be a count above 0" >&2; exit 2; }
[[ "$frames" =~ ^[1-9][0-9]*$ ]] || { echo "bench/compare.sh: COMPARE_FRAMES must be a count above 0" >&2; exit 2; }
[[ "$player_seconds" =~ ^([1-9][0-9]*|all)$ ]] ||
    { echo "bench/compare.sh: COMPARE_PLAYER_SECONDS must be a count of seconds or \"all\"" >&2; exit 2; }
for build in "$before" "$after"; do
    for program in holdfast holdfast-pack holdfast-makedemo effect-bench blur-reference dof-reference bench_pbuffer; do
        [ -x "$build/bin/$program" ] ||
            { echo "bench/compare.sh: $build/bin/$program is missing (build with -DHOLDFAST_BENCHMARKS=ON)" >&2; exit 2; }
    done
done
[ -x /usr/bin/time ] || { echo "bench/compare.sh: /usr/bin/time is missing (Debian package time)" >&2; exit 2; }

if [ -z "${DISPLAY:-}" ] && [ -z "${BENCH_UNDER_XVFB:-}" ]; then
    exec env BENCH_UNDER_XVFB=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

export HOLDFAST_UNATTENDED=1 SDL_AUDIODRIVER=dummy
unset HOLDFAST_STATS GALLIUM_NOOP
tmp=$(mktemp -d /tmp/holdfast-compare-XXXXXX)
trap 'rm -rf "$tmp"' EXIT
say() { echo "bench/compare.sh: $*" >&2; }
field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" | tail -1; }
min() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || a == "") print b; else if (b == "-" || b == "") print a; else print (a + 0 < b + 0) ? a : b }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || a == "-" || b == "-" || b + 0 == 0) print "-"; else printf "%.2f\n", a / b }'; }

# The demo's files unpacked (for the stepped run and the effect scripts), and a packed copy that
# starts at 60000 ms for the player.
"$after/bin/holdfast-makedemo" --content "$root/content" --out "$tmp/stage" > /dev/null
"$root/tools/make-demo.sh" "$after" "$tmp/demo" > /dev/null 2>&1 || { say "tools/make-demo.sh failed"; exit 2; }
if [ "$player_seconds" = all ]; then
    player_dir="$tmp/demo"
    limit=400
else
    player_dir="$tmp/span"
    mkdir -p "$player_dir"
    cp -r "$tmp/stage" "$tmp/stage-span"
    sed -i "s/^DEMO_START .*/DEMO_START 60000/" "$tmp/stage-span/data/scripts/demo.scr"
    "$after/bin/holdfast-pack" create "$player_dir/data.qzd" "$tmp/stage-span" --password tolvrask --compress > /dev/null 2>&1
    ln -s "$tmp/demo/music.ogg" "$player_dir/music.ogg"
    limit=$((player_seconds + 4))
fi

# CPU µs of one bench_pbuffer benchmark (the lowest of its repetitions).
pbuffer() {
    "$1/bin/bench_pbuffer" --benchmark_filter="^$2\$" --benchmark_repetitions=3 --benchmark_min_time=0.2 \
        --benchmark_format=csv 2> /dev/null |
        awk -F, -v name="\"$2\"" '$1 == name { v = $4 + 0; if (best == "" || v < best) best = v } END { print (best == "" ? "-" : best) }'
}
noop_cpu() { GALLIUM_NOOP=1 "$@" 2> /dev/null | grep '^frames=' | sed 's/^/ /' | field cpu_us_per_frame; }
stepped() {
    GALLIUM_NOOP=1 "$1/bin/effect-bench" --data "$tmp/stage" --script "$tmp/stage/data/scripts/demo.scr" \
        --start 0 --step 40 --frames 7150 --warmup 0 --window 1000 2> /dev/null | grep '^frames=' | sed 's/^/ /'
}

declare -A best
keep_min() { best[$1]=$(min "${best[$1]:--}" "$2"); }
for ((run = 1; run <= runs; run++)); do
    say "CPU figures, run $run of $runs"
    keep_min plain "$(pbuffer "$after" PlainFramebufferClear)"
    for side in before after; do
        build=${!side}
        keep_min "pair_$side" "$(pbuffer "$build" EnableClearDisable)"
        keep_min "blur_$side" "$(noop_cpu "$build/bin/effect-bench" --data "$tmp/stage" --script "$root/bench/effects/Blur.scr" --frames "$frames")"
        keep_min "dof_$side" "$(noop_cpu "$build/bin/effect-bench" --data "$tmp/stage" --script "$root/bench/effects/DOF.scr" --frames "$frames")"
        line=$(stepped "$build")
        keep_min "stepmean_$side" "$(echo "$line" | field cpu_us_per_frame)"
        keep_min "stepworst_$side" "$(echo "$line" | field worst_cpu_us_per_frame)"
    done
    keep_min blurref "$(noop_cpu "$after/bin/blur-reference" --frames "$frames")"
    keep_min dofref "$(noop_cpu "$after/bin/dof-reference" --program "$tmp/stage/data/shaders/dof_light.qzs" --frames "$frames")"
done

declare -A fps rss
for side in before after; do
    build=${!side}
    say "player under llvmpipe ($side, ${player_seconds} s)"
    (cd "$player_dir" && env HOLDFAST_STATS=1 /usr/bin/time -v -o "$tmp/$side.time" \
        timeout -s INT -k 30 "$limit" "$build/bin/holdfast") 2> "$tmp/$side.err" || true
    line=" $(grep '^frames=' "$tmp/$side.err" | tail -1 || true)"
    fps[$side]=$(echo "$line" | field fps)
    rss[$side]=$(awk '/Maximum resident set size/ { printf "%.0f", $NF / 1024 }' "$tmp/$side.time")
done

cat <<EOF
| measure | before | after | after / before |
|---|---|---|---|
| enable + clear + disable, CPU µs (plain GL: ${best[plain]}) | ${best[pair_before]} ($(ratio "${best[pair_before]}" "${best[plain]}")× plain) | ${best[pair_after]} ($(ratio "${best[pair_after]}" "${best[plain]}")× plain) | $(ratio "${best[pair_after]}" "${best[pair_before]}") |
| Blur CPU µs/frame, GALLIUM_NOOP (blur-reference: ${best[blurref]}) | ${best[blur_before]} ($(ratio "${best[blur_before]}" "${best[blurref]}")×) | ${best[blur_after]} ($(ratio "${best[blur_after]}" "${best[blurref]}")×) | $(ratio "${best[blur_after]}" "${best[blur_before]}") |
| DOF CPU µs/frame, GALLIUM_NOOP (dof-reference: ${best[dofref]}) | ${best[dof_before]} ($(ratio "${best[dof_before]}" "${best[dofref]}")×) | ${best[dof_after]} ($(ratio "${best[dof_after]}" "${best[dofref]}")×) | $(ratio "${best[dof_after]}" "${best[dof_before]}") |
| whole demo stepped, GALLIUM_NOOP: mean CPU µs/frame | ${best[stepmean_before]} | ${best[stepmean_after]} | $(ratio "${best[stepmean_after]}" "${best[stepmean_before]}") |
| whole demo stepped, GALLIUM_NOOP: costliest second, CPU µs/frame | ${best[stepworst_before]} | ${best[stepworst_after]} | $(ratio "${best[stepworst_after]}" "${best[stepworst_before]}") |
| player under llvmpipe: mean fps ($player_seconds s) | ${fps[before]:--} | ${fps[after]:--} | $(ratio "${fps[after]:--}" "${fps[before]:--}") |
| player under llvmpipe: peak RSS MiB | ${rss[before]:--} | ${rss[after]:--} | $(ratio "${rss[after]:--}" "${rss[before]:--}") |
EOF
