#!/usr/bin/env bash
# runpaths.sh DIR...: every ELF file below the folders has run-paths made
# only of folders relative to itself.  An empty entry (CMake pads run-paths
# with them) is read by the loader as the current folder, and an absolute
# one breaks an install that moves.
set -euo pipefail
bad=0 seen=0
while IFS= read -r -d '' f; do
  [[ $(head -c4 "$f" | od -An -c | tr -d ' ') == 177ELF ]] || continue
  seen=$((seen + 1))
  rpath=$(readelf -d "$f" 2>/dev/null | sed -n 's/.*R\(UN\)\{0,1\}PATH.*\[\(.*\)\]$/\2/p')
  [[ -z $rpath ]] && continue
  IFS=: read -r -a entries <<<"$rpath:"
  for e in "${entries[@]}"; do
    if [[ $e != '$ORIGIN' && $e != '$ORIGIN/'* ]]; then
      echo "FAIL $f: run-path [$rpath] has the entry '$e'"
      bad=$((bad + 1))
    fi
  done
done < <(find "$@" -type f -size +63c -print0)
echo "runpaths: $seen ELF files read, $bad bad entries"
((seen > 0 && bad == 0))
