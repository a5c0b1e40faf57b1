#!/bin/bash
# Builds the fuzzers with clang (ASan, UBSan) into build-fuzz and runs each with its seed corpus
# for an equal share of SECONDS. Exit status is non-zero when a fuzzer finds a crash.
#   fuzz/run.sh SECONDS [TARGET ...]
set -euo pipefail
total=${1:-60}
shift || true
all=(fuzz_rar_reader fuzz_rar20_decode fuzz_rar20_roundtrip fuzz_scene_reader fuzz_morph_reader
     fuzz_script_loader fuzz_script_scene fuzz_png_loader fuzz_jpeg_loader fuzz_model_import fuzz_folder_walk)
[ $# -gt 0 ] && targets=("$@") || targets=("${all[@]}")
cd "$(dirname "$0")/.."
root=$(pwd)
mkdir -p build-fuzz
buildlog=build-fuzz/build.log
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DHOLDFAST_FUZZ=ON -DHOLDFAST_TESTS=OFF \
  -DHOLDFAST_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo > "$buildlog" 2>&1 || { cat "$buildlog"; exit 1; }
cmake --build build-fuzz --target "${targets[@]}" make_scene_seeds make_image_seeds >> "$buildlog" 2>&1 ||
  { tail -50 "$buildlog"; exit 1; }
# Seeds that the scene writer and the image libraries make (nothing binary is kept in the tree
# for these).
rm -rf build-fuzz/seeds
build-fuzz/bin/make_scene_seeds build-fuzz/seeds
mkdir -p build-fuzz/seeds/png_loader build-fuzz/seeds/jpeg_loader
build-fuzz/bin/make_image_seeds build-fuzz/seeds/png_loader build-fuzz/seeds/jpeg_loader
share=$(( total / ${#targets[@]} > 0 ? total / ${#targets[@]} : 1 ))
status=0
for target in "${targets[@]}"; do
  name=${target#fuzz_}
  seeds=()
  # The bundled demo's script seeds the script loader too.
  for d in "$root/fuzz/corpus/$name" "$root/build-fuzz/seeds/$name" \
           $([ "$name" = script_loader ] && echo "$root/content/data/scripts"); do
    [ -d "$d" ] && seeds+=("$d")
  done
  work="$root/build-fuzz/corpus/$name"
  mkdir -p "$work" "$root/build-fuzz/artifacts"
  # Pictures of up to 64 KiB can still claim tens of megapixels that really decode.
  maxlen=262144
  case "$target" in fuzz_png_loader | fuzz_jpeg_loader) maxlen=65536 ;; esac
  echo "== $target for ${share}s"
  log="$root/build-fuzz/$target.log"
  rc=0
  # The script+scene target draws: it needs an X display (one of its own when none is set), and
  # a fatal report abandons what the input had built, which is not a leak worth stopping on.
  wrap=()
  extra=()
  if [ "$target" = fuzz_script_scene ]; then
    [ -z "${DISPLAY:-}" ] && wrap=(xvfb-run -a -s "-screen 0 640x480x24")
    extra=(-detect_leaks=0)
  fi
  LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}" \
  "${wrap[@]}" "$root/build-fuzz/bin/$target" -max_total_time="$share" -timeout=10 -rss_limit_mb=2048 \
      -max_len="$maxlen" -print_final_stats=1 -artifact_prefix="$root/build-fuzz/artifacts/" "${extra[@]}" \
      "$work" "${seeds[@]}" > "$log" 2>&1 || rc=$?
  grep -E "DONE|^stat::|ERROR|SUMMARY|Test unit written" "$log" || true
  if [ "$rc" -ne 0 ]; then
    echo "$target: crash or failure (see build-fuzz/artifacts)"
    status=1
  fi
done
exit $status
