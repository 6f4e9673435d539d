#!/usr/bin/env bash
# Runs each benchmark program in ZRK and in Lua 5.4 and prints both times and their
# ratio. Not a test: it shows where the machine stands. Build first (./run.sh or
# ./test.sh); Lua comes from the Debian package lua5.4.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
zrk="${ZRK_BINARY:-$root/build/zrk}"
lua="$(command -v lua5.4 || true)"
[ -x "$zrk" ] || { echo "no zrk at $zrk: build first" >&2; exit 1; }
[ -n "$lua" ] || { echo "lua5.4 is not installed (scripts/install-deps.sh installs it)" >&2; exit 1; }

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >"$scratch/out" 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}

printf '%-8s %10s %10s %8s  %s\n' program zrk lua ratio results
for name in fib loop strings sort; do
  cp "$here/$name.zrk" "$scratch/"
  # The first run compiles; the timed run loads the compiled file, as a user's second run does.
  ZRK_PROGRAM="$scratch/zrk" ZRK_MSGBOX_LOG="$scratch/boxes" "$zrk" "$scratch/$name.zrk" >/dev/null 2>&1 || true
  rm -f "$scratch/boxes"
  zrk_time=$(ZRK_PROGRAM="$scratch/zrk" ZRK_MSGBOX_LOG="$scratch/boxes" seconds "$zrk" "$scratch/$name.zrk")
  zrk_result=$(cut -f2 "$scratch/boxes" | tr '\n' ' ')
  lua_time=$(seconds "$lua" "$here/$name.lua")
  lua_result=$(tr '\n' ' ' <"$scratch/out")
  ratio=$(echo "scale=1; $zrk_time / $lua_time" | bc)
  printf '%-8s %9.3fs %9.3fs %7sx  zrk: %s lua: %s\n' "$name" "$zrk_time" "$lua_time" "$ratio" "$zrk_result" "$lua_result"
done
