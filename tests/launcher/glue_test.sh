#!/usr/bin/env bash
# glue_test.sh GROUP: the glue tool's refusals and its round trip.
#
# Groups: refusals roundtrip.  A refusal is one line "ovrelglue: ..." on
# stderr, exit status 1, and no output file, half-written or temporary.
source "$(dirname "$0")/harness.sh"

# glue [ARGS...]: runs the tool from $T.
glue() { run "$T" ovrelglue "$GLUE" "$@"; }

# Lists what is in $T, to see that a refusal left nothing behind.
listing() { ( cd "$T" && ls -A ); }

nothing_like() { ! compgen -G "$1" > /dev/null; }

# refuse WHAT STDERR ARGS...: the tool refuses and leaves $T as it was.
refuse() {
  local what=$1 message=$2 before
  shift 2
  before=$(listing)
  glue "$@"
  expect "$what" 1 "" "ovrelglue: $message"
  truth "$what: nothing left behind" test "$(listing)" == "$before"
}

group_refusals() {
  printf 'io.write("hi")' > "$T/s.lua"
  cp "$LAUNCHER" "$T/launcher$EXE"

  refuse "no arguments" "no script given (try --help)"
  refuse "no output" "no output given: -o OUTPUT (try --help)" s.lua
  refuse "unknown option" "unknown option -x (try --help)" s.lua -x -o out
  refuse "two scripts" "more than one script: s.lua and t.lua (try --help)" s.lua t.lua -o out
  refuse "-o without a name" "-o needs a file name (try --help)" s.lua -o
  refuse "missing script" "cannot open nope.lua: No such file or directory" nope.lua -o out
  mkdir "$T/dir.lua"
  refuse "a folder as script" "dir.lua is not a regular file" dir.lua -o out
  refuse "missing launcher" "cannot open nolauncher: No such file or directory" \
    s.lua -o out --launcher nolauncher

  refuse "output is the script" "s.lua is the script itself; choose another output" s.lua -o s.lua
  refuse "output is the script by another path" \
    "./dir.lua/../s.lua is the script itself; choose another output" s.lua -o ./dir.lua/../s.lua
  ln -s s.lua "$T/link.lua"
  refuse "output is the script through a link" \
    "link.lua is the script itself; choose another output" s.lua -o link.lua
  refuse "output is the launcher" "launcher$EXE is the launcher itself; choose another output" \
    s.lua -o "launcher$EXE" --launcher "launcher$EXE"
  refuse "output is a folder" "dir.lua is a folder" s.lua -o dir.lua --launcher "launcher$EXE"
  refuse "output in a missing folder" "cannot create nodir/out$EXE: No such file or directory" \
    s.lua -o "nodir/out$EXE" --launcher "launcher$EXE"

  # Sparse files: their length is all that is looked at.
  truncate -s 2147483648 "$T/big.lua"
  refuse "a script past the trailer's 32-bit field" \
    "big.lua is too large (2147483648 bytes; the trailer holds at most 2147483647)" \
    big.lua -o out --launcher "launcher$EXE"
  truncate -s 3000000000 "$T/biglauncher"
  refuse "a launcher past the trailer's 32-bit field" \
    "biglauncher is too large (3000000000 bytes; the trailer holds at most 2147483647)" \
    s.lua -o out --launcher biglauncher

  printf 'old' > "$T/kept"
  refuse "an existing output survives a refusal" \
    "big.lua is too large (2147483648 bytes; the trailer holds at most 2147483647)" \
    big.lua -o kept --launcher "launcher$EXE"
  truth "the existing output is unchanged" test "$(cat "$T/kept")" == old

  # The launcher's own judgement: a script may not start past the trailer.
  { cat "$LAUNCHER"; printf 'io.write(1)'; trailer 999999 11; } > "$T/damaged"
  refuse "a launcher whose trailer points past its end" \
    "damaged has a damaged trailer; use a bare launcher" s.lua -o out --launcher damaged

  refuse "show on a file without trailer" "launcher$EXE carries no script (no trailer)" \
    --show "launcher$EXE"
  refuse "show on a damaged trailer" \
    "damaged has a damaged trailer (offset 999999, length 11, file of $(wc -c < "$T/damaged") bytes)" \
    --show damaged
  printf 'short' > "$T/short"
  refuse "show on a file shorter than a trailer" "short carries no script (no trailer)" --show short
  refuse "show with anything else" "--show takes nothing else (try --help)" --show damaged s.lua
}

group_roundtrip() {
  printf '#!/usr/bin/env ovrelrun\r\nio.write(select("#", ...), " ", table.concat({...}, ","), "\\n")\n' > "$T/s.lua"
  cp "$LAUNCHER" "$T/launcher$EXE"

  glue s.lua -o "prog$EXE" --launcher "launcher$EXE" --plain
  expect "glue a script" 0 "" "$(travelled "" "prog$EXE")"
  truth "the output is executable" test -x "$T/prog$EXE"
  mkprog "$T/expected" "$T/s.lua"
  truth "image, script and trailer, byte for byte" cmp -s "$T/prog$EXE" "$T/expected"
  truth "no temporary file left" nothing_like "$T/.ovrelglue-*"

  mkdir "$T/elsewhere"
  run "$T/elsewhere" "$T/prog$EXE" "$T/prog$EXE" a "b c"
  expect "the program runs from another folder" 0 $'2 a,b c\n' ""

  glue --show "prog$EXE"
  expect "show: offset, length and first line" 0 \
    "offset: $(wc -c < "$LAUNCHER")"$'\n'"length: $(wc -c < "$T/s.lua")"$'\n'"first line: #!/usr/bin/env ovrelrun"$'\n' ""

  printf 'print("second")' > "$T/t.lua"
  glue t.lua -o "again$EXE" --launcher "prog$EXE" --plain
  expect "glue onto a program that carries a script" 0 "" "$(travelled "" "again$EXE")"
  mkprog "$T/expected" "$T/t.lua"
  truth "only the bare image is taken: no stacking" cmp -s "$T/again$EXE" "$T/expected"

  glue t.lua -o "prog$EXE" --launcher "launcher$EXE" --plain
  expect "an existing output is replaced" 0 "" "$(travelled "" "prog$EXE")"
  truth "with the new program" cmp -s "$T/prog$EXE" "$T/expected"

  : > "$T/empty.lua"
  glue empty.lua -o "empty$EXE" --launcher "launcher$EXE" --plain
  expect "an empty script" 0 "" "$(travelled "" "empty$EXE")"
  glue --show "empty$EXE"
  expect "show an empty script" 0 "offset: $(wc -c < "$LAUNCHER")"$'\nlength: 0\nfirst line: \n' ""
  runp empty
  expect "it runs and ends normally" 0 "" ""

  # The tool reads a script as the launcher does: a length past the end
  # reads up to the end, trailer included.
  { cat "$LAUNCHER"; printf 'io.write(1)'; trailer "$(wc -c < "$LAUNCHER")" 999; } > "$T/pastend"
  glue --extract pastend pastout
  expect "extract a script whose length reaches past the end" 0 "pastout/script.lua"$'\n' ""
  truth "up to the end of the file" cmp -s "$T/pastout/script.lua" <(tail -c 27 "$T/pastend")

  printf -- '--x\001\tz\n--second line' > "$T/ctl.lua"
  glue ctl.lua -o "ctl$EXE" --launcher "launcher$EXE" --plain
  glue --show "ctl$EXE"
  expect "show makes control bytes visible" 0 \
    "offset: $(wc -c < "$LAUNCHER")"$'\nlength: 20\nfirst line: --x?\tz\n' ""

  # Beside the launcher of the build, the tool needs no --launcher.
  glue s.lua -o "default$EXE" --plain
  expect "the launcher beside the tool is the default" 0 "" "$(travelled "" "default$EXE")"
  mkprog "$T/expected" "$T/s.lua"
  truth "and is the one used" cmp -s "$T/default$EXE" "$T/expected"

  glue --help
  truth "--help prints the usage" test "${out%%$'\n'*}" == "usage: ovrelglue SCRIPT -o OUTPUT [-I TEMPLATE]... [-m NAME]... [--plain] [--launcher PATH]"
  expect "--help ends well" 0 "$out" ""
}

group_"$1"
done_cases
