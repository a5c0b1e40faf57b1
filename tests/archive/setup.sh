#!/bin/bash
# Installs the reference RAR decoder (node-unrar-js, the official unRAR built for WebAssembly)
# for the archive conformance test. Idempotent: does nothing when it is already there.
set -euo pipefail
cd "$(dirname "$0")"
version=2.0.2
if ! command -v node > /dev/null || ! command -v npm > /dev/null; then
  if command -v apt-get > /dev/null && [ "$(id -u)" = 0 ]; then
    apt-get install -y -qq nodejs npm > /dev/null || true
  fi
fi
if ! command -v npm > /dev/null; then
  echo "archive setup: npm not available; the conformance test will be skipped" >&2
  exit 0
fi
if [ -f node_modules/node-unrar-js/package.json ] &&
   grep -q "\"version\": \"$version\"" node_modules/node-unrar-js/package.json; then
  exit 0
fi
npm install --no-save --no-audit --no-fund --loglevel=error "node-unrar-js@$version" > /dev/null
