#!/usr/bin/env bash
# Shared by run.sh and test.sh: install missing packages, configure once, build incrementally.
# With ZRK_SANITIZE=ON the tree is build-sanitize/, built with AddressSanitizer and UBSan.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/install-deps.sh"
. "$here/scripts/sanitizer-env.sh"
build="$here/build"
args=()
if [ "${ZRK_SANITIZE:-OFF}" = "ON" ]; then
  build="$here/build-sanitize"
  args+=(-DZRK_SANITIZE=ON)
fi
if [ "${ZRK_SANITIZE:-OFF}" != "ON" ]; then
  # The build users get: -O3 with link-time optimisation (a tree made before is switched).
  args+=(-DCMAKE_BUILD_TYPE=Release)
  if ! grep -qs '^CMAKE_BUILD_TYPE:STRING=Release$' "$build/CMakeCache.txt"; then rm -f "$build/build.ninja"; fi
fi
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$here" -B "$build" -G Ninja "${args[@]}" >/dev/null
fi
cmake --build "$build" -- -j "$(nproc)" --quiet
