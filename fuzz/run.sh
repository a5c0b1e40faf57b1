#!/bin/bash
# Builds the archive fuzzers with clang (ASan, UBSan) into build-fuzz and runs each with its
# seed corpus for a third of SECONDS. Exit status is non-zero when a fuzzer finds a crash.
#   fuzz/run.sh SECONDS
set -euo pipefail
total=${1:-60}
cd "$(dirname "$0")/.."
root=$(pwd)
mkdir -p build-fuzz
buildlog=build-fuzz/build.log
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DHOLDFAST_FUZZ=ON -DHOLDFAST_TESTS=OFF \
  -DHOLDFAST_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo > "$buildlog" 2>&1 || { cat "$buildlog"; exit 1; }
cmake --build build-fuzz --target fuzz_rar_reader fuzz_rar20_decode fuzz_rar20_roundtrip >> "$buildlog" 2>&1 || { tail -50 "$buildlog"; exit 1; }
share=$(( total / 3 > 0 ? total / 3 : 1 ))
status=0
for target in fuzz_rar_reader fuzz_rar20_decode fuzz_rar20_roundtrip; do
  seeds="$root/fuzz/corpus/${target#fuzz_}"
  work="$root/build-fuzz/corpus/${target#fuzz_}"
  mkdir -p "$work" "$root/build-fuzz/artifacts"
  echo "== $target for ${share}s"
  log="$root/build-fuzz/$target.log"
  rc=0
  "$root/build-fuzz/bin/$target" -max_total_time="$share" -timeout=10 -rss_limit_mb=2048 \
      -max_len=262144 -print_final_stats=1 -artifact_prefix="$root/build-fuzz/artifacts/" \
      "$work" "$seeds" > "$log" 2>&1 || rc=$?
  grep -E "DONE|^stat::|ERROR|SUMMARY|Test unit written" "$log" || true
  if [ "$rc" -ne 0 ]; then
    echo "$target: crash or failure (see build-fuzz/artifacts)"
    status=1
  fi
done
exit $status
