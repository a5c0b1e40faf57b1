#!/usr/bin/env bash
# Builds holdfast and runs its tests headless (Xvfb + Mesa llvmpipe).
#   ./test.sh          every test but those labelled "slow" (the whole demo played and rendered,
#                      the archive conformance runs against the reference decoder): the check
#                      before a change lands, a few minutes on a fresh machine
#   ./test.sh --all    every test, the slow ones included (what CI runs)
# Exit code: the test result.
set -euo pipefail
cd "$(dirname "$0")"

all=false
case "${1:-}" in
  --all) all=true ;;
  "") ;;
  *) echo "usage: ./test.sh [--all]" >&2; exit 2 ;;
esac

extra=(xvfb xauth libgl1-mesa-dri ffmpeg)
# ffmpeg: the capture tool streams videos to it; its tests check the result with ffprobe.
# The archive conformance suite (slow) runs the reference decoder under Node.js.
if $all; then
  command -v node >/dev/null 2>&1 || extra+=(nodejs)
  command -v npm >/dev/null 2>&1 || extra+=(npm)
fi
scripts/deps.sh "${extra[@]}"

build_dir=${BUILD_DIR:-build}
build_type=${BUILD_TYPE:-Release}
# The benchmarks are built for the full run only: CI runs them after it (bench/run-check.sh), and
# the fast run's tests do not need them.
benchmarks=OFF
$all && benchmarks=ON
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" -DHOLDFAST_TESTS=ON \
  -DHOLDFAST_BENCHMARKS=$benchmarks ${CMAKE_ARGS:-} >/dev/null
cmake --build "$build_dir" -j"$(nproc)"

# What the slow tests need beyond the build (the reference decoder).
if $all; then
  for setup in tests/*/setup.sh; do
    [ -f "$setup" ] && bash "$setup"
  done
fi

labels=(-LE slow)
$all && labels=()
# No session bus for the tests: the window library's attempt to reach one leaves an allocation
# behind in libdbus, and the leak checker's handling of that stack has crashed its own tracer.
export HOLDFAST_UNATTENDED=1 SDL_AUDIODRIVER=dummy DBUS_SESSION_BUS_ADDRESS=disabled:
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
xvfb-run -a -s "-screen 0 1280x1024x24" \
  ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)" "${labels[@]}" ${CTEST_ARGS:-}
