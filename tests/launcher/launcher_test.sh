#!/usr/bin/env bash
# launcher_test.sh GROUP: self-running programs built in a temporary folder
# and run, with their exact reports and exit status.
#
# Groups: args errors trailer firstline naming ownfile output beside.  A
# program is mostly run as ./NAME from its folder; cases that need the
# launcher to look for a file other than the one running start it under
# another program name, which only Windows follows (byname).
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

group_args() {
  prog show "$ARGS_SCRIPT"
  runp show
  expect "no arguments: args holds the program name only" 0 \
    "0 1"$'\n'"args[0]=[$P]"$'\n' ""

  runp show one two
  expect "two arguments, in order, in ... and in args" 0 \
    "2 3"$'\n'"args[0]=[$P]"$'\n'"args[1]=[one]"$'\n'"args[2]=[two]"$'\n'"...[1]=[one]"$'\n'"...[2]=[two]"$'\n' ""

  runp show "a b" "" " c "
  expect "arguments with blanks, and an empty one, stay whole" 0 \
    "3 4"$'\n'"args[0]=[$P]"$'\n'"args[1]=[a b]"$'\n'"args[2]=[]"$'\n'"args[3]=[ c ]"$'\n'"...[1]=[a b]"$'\n'"...[2]=[]"$'\n'"...[3]=[ c ]"$'\n' ""

  # One letter each: Windows takes a command line of 32767 characters.
  prog count 'io.write(select("#", ...), " ", #args, " ", args[#args], "\\n")'
  local many=()
  for ((i = 1; i < 7000; i++)); do many+=(x); done
  many+=(z)
  runp count "${many[@]}"
  expect "seven thousand arguments" 0 "7000 7000 z"$'\n' ""
  for ((i = 7001; i <= 9000; i++)); do many+=(x); done
  runp count "${many[@]}"
  expect "more arguments than the stack takes: the stack error, traced" 1 "" \
    "$P: stack overflow (Too many arguments to script.)"$'\nstack traceback:\n\t[C]: ?'

  prog normal 'io.write("done\\n")'
  runp normal
  expect "a normal end: status 0, nothing on stderr" 0 $'done\n' ""

  prog flush 'io.write("partial") error("late")'
  runp flush
  expect "output written before an error is flushed" 1 "partial" "$P: :1: late$(trace_main 1)"

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
  prog str 'local function f() error("boom") end\nf()\n'
  runp str
  expect "a string error, with the traceback at level 2" 1 "" \
    "$P: :1: boom"$'\nstack traceback:\n\t[C]: in function \'error\'\n\t:1: in function \'f\'\n\t:2: in main chunk\n\t[C]: ?'

  prog num 'error(42, 0)'
  runp num
  expect "a number has a text form: traced" 1 "" "$P: 42$(trace_main 1)"

  prog tbl 'error({})'
  runp tbl
  expect "a table without __tostring: named by its type, traced" 1 "" \
    "$P: (error object is a table value)$(trace_main 1)"

  prog custom 'error(setmetatable({}, {__tostring = function() return "custom report" end}))'
  runp custom
  expect "a table whose __tostring gives a string: that string alone" 1 "" "$P: custom report"

  prog tsnum 'error(setmetatable({}, {__tostring = function() return 7 end}))'
  runp tsnum
  expect "__tostring giving a number: named by the type, traced" 1 "" \
    "$P: (error object is a table value)$(trace_main 1)"

  prog tsnil 'error(setmetatable({}, {__tostring = function() end}))'
  runp tsnil
  expect "__tostring giving nothing: named by the type, traced" 1 "" \
    "$P: (error object is a table value)$(trace_main 1)"

  prog nilerr 'error()'
  runp nilerr
  expect "nil: named by its type, traced" 1 "" "$P: (error object is a nil value)$(trace_main 1)"

  prog booleanerr 'error(false)'
  runp booleanerr
  expect "false: named by its type, traced" 1 "" "$P: (error object is a boolean value)$(trace_main 1)"

  prog nodebug 'debug = nil\nerror("bare")'
  runp nodebug
  expect "debug removed: the message without traceback" 1 "" "$P: :2: bare"

  prog numdebug 'debug = 5 error("bare")'
  runp numdebug
  expect "debug not a table: no traceback" 1 "" "$P: :1: bare"

  prog notrace 'debug.traceback = "no" error("bare")'
  runp notrace
  expect "debug.traceback not a function: no traceback" 1 "" "$P: :1: bare"

  prog notracetbl 'debug.traceback = nil error({})'
  runp notracetbl
  expect "no traceback for a table either" 1 "" "$P: (error object is a table value)"

  prog owntrace 'debug.traceback = function(m, l) return "[" .. m .. "@" .. l .. "]" end error("x", 0)'
  runp owntrace
  expect "a replaced traceback gets the message and level 2" 1 "" "$P: [x@2]"

  prog tracetable 'debug.traceback = function() return {} end error("x")'
  runp tracetable
  expect "a traceback that gives no text: named by its type" 1 "" "$P: (error object is a table value)"

  prog runtime 'local t = nil\nlocal x = t.field'
  runp runtime
  expect "an error of the runtime itself" 1 "" \
    "$P: :2: attempt to index local 't' (a nil value)"$'\nstack traceback:\n\t:2: in main chunk\n\t[C]: ?'
}

group_trailer() {
  cp "$LAUNCHER" "$T/ovrelrun$EXE"
  runp ovrelrun
  expect "the bare launcher: no glue, with its full path" 1 "" \
    "$P: Cannot find an Ovrel program in $T/ovrelrun$EXE: no glue."

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

  printf 'io.write("x")' > "$T/neg.lua"
  mkprog "$T/neg$EXE" "$T/neg.lua" -1
  runp neg
  expect "a negative script offset: seek fails" 1 "" "$P: Cannot seek $T/neg$EXE: Invalid argument."

  # Beyond the trailer there is no script at all: refused, not run as empty.
  mkprog "$T/beyond$EXE" "$T/neg.lua" "$(( $(wc -c < "$LAUNCHER") + 14 + 16 + 1 ))"
  runp beyond
  expect "a script offset beyond the trailer: seek refused" 1 "" \
    "$P: Cannot seek $T/beyond$EXE: Invalid argument."
  mkprog "$T/attrailer$EXE" "$T/neg.lua" "$(( $(wc -c < "$LAUNCHER") + 13 ))" 0
  runp attrailer
  expect "an empty script right before the trailer: runs, does nothing" 0 "" ""

  # The rest of the file, trailer included, falls into the comment that
  # ends the script; its sizes hold no line-end byte.
  if byname; then
    { head -c 100 /dev/zero | tr '\0' 'x'; printf 'io.write("whole")\n--'; trailer 100 4000; } > "$T/long$EXE"
    run "$T" ./long "$T/ovrelrun$EXE"
    expect "a length past the end of the file: read up to the end" 0 "whole" ""
  fi

  prog damaged 'io.write("x")'
  printf 'X' | dd of="$T/damaged$EXE" bs=1 seek=$(( $(wc -c < "$T/damaged$EXE") - 9 )) conv=notrunc 2>/dev/null
  runp damaged
  expect "one byte of the signature changed: no glue" 1 "" \
    "$P: Cannot find an Ovrel program in $T/damaged$EXE: no glue."

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
  prog lf '#!/usr/bin/env ovrelrun\n\nerror("three")\n'
  runp lf
  expect "a # line with LF: line 3 stays line 3" 1 "" "$P: :3: three$(trace_main 3)"

  prog crlf '#!/usr/bin/env ovrelrun\r\n\r\nerror("three")\r\n'
  runp crlf
  expect "a # line with CRLF: line 3 stays line 3" 1 "" "$P: :3: three$(trace_main 3)"

  prog syntax3 '# comment\nlocal a = 1\nlocal = 2\n'
  runp syntax3
  expect "a compile error after a # line: line 3, no traceback" 1 "" "$P: :3: '<name>' expected near '='"

  prog nolf '#x\nio.write("last")'
  runp nolf
  expect "a # line and a last line without newline" 0 "last" ""

  prog onlyhash '#!io.write("not run")'
  runp onlyhash
  expect "a single # line without newline: an empty chunk" 0 "" ""

  prog hash '#'
  runp hash
  expect "the single byte #: an empty chunk" 0 "" ""

  prog empty ''
  runp empty
  expect "an empty script" 0 "" ""

  prog space ' #x = 1'
  runp space
  expect "a # that is not the first byte is the script's" 1 "" "$P: :1: unexpected symbol near '#'"

  # 600 bytes in all: the string literal crosses the first block's end.
  local pad
  pad=$(head -c 580 /dev/zero | tr '\0' 'y')
  prog six "io.write(#\"$pad\", \"\\\\n\")\n"
  truth "the script has 600 bytes" test "$(wc -c < "$T/six$EXE.lua")" -eq 600
  runp six
  expect "a 600-byte script runs whole" 0 $'580\n' ""

  prog bad 'x = = 1'
  runp bad
  expect "a script that does not compile: the loader's message alone" 1 "" "$P: :1: unexpected symbol near '='"

  prog unfinished 'local s = "open'
  runp unfinished
  expect "an unfinished string" 1 "" "$P: :1: unfinished string near '<eof>'"
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
