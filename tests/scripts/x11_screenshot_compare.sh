#!/bin/sh
# Runs SCRIPT twice, headless and in a real window on a virtual X server started here
# (Xvfb), each with the input timeline "<name>.timeline" beside it, which must take a
# "screenshot screen.bmp"; the two screenshots must be equal byte for byte.
# Usage: x11_screenshot_compare.sh ZRK SCRIPT
set -u
zrk=$1
script=$2
script_dir=$(cd "$(dirname "$script")" && pwd)
name=$(basename "$script" .zrk)
work=$(mktemp -d "${TMPDIR:-/tmp}/zrk-x11-XXXXXX")
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

if ! command -v Xvfb > /dev/null; then
  echo "FAIL: Xvfb is missing (scripts/install-deps.sh installs it)"
  exit 1
fi
# Other programs may run X servers: try numbers away from the usual ones.
number=$((300 + $$ % 500))
for attempt in 1 2 3 4 5 6 7 8 9 10; do
  Xvfb ":$number" -screen 0 800x700x24 -nolisten tcp -noreset > /dev/null 2>&1 &
  server=$!
  tries=0
  while [ $tries -lt 60 ] && kill -0 "$server" 2>/dev/null && [ ! -S "/tmp/.X11-unix/X$number" ]; do
    sleep 0.05
    tries=$((tries + 1))
  done
  if kill -0 "$server" 2>/dev/null && [ -S "/tmp/.X11-unix/X$number" ]; then break; fi
  server=""
  number=$((number + 1))
done
if [ -z "$server" ]; then
  echo "FAIL: no virtual X server could start"
  exit 1
fi

run() {  # run DISPLAY_KIND FOLDER
  mkdir -p "$2/root"
  cp -R "$script_dir/." "$2/"
  (cd "$2" && DISPLAY=":$number" ZRK_DISPLAY=$1 ZRK_CLOCK=virtual ZRK_AUDIO=null ZRK_INPUT="$name.timeline" \
    ZRK_MSGBOX_LOG="$2/boxes.log" ZRK_ROOT="$2/root" ZRK_PROGRAM="$2/zrk" \
    timeout -k 5 60 "$zrk" "$name.zrk" > "$2/output.log" 2>&1)
}
run headless "$work/headless"
run x11 "$work/x11"
for kind in headless x11; do
  if [ ! -f "$work/$kind/screen.bmp" ]; then
    echo "FAIL: $name took no screenshot on the $kind display"
    cat "$work/$kind/output.log"
    exit 1
  fi
done
if ! cmp -s "$work/headless/screen.bmp" "$work/x11/screen.bmp"; then
  echo "FAIL: $name: the x11 window differs from the headless screen"
  exit 1
fi
echo "PASS: $name"
