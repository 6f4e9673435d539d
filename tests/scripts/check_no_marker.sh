#!/bin/sh
# The runtime finds an appended program by a marker it searches in its own file; the
# marker must therefore not occur in the runtime's own bytes.
# Usage: check_no_marker.sh ZRK
marker="ZRCDATA""START"
if grep -q -F -a "$marker" "$1"; then
  echo "FAIL: $1 holds the appended-program marker in its own bytes"
  exit 1
fi
echo "PASS: no marker in $1"
