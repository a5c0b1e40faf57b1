#!/bin/bash
# Runs bench/run.sh at its smallest and checks that every figure the report is built from came
# out: a changed statistics line, a tool that fails or a parse that misses shows here, not in the
# next performance table.
#   bench/run-check.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(mktemp /tmp/holdfast-run-check-XXXXXX.md)
trap 'rm -f "$out"' EXIT
BENCH_FRAMES=2 BENCH_DEMO_SECONDS=1 BENCH_DEMO_STEP=1000 BENCH_CORPUS_MEMBERS=1 ROCKET_BENCH_SECONDS=2 BENCH_OUT="$out" \
    "$root/bench/run.sh" "$1" > /dev/null
n='[0-9]+(\.[0-9]+)?'
status=0
expect() {
    if ! grep -Eq "$1" "$out"; then
        echo "run-check: no line matches: $1" >&2
        status=1
    fi
}
expect "^\| player, llvmpipe \($n s played\) \| $n \| $n \| $n \| $n \| $n ms \| $n MiB \|$"
expect "^\| stepped, GALLIUM_NOOP=1 \| $n \| $n \| $n \| $n \(at $n ms\) \|"
expect "^\| engine CPU per frame .* \| $n µs \(at $n ms\) \| (met|\*\*not met\*\*) \|$"
expect "^\| load to the first frame .* \| $n ms \| (met|\*\*not met\*\*) \|$"
expect "^\| player peak RSS .* \| $n MiB \| (met|\*\*not met\*\*) \|$"
expect "^\| stored \+ encrypted \($n MiB\) \| $n \| "
expect "^\| compressed \+ encrypted \($n MiB\) \| $n \| "
expect "compressed \+ encrypted $n$"
expect "^\| frame rate with 200 keyed tracks within 5 % of no editor \| $n vs $n fps "
expect "^\| CPU per frame with 200 keyed tracks .* \| $n vs $n µs "
expect "^\| an edit shows on the next frame \| $n of $n edits "
# Every bench/effects/*.scr has its row with both figures.
for script in "$root"/bench/effects/*.scr; do
    expect "^\| $(basename "$script" .scr) \| $n \| $n \| (met|\*\*not met\*\*) \|$"
done
[ "$status" = 0 ] || cat "$out" >&2
exit "$status"
