#!/usr/bin/env bash
# winpath_test.sh GROUP: Windows programs, and the modules beside them, in a
# folder that the ANSI code page cannot spell or deeper than MAX_PATH.
#
# Groups: cyrillic long.  A program starts by its full path from another
# folder, as Explorer and Wine start it.  Under the C.UTF-8 locale Wine's
# ANSI code page is 1252, which has no Cyrillic letters: the program name
# arrives with "?" for each, and reports show the path so.
source "$(dirname "$0")/harness.sh"
: "${NUMHASH:?}"
export LC_ALL=C.UTF-8

# start DIR FILE: runs FILE from folder DIR under its full path.
start() {
  ( cd "$1" && exec $RUN "$2" ) > "$R/out" 2> "$R/err"
  capture $?
}

starts() { [[ $1 == "$2"* ]]; }
has() { [[ $1 == *"$2"* ]]; }

# cases DIR SHOWN: the program folder DIR, which reports show as SHOWN.
cases() {
  local dir=$1 shown=$2 win
  mkdir -p "$dir" "$T/other"
  stage "$dir"
  cp "$NUMHASH" "$dir/"
  printf 'return "beside"' > "$dir/helper.lua"
  printf 'data' > "$dir/данные.txt"
  win=$(hostpath "$dir")
  progfile "$dir/p.exe" 'local numhash = require "numhash"
local m = numhash.new()
m[1] = "native"
local f = assert(io.open([['"${win//\\/\\\\}"'\\данные.txt]]))
io.write(args[0], " ", m[1], " ", require "helper", " ", f:read("*a"), "\\n")'
  start "$T/other" "$dir/p.exe"
  expect "the native module, a Lua module and a file named in UTF-8, all beside it" 0 \
    "$shown/p.exe native beside data"$'\n' ""

  cp "$LAUNCHER" "$dir/bare.exe"
  start "$T/other" "$dir/bare.exe"
  expect "no script: the one-line report" 1 "" \
    "$shown/bare.exe: Cannot find an Ovrel program in $shown/bare.exe: no glue."

  progfile "$dir/lacks.exe" 'require "nosuch"'
  start "$T/other" "$dir/lacks.exe"
  truth "a missing module: reported, looked for beside the program" \
    starts "$status $err" "1 $shown/lacks.exe: :1: module 'nosuch' not found:"
  truth "... in the program's folder by its true name" \
    has "$err" "no file '$dir/nosuch.dll'"
}

group_cyrillic() {
  cases "$T/Иван" "$T/????"
  # As a console user types it: the bare name, from the program's folder.
  ( cd "$T/Иван" && exec $RUN "$RUNAS" p.exe p ) > "$R/out" 2> "$R/err"
  capture $?
  expect "started by its bare name in its folder" 0 "p native beside data"$'\n' ""

  # A name the code page spells opens from its bytes in that code page
  # (what arguments carry) and from the same name in UTF-8.
  printf 'x' > "$T/other/café.txt"
  progfile "$T/names.exe" 'io.write(tostring(io.open("caf\\233.txt") ~= nil), " ",
  tostring(io.open("café.txt") ~= nil), "\\n")'
  start "$T/other" "$T/names.exe"
  expect "a name in the code page and the same in UTF-8 both open" 0 "true true"$'\n' ""
}

group_long() {
  local dir=$T part
  part=$(head -c 60 /dev/zero | tr '\0' 'd')
  for _ in 1 2 3 4 5; do dir+=/$part; done  # over 300 characters
  cases "$dir" "$dir"
}

group_"$1"
done_cases
