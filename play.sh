#!/usr/bin/env bash
# Builds holdfast, prepares the bundled demo (data.qzd + music.ogg) and plays it.
set -euo pipefail
cd "$(dirname "$0")"

scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
# Only what playing needs; ./test.sh builds the rest in the same folder.
cmake --build build -j"$(nproc)" --target holdfast holdfast-pack holdfast-makemusic holdfast-makedemo holdfast-capture

if [ -x tools/make-demo.sh ] || [ -f tools/make-demo.sh ]; then
  bash tools/make-demo.sh build
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "play.sh: no display found (DISPLAY is not set): the player needs a screen." \
       "Render frames offline instead: build/bin/holdfast-capture --data build/demo/data.qzd --from 0 --to 10000 --step 40 --out frames" >&2
  exit 1
fi

cd build/demo 2>/dev/null || { echo "play.sh: build/demo is missing; the demo data was not prepared" >&2; exit 1; }
# A display that is set but does not answer: the player says so in one line (then its own
# reports); the offline way is pointed out after it.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
{ ../bin/holdfast 2>&1 1>&3 3>&- | tee "$log" >&2; } 3>&1 || status=$?
if [ "$status" -ne 0 ] && grep -q "^no display could be opened" "$log"; then
  echo "play.sh: render frames offline instead: build/bin/holdfast-capture --data build/demo/data.qzd --from 0 --to 10000 --step 40 --out frames" >&2
fi
exit "$status"
