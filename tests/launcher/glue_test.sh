#!/usr/bin/env bash
# glue_test.sh GROUP: the glue tool's refusals and its round trip.
#
# Groups: refusals roundtrip outputs.  A refusal is one line "ovrelglue: ..." on
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
  refuse "-I without a template" "-I needs a template (try --help)" s.lua -o out -I
  refuse "-m without a name" "-m needs a module name (try --help)" s.lua -o out -m
  refuse "--include without a path" "--include needs a file or folder (try --help)" s.lua -o out --include
  refuse "-o twice" "-o given twice (try --help)" s.lua -o a -o b
  refuse "--launcher twice" "--launcher given twice (try --help)" s.lua -o a --launcher a --launcher b
  refuse "--extract twice" "--extract given twice (try --help)" --extract a b --extract c d
  refuse "--extract with a job" "--extract takes nothing else (try --help)" --extract a b -m x
  refuse "--show with --extract" "--show takes nothing else (try --help)" --show a --extract b c
  refuse "--check with --with-deps" "--check writes nothing: it takes no --with-deps" s.lua --check --with-deps
  refuse "-m of no name" "module .* is not found as Lua source in the search path (-m .*)" s.lua -o out -m '.*'
  native && refuse "a folder as standard input" "cannot read standard input: $ISDIR" - -o out < "$T"
  local o
  for o in "-o a" "--launcher a" --plain --with-deps --check "-I a" "-m a" "--include a" --onefile; do
    # shellcheck disable=SC2086  # the option and its argument, as two words
    refuse "--show with $o" "--show takes nothing else (try --help)" --show a $o
  done
  if native; then
    ln -s loop "$T/loop"
    refuse "an output that is a loop of links" "loop: too many levels of symbolic links" s.lua -o loop
  fi
  # Without /proc and under a name that no search finds, the tool cannot
  # tell its own folder: only a named launcher will do.
  if native && hidesproc; then
    ( cd "$T" && unshared bash -c "$HIDEPROC"' && exec -a ovrelglue "$@"' - \
        "$GLUE" s.lua -o out ) > "$R/out" 2> "$R/err"
    capture $?
    expect "no folder of its own" 1 "" "ovrelglue: cannot find this tool's own folder; name the launcher with --launcher"
  fi
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
  cp "$LAUNCHER" "$T/biglauncher"
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
  refuse "a launcher that carries a script, even a damaged one" \
    "damaged carries a script of its own; name a bare launcher" s.lua -o out --launcher damaged
  refuse "a launcher that is no executable image" \
    "s.lua is no launcher: it is not an executable image" s.lua -o out --launcher s.lua

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
    "offset: $(wc -c < "$LAUNCHER")"$'\n'"length: $(wc -c < "$T/s.lua")"$'\n'"first line: #!/usr/bin/env ovrelrun"$'\n'"$PLAINSHOW" ""

  printf 'print("second")' > "$T/t.lua"
  glue t.lua -o "again$EXE" --launcher "prog$EXE" --plain
  expect "a program is no launcher: scripts never stack" 1 "" \
    "ovrelglue: prog$EXE carries a script of its own; name a bare launcher"
  mkprog "$T/expected" "$T/t.lua"

  glue t.lua -o "prog$EXE" --launcher "launcher$EXE" --plain
  expect "an existing output is replaced" 0 "" "$(travelled "" "prog$EXE")"
  truth "with the new program" cmp -s "$T/prog$EXE" "$T/expected"

  : > "$T/empty.lua"
  glue empty.lua -o "empty$EXE" --launcher "launcher$EXE" --plain
  expect "an empty script" 0 "" "$(travelled "" "empty$EXE")"
  glue --show "empty$EXE"
  expect "show an empty script" 0 "offset: $(wc -c < "$LAUNCHER")"$'\nlength: 0\nfirst line: \n'"$PLAINSHOW" ""
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
    "offset: $(wc -c < "$LAUNCHER")"$'\nlength: 20\nfirst line: --x?\tz\n'"$PLAINSHOW" ""

  # Beside the launcher of the build, the tool needs no --launcher.
  glue s.lua -o "default$EXE" --plain
  expect "the launcher beside the tool is the default" 0 "" "$(travelled "" "default$EXE")"
  mkprog "$T/expected" "$T/s.lua"
  truth "and is the one used" cmp -s "$T/default$EXE" "$T/expected"

  glue --help
  truth "--help prints the usage" test "${out%%$'\n'*}" == "usage: ovrelglue SCRIPT -o OUTPUT [-I TEMPLATE]... [-m NAME]... [--plain] [--launcher PATH]"
  expect "--help ends well" 0 "$out" ""
  local help=$out
  glue -h
  expect "-h is --help" 0 "$help" ""

  # The ".exe" rule looks at the launcher's name in any case, and at no
  # name too short to have it.
  cp "$LAUNCHER" "$T/L.EXE"
  cp "$LAUNCHER" "$T/l"
  glue s.lua -o up --launcher L.EXE --plain
  expect "onto L.EXE, .exe is added" 0 "" \
    "$(travelled 'ovrelglue: wrote up.exe: ".exe" added, without which Windows does not start it' up.exe)"
  glue s.lua -o short --launcher l --plain
  expect "onto l, nothing is added" 0 "" "$(travelled "" short)"
  truth "to either name" test -f "$T/up.exe" -a -f "$T/short" -a ! -e "$T/up"
  local l
  for l in l.axe l.eye l.exf; do
    cp "$LAUNCHER" "$T/$l"
    glue s.lua -o "near$EXE" --launcher "$l" --plain
    expect "nor onto $l" 0 "" "$(travelled "" "near$EXE")"
  done
}

# Only a regular file is replaced, keeping its mode and owner; --check
# writes nothing; a stopped tool leaves no temporary file.
group_outputs() {
  printf 'io.write("hi")' > "$T/s.lua"
  local before
  before=$(listing)
  glue s.lua --check -o "prog$EXE"
  expect "--check prints the summary" 0 "" "$(travelled "" "prog$EXE")"
  truth "and writes nothing" test "$(listing)" == "$before"
  native || return 0

  mkfifo "$T/fifo"
  ln -s fifo "$T/tofifo"
  refuse "a pipe is not replaced" "fifo is not a regular file; it is not replaced" s.lua -o fifo
  refuse "nor through a link" "tofifo is not a regular file; it is not replaced" s.lua -o tofifo
  truth "it stays a pipe" test -p "$T/fifo"

  printf 'old' > "$T/kept"
  chmod 0640 "$T/kept"
  [[ $(id -u) == 0 ]] && chown 12345:23456 "$T/kept"
  glue s.lua -o kept --plain
  truth "a replaced file keeps its mode, runnable where readable" test "$(stat -c %a "$T/kept")" == 750
  if [[ $(id -u) == 0 ]]; then
    truth "and its owner" test "$(stat -c %u:%g "$T/kept")" == 12345:23456
  fi

  # Stopped while writing a large program: the temporary file goes too.
  cp "$LAUNCHER" "$T/big"
  truncate -s 300M "$T/big"
  local sig pid i
  for sig in INT TERM HUP; do
    (cd "$T" && exec "$GLUE" s.lua -o stopped --plain --launcher big 2> /dev/null) &
    pid=$!
    for (( i = 0; i < 5000; i++ )); do
      compgen -G "$T/.ovrelglue-*" > /dev/null && break
      sleep 0.001
    done
    kill -"$sig" "$pid"
    wait "$pid"
    truth "SIG$sig while writing ends the tool by that signal" test $? == $(( 128 + $(kill -l "$sig") ))
    truth "SIG$sig: no temporary file or output is left" nothing_like "$T/.ovrelglue-*"
  done
  truth "and no output" test ! -e "$T/stopped"
  # A signal ignored when the tool starts (nohup, a background job) stays
  # ignored: the program is written.
  (cd "$T" && trap '' HUP && exec "$GLUE" s.lua -o kept --plain --launcher big 2> /dev/null) &
  pid=$!
  for (( i = 0; i < 5000; i++ )); do
    compgen -G "$T/.ovrelglue-*" > /dev/null && break
    sleep 0.001
  done
  kill -HUP "$pid"
  wait "$pid"
  truth "an ignored SIGHUP does not stop the tool" test $? == 0 -a -s "$T/kept"

  # A full disk (a small file system of the test's own): a program or an
  # extraction that does not fit is reported and leaves nothing.
  if [[ ${SANITIZED:-0} != 1 ]] && unshare -rm true 2> /dev/null; then
    head -c 100000 /dev/zero | tr '\0' - > "$T/long.lua"
    glue long.lua -o longprog --plain
    mkdir "$T/full"
    ( cd "$T" && exec unshare -rm bash -c 'mount -t tmpfs -o size=64k none full || exit
        "$1" s.lua -o full/prog --plain --launcher big; echo "status $?"
        "$1" --extract longprog full/out; echo "status $?"
        ls -A full' - "$GLUE" 2>&1 | sed 's/\.ovrelglue-[A-Za-z0-9]\{6\}/.ovrelglue-X/' ) > "$R/out" 2> "$R/err"
    capture $?
    expect "a full disk is reported, and nothing is left on it" 0 \
      "ovrelglue: cannot write full/.ovrelglue-X: No space left on device
status 1
ovrelglue: cannot write full/.ovrelglue-X/script.lua: No space left on device
status 1
" ""
  fi
}

group_"$1"
done_cases
