#!/usr/bin/env bash
# Installs the Debian packages holdfast needs, only those that are missing.
# Usage: scripts/deps.sh [extra package ...]
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libsdl2-dev libglew-dev libglu1-mesa-dev libpng-dev libjpeg62-turbo-dev
  libvorbis-dev libkissfft-dev libx11-dev libassimp-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  time  # /usr/bin/time -v: peak memory in bench/run.sh
  ccache  # a second build of the same sources (a clean build folder, another checkout) is quick
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  # Through env: sudo would drop a plain assignment, and a package's question would then wait.
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
