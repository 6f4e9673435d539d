#!/bin/sh
# Compiled files: the first run writes NAME.zrc; a later run loads it without reading the
# source again (the source is replaced by broken text kept older than the .zrc) and shows
# the same boxes; a newer source is compiled again; a damaged .zrc is refused and
# rebuilt from the source.
# Usage: compiled_file_reuse.sh ZRK SCRIPT
set -u
zrk=$1
script=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/zrk-reuse-XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$script" "$work/prog.zrk"
cd "$work" || exit 1
failed=0
fail() { echo "FAIL: $*"; failed=1; }

run() {
  rm -f boxes.log
  ZRK_DISPLAY=headless ZRK_CLOCK=virtual ZRK_AUDIO=null ZRK_MSGBOX_LOG="$work/boxes.log" \
  ZRK_ROOT="$work/root" ZRK_PROGRAM="$work/zrk" timeout -k 5 60 "$zrk" prog.zrk > output.log 2>&1
  status=$?
  touch boxes.log
  grep -q "Loading zrc file" errorlog.txt 2>/dev/null && road=load || road=compile
}

run
[ "$status" -eq 0 ] || fail "first run exited with $status"
[ "$road" = compile ] || fail "first run did not compile"
[ -s prog.zrc ] || fail "no prog.zrc after the first run"
cp boxes.log first.log
cp prog.zrc first.zrc

# The source becomes text that cannot compile, dated before the compiled file.
echo 'proc main showmessage("the source was read"' > prog.zrk
touch -d '2001-01-01' prog.zrk
run
[ "$status" -eq 0 ] || fail "run from prog.zrc exited with $status"
[ "$road" = load ] || fail "prog.zrc was not loaded"
diff -u first.log boxes.log || fail "the loaded program shows other boxes"
cmp -s first.zrc prog.zrc || fail "loading rewrote prog.zrc"

# A newer source is compiled again.
printf 'proc main\n  showmessage("changed ", 6 * 7);\nend;\n' > prog.zrk
touch -d '2001-01-02' prog.zrc
run
[ "$road" = compile ] || fail "the newer source was not compiled"
printf 'Message\tchanged 42\n' > changed.log
diff -u changed.log boxes.log || fail "the newer source's boxes differ"
cmp -s first.zrc prog.zrc && fail "prog.zrc was not rewritten"

# A damaged compiled file, newer than its source, is refused and rebuilt.
for damage in truncated garbage; do
  touch -d '2001-01-01' prog.zrk
  if [ "$damage" = truncated ]; then
    head -c 20 prog.zrc > damaged.zrc
  else
    head -c 300 /dev/zero | tr '\0' 'Z' > damaged.zrc
  fi
  mv damaged.zrc prog.zrc
  run
  [ "$status" -eq 0 ] || fail "$damage prog.zrc: exited with $status"
  diff -u changed.log boxes.log || fail "$damage prog.zrc: the boxes differ"
  [ "$(wc -c < prog.zrc)" -gt 40 ] || fail "$damage prog.zrc was not rebuilt"
done

if [ "$failed" -ne 0 ]; then
  echo "--- errorlog.txt:"; cat errorlog.txt 2>/dev/null
  echo "--- what zrk printed:"; cat output.log
  exit 1
fi
echo "PASS: compiled files"
