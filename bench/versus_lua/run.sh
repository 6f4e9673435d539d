#!/usr/bin/env bash
# Runs each benchmark program in ZRK, Lua 5.4 and (when installed) python3 on one pinned
# core, several times each, and prints the median times, ZRK's ratio to each peer and the
# results. Not a test: it shows where the machine stands.
#   bench/versus_lua/run.sh [-n RUNS] [-c CORE] [NAME...]
# ZRK_BINARY picks another zrk (default build/zrk); Lua comes from the Debian package lua5.4.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
zrk="${ZRK_BINARY:-$root/build/zrk}"
lua="$(command -v lua5.4 || true)"
python="$(command -v python3 || true)"
runs=5
core=1
while getopts "n:c:" option; do
  case "$option" in
    n) runs="$OPTARG" ;;
    c) core="$OPTARG" ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(fib loop calls insertion listsort strings lists maths startup)
[ -x "$zrk" ] || { echo "no zrk at $zrk: build first" >&2; exit 1; }
[ -n "$lua" ] || { echo "lua5.4 is not installed (scripts/install-deps.sh installs it)" >&2; exit 1; }

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

# Where i386 programs run through qemu-user, zrk does too: Lua then runs as an i386 program
# through the same emulator (liblua5.4-dev:i386), or the ratio would weigh the emulator.
if grep -qsx enabled /proc/sys/fs/binfmt_misc/qemu-i386; then
  gcc -m32 -O2 -I/usr/include/lua5.4 "$here/lua_i386.c" -o "$scratch/lua" -llua5.4 ||
    { echo "cannot build the i386 Lua (scripts/install-deps.sh installs liblua5.4-dev:i386)" >&2; exit 1; }
  lua="$scratch/lua"
  echo "i386 programs run through qemu-user here: zrk and Lua both run through it; python3 runs natively"
fi

# Median time in seconds of running the command runs times; its output goes to $scratch/out.
# CPU time (user + system) by default, as it varies least on a busy machine; ZRK_BENCH_WALL=1
# takes wall time instead.
median() {
  local times=() TIMEFORMAT='%R %U %S' line
  for ((run = 0; run < runs; ++run)); do
    rm -f "$scratch/boxes"
    line=$( { time taskset -c "$core" "$@" >"$scratch/out" 2>&1 || true; } 2>&1 )
    if [ -n "${ZRK_BENCH_WALL:-}" ]; then
      times+=("$(echo "$line" | awk '{ print $1 }')")
    else
      times+=("$(echo "$line" | awk '{ printf "%.3f", $2 + $3 }')")
    fi
  done
  printf '%s\n' "${times[@]}" | sort -g | sed -n "$(( (runs + 1) / 2 ))p" | awk '{ printf "%.3f", $1 }'
}

printf '%-10s %9s %9s %9s %8s %8s  %s\n' program zrk lua python zrk/lua zrk/py results
for name in "${names[@]}"; do
  cp "$here/$name.zrk" "$scratch/"
  # The first run compiles; the timed runs load the compiled file, as a user's second run does.
  ZRK_PROGRAM="$scratch/zrk" ZRK_MSGBOX_LOG="$scratch/boxes" "$zrk" "$scratch/$name.zrk" >/dev/null 2>&1 || true
  export ZRK_MSGBOX_LOG="$scratch/boxes"
  zrk_time=$(median "$zrk" "$scratch/$name.zrk")
  unset ZRK_MSGBOX_LOG
  zrk_result=$(ZRK_MSGBOX_LOG=/dev/stdout "$zrk" "$scratch/$name.zrk" 2>/dev/null | cut -f2 | tr '\n' ' ')
  lua_time=$(median "$lua" "$here/$name.lua")
  lua_result=$(tr '\n' ' ' <"$scratch/out")
  py_time=-; py_ratio=-; py_result=
  if [ -n "$python" ] && [ -f "$here/$name.py" ]; then
    py_time=$(median "$python" "$here/$name.py")
    py_result=" py: $(tr '\n' ' ' <"$scratch/out")"
    py_ratio=$(echo "scale=2; $zrk_time / $py_time" | bc)x
  fi
  ratio=$(echo "scale=2; $zrk_time / $lua_time" | bc)x
  printf '%-10s %8ss %8ss %8ss %8s %8s  zrk: %s lua: %s%s\n' "$name" "$zrk_time" "$lua_time" "$py_time" \
    "$ratio" "$py_ratio" "$zrk_result" "$lua_result" "$py_result"
done
