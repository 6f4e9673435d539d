#!/usr/bin/env bash
# Installs what is missing, builds incrementally and runs every test (unit and script tests).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$here/scripts/build.sh"
. "$here/scripts/sanitizer-env.sh"
build="$here/build"
[ "${ZRK_SANITIZE:-OFF}" = "ON" ] && build="$here/build-sanitize"
cd "$build"
ctest --output-on-failure -j "$(nproc)" "$@"
