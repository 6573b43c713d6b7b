#!/usr/bin/env bash
# launcher_test.sh GROUP: self-running programs built in a temporary folder
# and run, with their exact reports and exit status.
#
# Groups: args errors trailer firstline naming ownfile output beside.  A
# program is mostly run as ./NAME from its folder; cases that need the
# launcher to look for a file other than the one running start it under
# another program name, which only Windows follows (byname), and natively
# only where there is no /proc (noproc).
source "$(dirname "$0")/harness.sh"

# Windows finds the program's own file from its name; elsewhere the kernel
# names the running file, and no name leads to another one.
byname() { [[ -n $RUNAS ]]; }

# Reports what the script received: the count of its variable arguments
# and of the entries of args, then both lists.
ARGS_SCRIPT='local n = 0
for _ in pairs(args) do n = n + 1 end
io.write(select("#", ...), " ", n, "\\n")
for i = 0, n - 1 do io.write("args[", i, "]=[", args[i], "]\\n") end
local v = {...}
for i = 1, select("#", ...) do io.write("...[", i, "]=[", v[i], "]\\n") end
'

# Most cases are one row each: case_ NAME SCRIPT STATUS STDOUT REPORT WHAT
# [ARGS...] (harness.sh) builds ./NAME running SCRIPT, runs it with ARGS and
# expects STATUS, STDOUT and the report "./NAME: REPORT"; "\n" and "\t" in
# them are line ends and tabs.  Cases with steps of their own stay as code.

group_args() {
  prog show "$ARGS_SCRIPT"
  local a0="args[0]=[./show$EXE]\n"
  ends show 0 "0 1\n$a0" "" "no arguments: args holds the program name only"
  ends show 0 "2 3\n${a0}args[1]=[one]\nargs[2]=[two]\n...[1]=[one]\n...[2]=[two]\n" "" \
    "two arguments, in order, in ... and in args" one two
  ends show 0 "3 4\n${a0}args[1]=[a b]\nargs[2]=[]\nargs[3]=[ c ]\n...[1]=[a b]\n...[2]=[]\n...[3]=[ c ]\n" "" \
    "arguments with blanks, and an empty one, stay whole" "a b" "" " c "

  # One letter each: Windows takes a command line of 32767 characters.
  prog count 'io.write(select("#", ...), " ", #args, " ", args[#args], "\\n")'
  local many=() i
  for ((i = 1; i < 7000; i++)); do many+=(x); done
  many+=(z)
  ends count 0 "7000 7000 z\n" "" "seven thousand arguments" "${many[@]}"
  for ((i = 7001; i <= 9000; i++)); do many+=(x); done
  ends count 1 "" "stack overflow (Too many arguments to script.)\nstack traceback:\n\t[C]: ?" \
    "more arguments than the stack takes: the stack error, traced" "${many[@]}"

  case_ normal 'io.write("done\\n")' 0 "done\n" "" "a normal end: status 0, nothing on stderr"
  case_ flush 'io.write("partial") error("late")' 1 partial ":1: late$(trace_main 1)" \
    "output written before an error is flushed"

  # Kernels that refuse a program without a name give it an empty one.
  if [[ -n $NOARGV ]]; then
    local given
    given=$("$NOARGV")
    "$NOARGV" "$T/normal$EXE" > "$R/out" 2> "$R/err"
    capture $?
    if [[ $given == none ]]; then
      expect "no program name: the default name in the report" 1 "" \
        "ovrelrun: Cannot locate this executable."
    else
      expect "an empty program name (the kernel's stand-in for none): the file is still found" 0 \
        $'done\n' ""
    fi
  fi
}

group_errors() {
  local table="(error object is a table value)"
  case_ str 'local function f() error("boom") end\nf()\n' 1 "" \
    ":1: boom\nstack traceback:\n\t[C]: in function 'error'\n\t:1: in function 'f'\n\t:2: in main chunk\n\t[C]: ?" \
    "a string error, with the traceback at level 2"
  case_ num 'error(42, 0)' 1 "" "42$(trace_main 1)" "a number has a text form: traced"
  case_ tbl 'error({})' 1 "" "$table$(trace_main 1)" "a table without __tostring: named by its type, traced"
  case_ custom 'error(setmetatable({}, {__tostring = function() return "custom report" end}))' 1 "" \
    "custom report" "a table whose __tostring gives a string: that string alone"
  case_ tsnum 'error(setmetatable({}, {__tostring = function() return 7 end}))' 1 "" \
    "$table$(trace_main 1)" "__tostring giving a number: named by the type, traced"
  case_ tsnil 'error(setmetatable({}, {__tostring = function() end}))' 1 "" \
    "$table$(trace_main 1)" "__tostring giving nothing: named by the type, traced"
  case_ nilerr 'error()' 1 "" "(error object is a nil value)$(trace_main 1)" "nil: named by its type, traced"
  case_ booleanerr 'error(false)' 1 "" "(error object is a boolean value)$(trace_main 1)" \
    "false: named by its type, traced"
  case_ nodebug 'debug = nil\nerror("bare")' 1 "" ":2: bare" "debug removed: the message without traceback"
  case_ numdebug 'debug = 5 error("bare")' 1 "" ":1: bare" "debug not a table: no traceback"
  case_ notrace 'debug.traceback = "no" error("bare")' 1 "" ":1: bare" "debug.traceback not a function: no traceback"
  case_ notracetbl 'debug.traceback = nil error({})' 1 "" "$table" "no traceback for a table either"
  case_ owntrace 'debug.traceback = function(m, l) return "[" .. m .. "@" .. l .. "]" end error("x", 0)' 1 "" \
    "[x@2]" "a replaced traceback gets the message and level 2"
  case_ tracetable 'debug.traceback = function() return {} end error("x")' 1 "" "$table" \
    "a traceback that gives no text: named by its type"
  case_ runtime 'local t = nil\nlocal x = t.field' 1 "" \
    ":2: attempt to index local 't' (a nil value)\nstack traceback:\n\t:2: in main chunk\n\t[C]: ?" \
    "an error of the runtime itself"
}

group_trailer() {
  cp "$LAUNCHER" "$T/ovrelrun$EXE"
  ends ovrelrun 1 "" "Cannot find an Ovrel program in $T/ovrelrun$EXE: no glue." \
    "the bare launcher: no glue, with its full path"

  # Natively the running file is read whatever the name says.
  local self="Cannot find an Ovrel program in $T/ovrelrun$EXE: no glue."
  printf 'tiny' > "$T/short.bin"
  run "$T" ./short.bin "$T/ovrelrun$EXE"
  if byname; then
    expect "a file shorter than the trailer: seek fails" 1 "" \
      "./short.bin: Cannot seek $T/short.bin: Invalid argument."
  else
    expect "a file the name leads to is not read: the running one is" 1 "" "./short.bin: $self"
  fi

  local image
  image=$(wc -c < "$LAUNCHER")
  printf 'io.write("x")' > "$T/neg.lua"
  mkprog "$T/neg$EXE" "$T/neg.lua" -1
  ends neg 1 "" "Cannot seek $T/neg$EXE: Invalid argument." "a negative script offset: seek fails"

  # Beyond the trailer there is no script at all: refused, not run as empty.
  mkprog "$T/beyond$EXE" "$T/neg.lua" $((image + 14 + 16 + 1))
  ends beyond 1 "" "Cannot seek $T/beyond$EXE: Invalid argument." \
    "a script offset beyond the trailer: seek refused"
  mkprog "$T/attrailer$EXE" "$T/neg.lua" $((image + 13)) 0
  ends attrailer 0 "" "" "an empty script right before the trailer: runs, does nothing"

  # The rest of the file, trailer included, falls into the comment that
  # ends the script; its sizes hold no line-end byte.
  if byname; then
    { head -c 100 /dev/zero | tr '\0' 'x'; printf 'io.write("whole")\n--'; trailer 100 4000; } > "$T/long$EXE"
    run "$T" ./long "$T/ovrelrun$EXE"
    expect "a length past the end of the file: read up to the end" 0 "whole" ""
  fi

  prog damaged 'io.write("x")'
  printf 'X' | dd of="$T/damaged$EXE" bs=1 seek=$(( $(wc -c < "$T/damaged$EXE") - 9 )) conv=notrunc 2>/dev/null
  ends damaged 1 "" "Cannot find an Ovrel program in $T/damaged$EXE: no glue." \
    "one byte of the signature changed: no glue"

  mkdir "$T/adir.d"
  run "$T" ./adir.d "$T/ovrelrun$EXE"
  if byname; then
    expect "a program name that is a folder: cannot open" 1 "" "./adir.d: Cannot open ./adir.d: $ISDIR."
  else
    expect "a program name that is a folder: the running file is read" 1 "" "./adir.d: $self"
  fi

  run "$T" ./missing "$T/ovrelrun$EXE"
  if byname; then
    expect "a program name with a path to nothing: cannot open" 1 "" \
      "./missing: Cannot open ./missing: No such file or directory."
  else
    expect "a program name with a path to nothing: the running file is read" 1 "" "./missing: $self"
  fi
}

group_firstline() {
  case_ lf '#!/usr/bin/env ovrelrun\n\nerror("three")\n' 1 "" ":3: three$(trace_main 3)" \
    "a # line with LF: line 3 stays line 3"
  case_ crlf '#!/usr/bin/env ovrelrun\r\n\r\nerror("three")\r\n' 1 "" ":3: three$(trace_main 3)" \
    "a # line with CRLF: line 3 stays line 3"
  case_ syntax3 '# comment\nlocal a = 1\nlocal = 2\n' 1 "" ":3: '<name>' expected near '='" \
    "a compile error after a # line: line 3, no traceback"
  case_ nolf '#x\nio.write("last")' 0 last "" "a # line and a last line without newline"
  case_ onlyhash '#!io.write("not run")' 0 "" "" "a single # line without newline: an empty chunk"
  case_ hash '#' 0 "" "" "the single byte #: an empty chunk"
  case_ empty '' 0 "" "" "an empty script"
  case_ space ' #x = 1' 1 "" ":1: unexpected symbol near '#'" "a # that is not the first byte is the script's"

  # 600 bytes in all: the string literal crosses the first block's end.
  local pad
  pad=$(head -c 580 /dev/zero | tr '\0' 'y')
  prog six "io.write(#\"$pad\", \"\\\\n\")\n"
  truth "the script has 600 bytes" test "$(wc -c < "$T/six$EXE.lua")" -eq 600
  ends six 0 "580\n" "" "a 600-byte script runs whole"

  case_ bad 'x = = 1' 1 "" ":1: unexpected symbol near '='" \
    "a script that does not compile: the loader's message alone"
  case_ unfinished 'local s = "open' 1 "" ":1: unfinished string near '<eof>'" "an unfinished string"
}

group_naming() {
  native || [[ -n $RUNAS ]] || { echo "skip naming: needs a program name of our choosing"; return; }
  mkdir -p "$T/sub" "$T/path" "$T/else"
  stage "$T/sub"
  progfile "$T/sub/prog.exe" 'io.write(args[0], " ran sub/prog.exe")'
  run "$T/sub" prog "$T/sub/prog.exe"
  expect "a name without .exe: found with .exe in the program's folder" 0 "prog ran sub/prog.exe" ""

  run "$T/sub" ./prog "$T/sub/prog.exe"
  expect "a path without .exe: found with .exe" 0 "./prog ran sub/prog.exe" ""

  run "$T/sub" prog.exe "$T/sub/prog.exe"
  expect "a name with .exe is searched unchanged" 0 "prog.exe ran sub/prog.exe" ""

  # Natively each of these names leads elsewhere, and sub/prog.exe runs.
  progfile "$T/incwd.exe" 'io.write("ran incwd.exe")'
  run "$T" incwd "$T/sub/prog.exe"
  if byname; then expect "then the current folder" 0 "ran incwd.exe" ""
  else expect "a file of that name in the current folder is not run" 0 "incwd ran sub/prog.exe" ""; fi

  progfile "$T/path/viapath.exe" 'io.write("ran path/viapath.exe")'
  withpath "$T/else:$T/path" run / viapath "$T/sub/prog.exe"
  if byname; then expect "then each folder of PATH" 0 "ran path/viapath.exe" ""
  else expect "a file of that name on PATH is not run" 0 "viapath ran sub/prog.exe" ""; fi

  progfile "$T/sub/both$EXE" 'io.write("ran sub/both")'
  progfile "$T/both$EXE" 'io.write("ran both in cwd")'
  run "$T" both "$T/sub/prog.exe"
  if byname; then expect "the program's folder comes before the current one" 0 "ran sub/both" ""
  else expect "a file of that name beside the program is not run" 0 "both ran sub/prog.exe" ""; fi

  cp "$T/sub/prog.exe" "$T/sub/tool.v2.exe"
  run "$T/sub" tool.v2 "$T/sub/prog.exe"
  if byname; then
    expect "a name with another extension gets no .exe" 1 "" \
      "tool.v2: Cannot open tool.v2: No such file or directory."
  else
    expect "a name with another extension: the running file" 0 "tool.v2 ran sub/prog.exe" ""
  fi

  run / nosuch-ovrel-program "$T/sub/prog.exe"
  if byname; then
    expect "a name found nowhere" 1 "" \
      "nosuch-ovrel-program: Cannot open nosuch-ovrel-program: No such file or directory."
  else
    expect "a name found nowhere: the running file" 0 "nosuch-ovrel-program ran sub/prog.exe" ""
  fi

  cp "$LAUNCHER" "$T/sub/bare$EXE"
  run "$T" ./sub/./bare "$T/sub/bare$EXE"
  expect "the reported path is absolute, without . steps" 1 "" \
    "./sub/./bare: Cannot find an Ovrel program in $T/sub/bare$EXE: no glue."

  # Windows starts no program whose full path passes the limit.
  native || return 0

  # A folder deeper than the path limit: a search by name from there would
  # find a full path that does not fit; the running file needs none.
  local part
  part=$(head -c 200 /dev/zero | tr '\0' 'd')
  ( cd "$T" && for ((i = 0; i < 22; i++)); do mkdir "$part" && cd "$part" || exit 9; done
    cp "$T/sub/prog.exe" ./prog.exe
    exec -a ./prog.exe "$T/sub/prog.exe" ) > "$R/out" 2> "$R/err"
  capture $?
  expect "a current folder deeper than the limit does not matter" 0 "./prog.exe ran sub/prog.exe" ""

  # The copy there runs too: the kernel's link to it cannot be read back,
  # but opens it.  The loader's $ORIGIN fails there: LD_LIBRARY_PATH.  (env
  # starts it by the relative name, which bash would make a full path.)  A
  # sanitizer's runtime warns there that it cannot read its own name.
  if [[ ${SANITIZED:-0} != 1 ]]; then
    ( cd "$T" && for ((i = 0; i < 22; i++)); do cd "$part" || exit 9; done
      exec env LD_LIBRARY_PATH="$T/sub" ./prog.exe ) > "$R/out" 2> "$R/err"
    capture $?
    expect "a program in a folder deeper than the limit" 0 "./prog.exe ran sub/prog.exe" ""
  fi

  # Without /proc the name is followed, as on Windows.
  hidesproc || { echo "skip naming without /proc: cannot hide it here"; return 0; }
  withpath "$T/else:$T/path" noproc / viapath "$T/sub/prog.exe"
  expect "without /proc: then each folder of PATH" 0 "ran path/viapath.exe" ""
  noproc / nosuch-ovrel-program "$T/sub/prog.exe"
  expect "without /proc: a name found nowhere" 1 "" \
    "nosuch-ovrel-program: Cannot open nosuch-ovrel-program: No such file or directory."
}

# Files planted where a search by name would look are never taken for the
# program (natively; Windows follows its name by design).  Those groups are
# registered natively only; run elsewhere they fail rather than pass unchecked.
group_ownfile() {
  native || { echo "ownfile does not apply here: the kernel names the running file only natively"; exit 1; }
  mkdir -p "$T/opt" "$T/bin" "$T/work"
  stage "$T/opt"
  progfile "$T/opt/who" 'io.write("who ran")'
  ln -s "$T/opt/who" "$T/bin/wf"
  progfile "$T/work/wf" 'io.write("decoy ran")'
  chmod -x "$T/work/wf"
  ( cd "$T/work" && PATH="$T/bin:$PATH" exec wf ) > "$R/out" 2> "$R/err"
  capture $?
  expect "a link on PATH under another name, a decoy of that name here" 0 "who ran" ""

  run "$T/work" "$T/work/wf" "$T/opt/who"
  expect "exec -a naming another program" 0 "who ran" ""

  mkdir "$T/work/who"
  run "$T/work" ./who "$T/opt/who"
  expect "a folder of the program's name where it starts" 0 "who ran" ""

  # The glue tool through a link of another name finds the launcher beside
  # its real file, not a planted one where it is started.
  cp "$GLUE" "$DEFAULT_LAUNCHER" "$T/opt/"
  ln -s "$T/opt/$(basename "$GLUE")" "$T/bin/g"
  printf '#!/bin/sh\necho planted\n' > "$T/work/$(basename "$DEFAULT_LAUNCHER")"
  chmod +x "$T/work/$(basename "$DEFAULT_LAUNCHER")"
  printf 'io.write("glued ran")' > "$T/work/s.lua"
  ( cd "$T/work" && PATH="$T/bin:$PATH" exec g s.lua -o "$T/opt/glued" ) > "$R/out" 2> "$R/err"
  run "$T/work" ./glued "$T/opt/glued"
  expect "the glue tool via a link ignores a planted launcher" 0 "glued ran" ""
}

# Output the system refused is a failure; no output is none.
group_output() {
  native || { echo "output does not apply here: needs /dev/full and a closed descriptor"; exit 1; }
  prog out 'print("lost")'
  ( cd "$T" && exec ./out ) > /dev/full 2> "$R/err"
  capture $?
  expect "standard output on a full device" 1 "" "./out: Cannot write standard output: No space left on device."

  ( cd "$T" && exec ./out >&- ) 2> "$R/err"
  capture $?
  expect "standard output closed" 1 "" "./out: Cannot write standard output: Bad file descriptor."

  prog quiet 'local x = 1'
  ( cd "$T" && exec ./quiet >&- ) 2> "$R/err"
  capture $?
  expect "standard output closed, nothing written: success" 0 "" ""

  prog unbuf 'io.stdout:setvbuf("no") io.write("a") io.write("b")'
  ( cd "$T" && exec ./unbuf ) > /dev/full 2> "$R/err"
  capture $?
  expect "unbuffered writes refused earlier still fail the run" 1 "" \
    "./unbuf: Cannot write standard output: Input/output error."
}

# Modules beside the program are found from any folder, before the
# system's; nothing is loaded from the folder a program is started in.
# LUA_CPATH and LUA_PATH still decide.
group_beside() {
  native || { echo "beside does not apply here: Windows runs this through its engine's own path"; exit 1; }
  unset LUA_PATH LUA_CPATH
  local bin
  bin=$(dirname "${RUNTIME_LIBS%%|*}")
  mkdir -p "$T/app" "$T/elsewhere"
  stage "$T/app"
  cp "$bin/numhash.so" "$T/app/"
  printf 'return "helper beside"' > "$T/app/helper.lua"
  progfile "$T/app/uses" 'local ok = pcall(require, "optional")
io.write(tostring(require("numhash").new()), " ", require("helper"), " ", tostring(ok))'
  run "$T/elsewhere" "$T/app/uses" "$T/app/uses"
  expect "a native and a script module beside the program" 0 "numhash(0) helper beside false" ""

  # Planted where the program starts: modules, and a library that a run-path
  # with an empty entry would load (the engine, for the shared launcher).
  local f
  for f in numhash.lua helper.lua optional.lua optional/init.lua; do
    mkdir -p "$(dirname "$T/elsewhere/$f")"
    printf 'io.write("planted %s ran ") return "planted"' "$f" > "$T/elsewhere/$f"
  done
  for f in numhash.so optional.so liblua5.1.so.0 libovrel.so.1 libgcc_s.so.1 libm.so.6; do
    cp "$PLANTED" "$T/elsewhere/$f"
  done
  run "$T/elsewhere" ./uses "$T/app/uses"
  expect "nothing planted in the current folder is loaded" 0 "numhash(0) helper beside false" ""

  # paths: package.cpath, a line, package.path.
  progfile "$T/app/paths" 'io.write(package.cpath, "\\n", package.path)'
  local cdef ldef
  cdef=$(lua5.1 -e 'io.write((package.cpath:gsub("^%./%?%.so;", "")))')
  ldef=$(lua5.1 -e 'io.write((package.path:gsub("^%./%?%.lua;", "")))')
  run "$T/elsewhere" "$T/app/paths" "$T/app/paths"
  expect "the folder first, then the system's, never the current one" 0 \
    "$T/app/?.so;$cdef"$'\n'"$T/app/?.lua;$T/app/?/init.lua;$ldef" ""

  LUA_CPATH="/nowhere/?.so" LUA_PATH='!/?.lua;./?.lua' run "$T/elsewhere" "$T/app/paths" "$T/app/paths"
  expect "LUA_CPATH replaces the default; ! names the folder; ./ as written" 0 \
    "/nowhere/?.so"$'\n'"$T/app/?.lua;./?.lua" ""

  LUA_CPATH="/nowhere/?.so;;" run "$T/elsewhere" "$T/app/paths" "$T/app/paths"
  expect ";; stands for the default, the folder included" 0 \
    "/nowhere/?.so;$T/app/?.so;$cdef;"$'\n'"$T/app/?.lua;$T/app/?/init.lua;$ldef" ""
}

group_"$1"
done_cases
