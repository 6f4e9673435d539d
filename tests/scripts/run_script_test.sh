#!/bin/sh
# Runs one script test: zrk runs SCRIPT headless in a fresh folder (a copy of the
# script's folder), with its message boxes captured, then the capture is compared with
# SCRIPT's ".expected" file and every named output file "<name>.<file>.expected" with the
# file <file> the run left. Switches come one per line from an optional "<name>.args",
# the expected exit status from an optional "<name>.exit" (else 0), extra environment
# from an optional "<name>.env" (NAME=VALUE lines; relative paths are from the test's
# folder copy), and an optional "<name>.sed" rewrites the capture and the output files
# before they are compared (times, dates, addresses). Without a ".sed", addresses written
# as "0x" and six to eight hex digits in message boxes are compared as "0x?".
# The expected files may stand in another folder (EXPECTED_DIR), for scripts kept
# elsewhere such as the examples.
# Usage: run_script_test.sh ZRK SCRIPT [SECONDS [EXPECTED_DIR]]
set -u
zrk=$1
script=$2
seconds=${3:-60}

script_dir=$(cd "$(dirname "$script")" && pwd)
source_dir=$script_dir
[ -n "${4:-}" ] && source_dir=$(cd "$4" && pwd)
name=$(basename "$script" .zrk)
work=$(mktemp -d "${TMPDIR:-/tmp}/zrk-script-XXXXXX")
trap 'rm -rf "$work"' EXIT
cp -R "$script_dir/." "$work/"
mkdir -p "$work/root"

set -- "$name.zrk"
if [ -f "$source_dir/$name.args" ]; then
  while IFS= read -r switch || [ -n "$switch" ]; do
    [ -n "$switch" ] && set -- "$@" "$switch"
  done < "$source_dir/$name.args"
fi

extra_env=""
if [ -f "$source_dir/$name.env" ]; then
  while IFS= read -r assignment || [ -n "$assignment" ]; do
    [ -n "$assignment" ] && extra_env="$extra_env $assignment"
  done < "$source_dir/$name.env"
fi

# The program folder (start scripts, logs, reports) is the test's own folder.
cd "$work" || exit 1
ZRK_DISPLAY=headless ZRK_CLOCK=virtual ZRK_AUDIO=null ZRK_MSGBOX_LOG="$work/boxes.log" \
ZRK_ROOT="$work/root" ZRK_PROGRAM="$work/zrk" \
  env $extra_env timeout -k 5 "$seconds" "$zrk" "$@" > "$work/output.log" 2>&1
status=$?

failed=0
if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
  echo "FAIL: $name timed out after $seconds s"
  failed=1
elif [ "$status" -gt 128 ]; then
  echo "FAIL: $name crashed (signal $((status - 128)))"
  failed=1
else
  expected_status=0
  [ -f "$source_dir/$name.exit" ] && expected_status=$(tr -d ' \r\n' < "$source_dir/$name.exit")
  if [ "$status" -ne "$expected_status" ]; then
    echo "FAIL: $name exited with $status, expected $expected_status"
    failed=1
  fi
fi

# A sanitizer's report from another thread can lose the race with the process's exit
# status; its text still shows the fault.
if grep -qE '==[0-9]+==ERROR: [A-Za-z]+Sanitizer|\.(cpp|h):[0-9]+:[0-9]+: runtime error: ' "$work/output.log"; then
  echo "FAIL: $name: a sanitizer reported a fault"
  failed=1
fi

touch "$work/boxes.log"
normalise() {
  if [ -f "$source_dir/$name.sed" ] && [ -f "$1" ]; then
    sed -E -f "$source_dir/$name.sed" "$1" > "$1.normalised" && mv "$1.normalised" "$1"
  fi
}
if [ -f "$source_dir/$name.sed" ]; then
  normalise "$work/boxes.log"
else
  # Code and heap addresses in fault and error texts change from run to run.
  sed 's/0x[0-9a-fA-F]\{6,8\}/0x?/g' "$work/boxes.log" > "$work/boxes.cmp"
  mv "$work/boxes.cmp" "$work/boxes.log"
fi
if [ -f "$source_dir/$name.expected" ]; then
  if ! diff -u "$source_dir/$name.expected" "$work/boxes.log"; then
    echo "FAIL: $name: the message boxes differ (expected, then shown)"
    failed=1
  fi
fi
for expected in "$source_dir/$name".*.expected; do
  [ -f "$expected" ] || continue
  file=$(basename "$expected" .expected)
  file=${file#"$name".}
  if [ ! -f "$work/$file" ]; then
    echo "FAIL: $name did not write $file"
    failed=1
  elif ! { normalise "$work/$file"; diff -u "$expected" "$work/$file"; }; then
    echo "FAIL: $name: $file differs (expected, then written)"
    failed=1
  fi
done

if [ "$failed" -ne 0 ]; then
  echo "--- what zrk printed:"
  cat "$work/output.log"
  exit 1
fi
echo "PASS: $name"
