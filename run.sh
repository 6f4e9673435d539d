#!/usr/bin/env bash
# Installs what is missing, builds incrementally and runs a ZRK script: ./run.sh FILE [ARGS]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$here/scripts/build.sh" >&2
. "$here/scripts/sanitizer-env.sh"
build="$here/build"
[ "${ZRK_SANITIZE:-OFF}" = "ON" ] && build="$here/build-sanitize"
exec "$build/zrk" "$@"
