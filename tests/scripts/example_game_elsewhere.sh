#!/bin/sh
# The example game started as a user starts it, by a path relative to the shell's folder
# with the runtime elsewhere, still finds the sounds beside it and reaches its score.
# Usage: example_game_elsewhere.sh ZRK EXAMPLES_FOLDER
zrk=$1
examples=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/examples"
cp "$examples/game.zrk" "$examples/game.timeline" "$examples"/game_*.wav "$work/examples/"
cd "$work" || exit 1
ZRK_DISPLAY=headless ZRK_CLOCK=virtual ZRK_AUDIO=null ZRK_MSGBOX_LOG="$work/boxes.log" \
ZRK_INPUT="$work/examples/game.timeline" timeout -k 5 60 "$zrk" examples/game.zrk > "$work/output.log" 2>&1
status=$?
if [ "$status" -ne 0 ] || ! grep -q "Score 4" "$work/boxes.log" 2>/dev/null; then
  echo "FAIL: the example game started as examples/game.zrk (exit $status):"
  cat "$work/output.log" "$work/boxes.log" 2>/dev/null
  exit 1
fi
echo "PASS: the example game found its sounds and scored 4"
