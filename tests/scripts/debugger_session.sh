#!/bin/sh
# Runs a program under the test debugger: the debugger attaches, hands over the first
# breakpoints, starts zrk with "D" on the program and plays SESSION against it; its
# transcript (addresses and the stack pointers rewritten) must equal EXPECTED.
# Usage: debugger_session.sh ZRK DEBUGGER PROGRAM SESSION EXPECTED
set -u
zrk=$1
debugger=$2
program=$3
session=$4
expected=$5

work=$(mktemp -d "${TMPDIR:-/tmp}/zrk-debug-XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$program" "$work/"
name=$(basename "$program")
mkdir -p "$work/root"
sed "s#@ZRK@#$zrk#g; s#@PROGRAM@#$name#g" "$session" > "$work/session.txt"

cd "$work" || exit 1
ZRK_ROOT="$work/root" ZRK_PROGRAM="$work/zrk" timeout -k 5 60 "$debugger" session.txt > transcript.txt 2>&1
sed -E 's/0x[0-9A-F]{8}/0xADDR/g; s/(SF|SP)\|[-0-9]+/\1|N/g' transcript.txt > shown.txt
if ! diff -u "$expected" shown.txt; then
  echo "FAIL: the debugger's transcript differs (expected, then seen)"
  exit 1
fi
echo "PASS: $name under the debugger"
