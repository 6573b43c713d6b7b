#!/usr/bin/env bash
# stream.sh: a self-running program that carries a 50 MB script runs in
# about the memory of one that carries a tiny script.
#
# The big script is 50 MB of comments, line comments and one long block
# comment, followed by the same final statement as the tiny one.  Both are
# glued onto the launcher and run under peakrss; the big one may use at most
# SLACK_KB (1024) more at its peak.  A launcher that held the script, or any
# sizeable part of it, would need tens of megabytes more.
#
# From the environment: LAUNCHER, GLUE, RUNTIME (the runtime library the
# program needs beside it), PEAKRSS.
set -u
: "${LAUNCHER:?}" "${GLUE:?}" "${RUNTIME:?}" "${PEAKRSS:?}"
slack=${SLACK_KB:-1024}

T=$(mktemp -d "${TMPDIR:-/tmp}/ovrel-stream.XXXXXX")
trap 'rm -rf "$T"' EXIT
cp "$RUNTIME" "$T/"

final='io.write("ran to the end with ", select("#", ...), " arguments\n")'
printf '%s\n' "$final" > "$T/tiny.lua"
{
  echo "#!/usr/bin/env ovrelrun"
  yes -- '-- a comment line that the lexer reads past without keeping any of it' | head -c 25000000
  echo
  echo '--[['
  yes -- 'a line inside one long comment block, also read past and dropped' | head -c 25000000
  echo
  echo ']]'
  printf '%s\n' "$final"
} > "$T/big.lua"

"$GLUE" "$T/tiny.lua" -o "$T/tiny" --launcher "$LAUNCHER" || exit 1
"$GLUE" "$T/big.lua" -o "$T/big" --launcher "$LAUNCHER" || exit 1

# run NAME: the peak in KB; the program's own output comes before it.
run() {
  local status=0
  "$PEAKRSS" "$T/$1" a b > "$T/$1.out" 2> "$T/$1.err" < /dev/null || status=$?
  local rss out
  rss=$(tail -n 1 "$T/$1.out")
  out=$(head -n -1 "$T/$1.out")
  if [[ $status != 0 || $out != "ran to the end with 2 arguments" || -s $T/$1.err ]]; then
    echo "$1: status $status, output '$out', stderr: $(head -c 400 "$T/$1.err")" >&2
    return 1
  fi
  echo "$rss"
}

tiny=$(run tiny) || exit 1
big=$(run big) || exit 1
size=$(wc -c < "$T/big.lua")
echo "peak memory: tiny script ${tiny} KB, ${size}-byte script ${big} KB (allowed: +${slack} KB)"
((big <= tiny + slack))
