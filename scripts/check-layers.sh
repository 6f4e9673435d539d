#!/usr/bin/env bash
# Counts the includes that run upward in the layers (or across folders of one layer) and
# lists them; exits 1 when there is any. Layers, lowest first:
#   platform; foundation; vm; compiler; library sound tiltwick display; gui; game; app
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
declare -A layer=([platform]=0 [foundation]=1 [vm]=2 [compiler]=3
                  [library]=4 [sound]=4 [tiltwick]=4 [display]=4 [gui]=5 [game]=6 [app]=7)
count=0
for folder in "${!layer[@]}"; do
  [ -d "$root/$folder" ] || continue
  while IFS=: read -r file line text; do
    target="${text#*\"}"
    target="${target%%/*}"
    [ -n "${layer[$target]+x}" ] || continue
    [ "$target" = "$folder" ] && continue
    if [ "${layer[$target]}" -ge "${layer[$folder]}" ]; then
      echo "${file#"$root"/}:$line: $folder includes $target"
      count=$((count + 1))
    fi
  done < <(grep -rn --include='*.cpp' --include='*.h' -E '^#include "[a-z]+/' "$root/$folder" || true)
done
echo "upward includes: $count"
[ "$count" -eq 0 ]
