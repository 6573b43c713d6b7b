#!/usr/bin/env bash
# bundle_test.sh GROUP: programs of several files glued into one and run
# from an empty folder, where no module can be found on disk.
#
# Groups: run search extract refusals options signed deps walk carry.  Besides the launcher's
# variables it takes NUMHASH, the native module a program loads from beside
# it.
source "$(dirname "$0")/harness.sh"
: "${NUMHASH:?}"

glue() { run "$T" ovrelglue "$GLUE" "$@"; }

# Nothing on disk answers a require in the runs: only the bundle can.
export LUA_PATH="/nowhere/?.lua"
unset LUA_CPATH

# A program in src/: nested packages, a module() style one, CR LF lines,
# an optional module that is nowhere, and a native one.
sources() {
  mkdir -p "$T/src/pkg" "$T/app"
  printf '%s\n' '#!/usr/bin/env ovrelrun' \
    'local pkg, sub = require "pkg", require("pkg.sub")' \
    "local crlf = require 'crlf'" \
    'local ok = pcall(require, "absent")' \
    'local m = require [[numhash]].new(); m[1.5] = "x"' \
    'print(pkg.name, sub.name, sub.up, ok, m[1.5], arg[0] == args[0], arg[1], ...)' \
    'if arg[1] == "raise" then crlf.raise() end' \
    '-- require "commented"' \
    'error("line 9")' > "$T/src/main.lua"
  printf 'local M = {name = ...}\nM.text = "caf\xc3\xa9\\001\\\\ require [[instring]]"\nreturn M\n' > "$T/src/pkg/init.lua"
  printf 'module(..., package.seeall)\nname = (...)\nup = require("pkg").name\n' > "$T/src/pkg/sub.lua"
  printf 'local M = {}\r\nfunction M.raise()\r\n  error("crlf raise")\r\nend\r\nreturn M\r\n' > "$T/src/crlf.lua"
}

# Moves the program into an empty folder with the runtime and numhash.
# What travels with numhash: on Linux the module and the runtime, whose
# sanitized or counting build also loads the compiler's libraries, which
# travel too.
numhash_needs() {
  if ! native; then
    echo "ovrel.dll, numhash.dll"
  elif [[ ${INSTRUMENTED:-0} == 1 ]]; then
    printf 'require "numhash"' > "$T/needs.lua"
    "$GLUE" "$T/needs.lua" --check 2>&1 | sed -n 's/.*(--with-deps copies them): //p'
  else
    echo "numhash.so, libovrel.so.1"
  fi
}

ship() {
  stage "$T/app"
  cp "$NUMHASH" "$T/app/"
  mv "$T/$1" "$T/app/"
}

# Images made byte by byte, so that every field the tool reads can be set,
# hostile values included.

# bytes VALUE WIDTH: VALUE little-endian in WIDTH bytes.
bytes() {
  local i h s=
  for (( i = 0; i < $2; i++ )); do
    printf -v h '\\x%02x' $(( ($1 >> 8 * i) & 255 ))
    s+=$h
  done
  printf "$s"
}

# put FILE AT WIDTH VALUE: VALUE over the bytes at offset AT.
put() { bytes "$4" "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }

# puttext FILE AT TEXT: the bytes of TEXT (printf %b) at offset AT.
puttext() { printf '%b' "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }

# mkelf FILE BITS TAG=TEXT...: a little-endian ELF file of 32 or 64 bits,
# for the default launcher's machine, whose dynamic section holds those
# entries (1 needed, 15 rpath, 29 runpath, 14 soname) and a closing one.
# At fixed offsets: the header, at
# 64 the section headers (none, the dynamic section, its strings), the
# entries, the strings.
MACHINE=$(od -An -tu2 -j18 -N2 "$DEFAULT_LAUNCHER")
mkelf() {
  local file=$1 bits=$2 w=8 sh=64 o=24 entry tag text at=1 n=0
  shift 2
  (( bits == 32 )) && w=4 sh=40 o=16
  local dyn=$(( 64 + 3 * sh )) dynsize=$(( ($# + 1) * 2 * w ))
  local str=$(( dyn + dynsize ))
  head -c "$str" /dev/zero > "$file"
  puttext "$file" 0 '\x7fELF'
  put "$file" 4 1 $(( bits / 32 ))
  put "$file" 5 1 1
  put "$file" 18 2 "$MACHINE"
  put "$file" $(( w == 8 ? 0x28 : 0x20 )) "$w" 64
  put "$file" $(( w == 8 ? 0x3a : 0x2e )) 2 "$sh"
  put "$file" $(( w == 8 ? 0x3c : 0x30 )) 2 3
  printf '\0' >> "$file"
  for entry; do
    tag=${entry%%=*} text=${entry#*=}
    put "$file" $(( dyn + n * 2 * w )) "$w" "$tag"
    put "$file" $(( dyn + n * 2 * w + w )) "$w" "$at"
    printf '%s\0' "$text" >> "$file"
    at=$(( at + ${#text} + 1 )) n=$(( n + 1 ))
  done
  put "$file" $(( 64 + sh + 4 )) 4 6
  put "$file" $(( 64 + sh + o )) "$w" "$dyn"
  put "$file" $(( 64 + sh + o + w )) "$w" "$dynsize"
  put "$file" $(( 64 + sh + o + 2 * w )) 4 2
  put "$file" $(( 64 + 2 * sh + 4 )) 4 3
  put "$file" $(( 64 + 2 * sh + o )) "$w" "$str"
  put "$file" $(( 64 + 2 * sh + o + w )) "$w" "$at"
}

# mkpe FILE MAGIC NAME...: a PE image (MAGIC 0x10b PE32, 0x20b PE32+) of
# 1024 bytes that imports the DLLs NAME...: its headers at 64, one section
# at address 0x1000 from file offset 512, the import descriptors there,
# their names from 768.  PE_DIRS is where its data directories start.
mkpe() {
  local file=$1 magic=$2 name at=768 i=0
  shift 2
  PE_DIRS=$(( 88 + (magic == 0x20b ? 112 : 96) ))
  local sec=$(( PE_DIRS + 16 * 8 ))
  head -c 1024 /dev/zero > "$file"
  puttext "$file" 0 MZ
  put "$file" 60 4 64
  puttext "$file" 64 'PE\0\0'
  put "$file" 70 2 1
  put "$file" 84 2 $(( sec - 88 ))
  put "$file" 88 2 "$magic"
  put "$file" $(( PE_DIRS - 4 )) 4 16
  put "$file" $(( PE_DIRS + 8 )) 4 0x1000
  put "$file" $(( sec + 8 )) 4 0x100
  put "$file" $(( sec + 12 )) 4 0x1000
  put "$file" $(( sec + 16 )) 4 0x200
  put "$file" $(( sec + 20 )) 4 512
  for name; do
    put "$file" $(( 512 + i * 20 + 12 )) 4 $(( 0x1000 + at - 512 ))
    puttext "$file" "$at" "$name\\0"
    at=$(( at + ${#name} + 1 )) i=$(( i + 1 ))
  done
}

group_run() {
  sources
  local needs
  needs=$(numhash_needs)
  glue src/main.lua -o "prog$EXE"
  expect "glue: the summary names what is bundled, what is not, and what must travel" 0 "" \
    "ovrelglue: prog$EXE: bundled 3 modules: pkg, pkg.sub, crlf"$'\n'"ovrelglue: prog$EXE: optional (required in a pcall or by an optional module), not found: absent"$'\n'"ovrelglue: prog$EXE: needs beside it where it runs (--with-deps copies them): $needs"
  ship "prog$EXE"

  run "$T/app" "./prog$EXE" "$T/app/prog$EXE" A B
  expect "modules run once, under their names; arg is args; main keeps its lines after #!" 1 \
    $'pkg\tpkg.sub\tpkg\tfalse\tx\ttrue\tA\tA\tB\n' "./prog$EXE: :9: line 9$(trace_main 9)"

  run "$T/app" "./prog$EXE" "$T/app/prog$EXE" raise
  expect "an error in a CR LF module names its file and line, in the traceback too" 1 \
    $'pkg\tpkg.sub\tpkg\tfalse\tx\ttrue\traise\traise\n' \
    "./prog$EXE: crlf.lua:3: crlf raise"$'\nstack traceback:\n\t[C]: in function \'error\'\n\tcrlf.lua:3: in function \'raise\'\n\t:7: in main chunk\n\t[C]: ?'

  # No "#" line: the prelude shares line 1 with the script.
  printf 'local t = require("pkg.sub") error(t.name)\nerror("two")\n' > "$T/src/one.lua"
  glue src/one.lua -o "one$EXE"
  ship "one$EXE"
  run "$T/app" "./one$EXE" "$T/app/one$EXE"
  expect "without a # line, line 1 is still line 1" 1 "" "./one$EXE: :1: pkg.sub$(trace_main 1)"

  # A module that finds its data by its own source name finds no file
  # there, so none planted in the folder the program is started in.
  mkdir -p "$T/src/res" "$T/app/res"
  printf 'local d = debug.getinfo(1, "S").source:match("^@(.*)init%%.lua$")\nif d then dofile(d .. "data.lua") end\nreturn debug.getinfo(1, "S").short_src\n' > "$T/src/res/init.lua"
  printf 'print(require "res")' > "$T/src/usesres.lua"
  printf 'print "planted"' > "$T/app/res/data.lua"
  glue src/usesres.lua -o "srcname$EXE"
  ship "srcname$EXE"
  run "$T/app" "./srcname$EXE" "$T/app/srcname$EXE"
  expect "a module's source name is no file name, yet short" 0 $'res/init.lua\n' ""

  printf 'arg = {"mine"}\nlocal ok = pcall(require, "nope")\nprint(arg[1], ok)\n' > "$T/src/own.lua"
  glue src/own.lua -o "own$EXE"
  ship "own$EXE"
  run "$T/app" "./own$EXE" "$T/app/own$EXE" theirs
  expect "a script that sets arg itself keeps its own" 0 $'mine\tfalse\n' \
    ""

  # A sealed program finds nothing through LUA_PATH, nor anywhere but its
  # bundle and its folder; one made with --system-modules does.
  mkdir "$T/sys"
  printf 'return "from the system"' > "$T/sys/extra.lua"
  printf 'local ok, v = pcall(require, "extra")\nprint(ok and v or "not found")\n' > "$T/src/probe.lua"
  glue src/probe.lua -o "sealed$EXE"
  glue src/probe.lua -o "open$EXE" --system-modules
  ship "sealed$EXE"
  mv "$T/open$EXE" "$T/app/"
  glue --show "app/sealed$EXE"
  truth "show says a program is sealed" grep -q '^modules: sealed' <<< "$out"
  glue --show "app/open$EXE"
  truth "or searches the system's folders too" grep -q '^modules: .* the system.s (--system-modules)$' <<< "$out"
  LUA_PATH="$(hostpath "$T/sys")/?.lua" run "$T/app" "./sealed$EXE" "$T/app/sealed$EXE"
  expect "a sealed program ignores LUA_PATH" 0 $'not found\n' ""
  LUA_PATH="$(hostpath "$T/sys")/?.lua" run "$T/app" "./open$EXE" "$T/app/open$EXE"
  expect "one made with --system-modules heeds it" 0 $'from the system\n' ""
}

group_search() {
  mkdir -p "$T/src" "$T/inc" "$T/lp" "$T/app"
  # Only calls with one literal name count: not comments, strings, fields,
  # methods or computed names.
  cat > "$T/src/forms.lua" <<'LUA'
--[==[ require "c1" ]==] -- require "c2"
local s = "require 'c3'" .. [[require "c4"]]
local t = {require = print}; t.require "c5"; t:require "c6"
local n = "x"; pcall(require, "n" .. n); pcall(require, "p1", 1)
require [=[l1]=]; require("s1"); require 's2'; local r = require "s" .. "3"
LUA
  local computed="ovrelglue: forms$EXE: requires by a computed name, whose modules only -m NAME or -m 'PREFIX.*' bundles, at src/forms.lua:4"
  glue src/forms.lua -o "forms$EXE" --system-modules
  expect "the scan sees literal requires only" 0 "" \
    "$(travelled "$computed"$'\n'"ovrelglue: forms$EXE: not bundled, looked for where it runs: p1, l1, s1, s2, s" "forms$EXE")"

  if native; then
    ln -s ../src/forms.lua "$T/inc/formslink"
    glue inc/formslink -o "forms$EXE" --system-modules
    expect "a script through a link is searched from the file it leads to" 0 "" \
      "$(travelled "${computed/src\/forms.lua/inc/formslink}"$'\n'"ovrelglue: forms$EXE: not bundled, looked for where it runs: p1, l1, s1, s2, s" "forms$EXE")"
    printf 'return 1' > "$T/src/p1.lua"
    glue inc/formslink -o "forms$EXE" --system-modules
    expect "there, not beside the link" 0 "" \
      "$(travelled "ovrelglue: forms$EXE: bundled 1 module: p1"$'\n'"${computed/src\/forms.lua/inc/formslink}"$'\n'"ovrelglue: forms$EXE: not bundled, looked for where it runs: l1, s1, s2, s" "forms$EXE")"
    rm "$T/inc/formslink" "$T/src/p1.lua"
  fi

  printf 'return "inc"' > "$T/inc/dup.lua"
  printf 'return "src"' > "$T/src/dup.lua"
  printf 'return "lp"' > "$T/lp/dup.lua"
  printf 'return "lp only"' > "$T/lp/lponly.lua"
  printf 'print(require "dup", require "lponly")' > "$T/src/order.lua"
  LUA_PATH="$(hostpath "$T/lp")/?.lua" glue src/order.lua -o "order$EXE" -I inc
  ship "order$EXE"
  run "$T/app" "./order$EXE" "$T/app/order$EXE"
  expect "-I first, then the script's folder, then LUA_PATH" 0 $'inc\tlp only\n' ""

  # -I forms: a folder with its separator, the empty one (the current
  # folder), a template without a folder; -m NAME.* passes over templates
  # with no "?" or two.
  mkdir -p "$T/tf/pp"
  printf 'return "t1"' > "$T/inc/t1.lua"
  printf 'return "t2"' > "$T/t2.lua"
  printf 'return "t3"' > "$T/t3.x"
  printf 'return "pp"' > "$T/tf/pp/a.lua"
  printf 'print(require "t1", require "t2", require "t3")' > "$T/src/forms2.lua"
  glue src/forms2.lua -o "forms2$EXE" -I inc/ -I '' -I '?.x' -I 'tf/?.lua;tf/?/?.lua;tf/fixed.lua' -m 'pp.*'
  expect "-I with a separator, empty, or a template in the current folder" 0 "" \
    "$(travelled "ovrelglue: forms2$EXE: bundled 4 modules: t1, t2, t3, pp.a" "forms2$EXE")"
  ship "forms2$EXE"
  run "$T/app" "./forms2$EXE" "$T/app/forms2$EXE"
  expect "and the program runs alone" 0 $'t1\tt2\tt3\n' ""

  # A module's "#" line is skipped as loading its file skips it; an error
  # while a module loads is traced through require.
  printf '#!/usr/bin/env lua5.1\nlocal M = {}\nfunction M.f() error("late") end\nreturn M\n' > "$T/src/sheb.lua"
  printf 'local x = 1\nerror("at load")\n' > "$T/src/loaderr.lua"
  printf 'local m = require "sheb"\nif ... then require "loaderr" end\nm.f()\n' > "$T/src/le.lua"
  glue src/le.lua -o "le$EXE"
  ship "le$EXE"
  run "$T/app" "./le$EXE" "$T/app/le$EXE"
  expect "a module with a # line keeps its line numbers" 1 "" \
    "./le$EXE: sheb.lua:3: late"$'\nstack traceback:\n\t[C]: in function \'error\'\n\tsheb.lua:3: in function \'f\'\n\t:3: in main chunk\n\t[C]: ?'
  run "$T/app" "./le$EXE" "$T/app/le$EXE" load
  expect "an error while a module loads is traced through require" 1 "" \
    "./le$EXE: loaderr.lua:2: at load"$'\nstack traceback:\n\t[C]: in function \'error\'\n\tloaderr.lua:2: in main chunk\n\t[C]: in function \'require\'\n\t:2: in main chunk\n\t[C]: ?'
}

group_extract() {
  sources
  glue src/main.lua -o "prog$EXE"
  glue --show "prog$EXE"
  local size
  size=$(( $(wc -c < "$T/prog$EXE") - $(wc -c < "$LAUNCHER") - 16 ))
  expect "show lists the script and each module: name, source, size" 0 \
    "offset: $(wc -c < "$LAUNCHER")
length: $size
first line: #!/usr/bin/env ovrelrun
script: main.lua ($(wc -c < "$T/src/main.lua") bytes)
module: pkg from src/pkg/init.lua ($(wc -c < "$T/src/pkg/init.lua") bytes)
module: pkg.sub from src/pkg/sub.lua ($(wc -c < "$T/src/pkg/sub.lua") bytes)
module: crlf from src/crlf.lua ($(wc -c < "$T/src/crlf.lua") bytes)
modules: sealed, from its bundle and its own folder only
$(numhash_needs | sed 's/, /\n/g; s/^/beside it: /mg')
" ""

  mkdir "$T/out"
  { printf '#'; head -c 5000 /dev/zero | tr '\0' x; printf '\nrequire "pkg"\n'; } > "$T/longline.lua"
  glue longline.lua -I src -o "long$EXE"
  glue --show "long$EXE"
  [[ $out == *$'\n'"module: pkg from src/pkg/init.lua ("* ]]
  truth "show finds the modules behind a # line longer than 4 KB" test $? == 0

  glue --extract "prog$EXE" out
  expect "extract into an empty folder names every file it writes" 0 \
    $'out/script.d/main.lua\nout/pkg/init.lua\nout/pkg/sub.lua\nout/crlf.lua\n' ""
  mv "$T/out/script.d/main.lua" "$T/out/" && rmdir "$T/out/script.d"
  truth "extracted byte for byte: #! line, CR LF, bytes beyond ASCII" \
    diff -r "$T/src" "$T/out"

  mkdir -p "$T/full" "$T/elsewhere"
  ln -s ../elsewhere "$T/full/pkg"
  glue --extract "prog$EXE" full
  expect "a folder that is not empty is refused" 1 "" \
    "ovrelglue: full exists; extract into a new or empty folder"
  truth "nothing is written through a link in it" nothing_like "$T/elsewhere/*"

  # A script "foo" beside the modules "foo" and "foo.util": each has a
  # place, and the tree glues back into a program that does the same.
  mkdir -p "$T/rt/bin" "$T/rt/lib/foo"
  printf 'print(require("foo"), require("foo.util"))' > "$T/rt/bin/foo"
  printf 'return "foo"' > "$T/rt/lib/foo.lua"
  printf 'return "util"' > "$T/rt/lib/foo/util.lua"
  glue rt/bin/foo -I rt/lib -o "foo$EXE"
  glue --extract "foo$EXE" rtout
  glue rtout/script.d/foo -I rtout -o "again$EXE"
  expect "the extracted tree glues back" 0 "" \
    "$(travelled "ovrelglue: again$EXE: bundled 2 modules: foo, foo.util" "again$EXE")"
  ship "again$EXE"
  run "$T/app" "./again$EXE" "$T/app/again$EXE"
  expect "into the same program" 0 $'foo\tutil\n' ""

  if native; then
    # Its profiler requires luasocket, which the machine may lack.
    LUA_PATH=";;" glue /usr/bin/luacheck -m 'luacheck.*' --allow-missing socket -o lc
    glue --extract lc lcout
    mkdir "$T/lcdir"
    glue lcout/script.d/luacheck -I lcout -m 'luacheck.*' --allow-missing socket -o lcdir/lcagain --with-deps
    run "$T" ./lcdir/lcagain "$T/lcdir/lcagain" --version
    expect "luacheck glues back from its extracted tree" 0 "$(LUA_PATH=";;" luacheck --version)"$'\n' ""
  fi

  # A failure on the way (here a module's file where another needs a
  # folder) leaves nothing partial.
  mkdir -p "$T/cx" "$T/cy/a"
  printf 'return 1' > "$T/cx/a"
  printf 'return 2' > "$T/cy/a/b.lua"
  printf 'require "a" require "a.b"' > "$T/clash.lua"
  glue clash.lua -I 'cx/?' -I cy -o "clash$EXE"
  glue --extract "clash$EXE" clashout
  truth "a clash of names fails" test "$status" == 1
  truth "and leaves nothing" nothing_like "$T/clashout*"
  truth "nor a temporary folder" nothing_like "$T/.ovrelglue-*"

  if native; then
    printf 'return 1' > "$T/src/"$'x\e[2J\nl.lua'
    printf 'require "x\\27[2J\\nl"' > "$T/src/esc.lua"
    glue src/esc.lua -o "esc$EXE"
    glue --extract "esc$EXE" escout
    expect "names are printed as --show prints them" 0 $'escout/script.d/esc.lua\nescout/x?[2J?l.lua\n' ""
  fi

  # Every byte but the line ends and "]" in a long string: the module sees
  # exactly them, and extract gives them back.
  local i
  mkdir "$T/allsrc"
  { printf 'return [==['
    for i in $(seq 0 255); do
      (( i == 10 || i == 13 || i == 93 )) || printf "\\x$(printf %02x "$i")"
    done
    printf ']==]'; } > "$T/allsrc/all.lua"
  printf '%s\n' 'local s, t = require "all", {}' \
    'for b = 0, 255 do if b ~= 10 and b ~= 13 and b ~= 93 then t[#t + 1] = string.char(b) end end' \
    'print(s == table.concat(t), #s)' > "$T/allsrc/main.lua"
  glue allsrc/main.lua -o "bytes$EXE"
  ship "bytes$EXE"
  run "$T/app" "./bytes$EXE" "$T/app/bytes$EXE"
  expect "every byte reaches the module unchanged" 0 $'true\t253\n' ""
  run "$T" ovrelglue "$GLUE" --extract "app/bytes$EXE" bytesout
  truth "and comes back out unchanged" cmp -s "$T/allsrc/all.lua" "$T/bytesout/all.lua"

  printf 'print(1)' > "$T/p.lua"
  glue p.lua -o "plain$EXE" --plain
  glue --extract "plain$EXE" plainout
  expect "a plain program gives its script" 0 $'plainout/script.lua\n' ""
  truth "unchanged" cmp -s "$T/p.lua" "$T/plainout/script.lua"

  # Only a new or empty folder of a name of its own is extracted into; an
  # empty one keeps its mode.
  : > "$T/afile"
  mkdir -m 0700 "$T/keep"
  local d links=
  native && ln -s plainout "$T/tolink" && links=tolink
  for d in . / a/.. $links afile nodir/out; do
    glue --extract "plain$EXE" "$d"
    expect "not into $d" 1 "" "ovrelglue: $(
      case $d in
        tolink) echo "tolink is a symbolic link; extract into a new or empty folder" ;;
        afile) echo "afile exists; extract into a new or empty folder" ;;
        nodir/out) echo "cannot create a folder beside nodir/out: No such file or directory" ;;
        *) echo "$d: name a new or empty folder to extract into" ;;
      esac)"
  done
  glue --extract "plain$EXE" keep/
  expect "into an empty folder named with a slash" 0 $'keep/script.lua\n' ""
  native && truth "which keeps its mode" test "$(stat -c %a "$T/keep")" == 700

  # Damaged bundles, made by editing one: a prelude that does not read
  # back whole is no bundle, so the chunk is shown and given as it is; one
  # that does read back is refused when it names a file outside the
  # folder, or two different files as one.
  mkdir "$T/hb"
  printf 'return 1' > "$T/hb/a.lua"
  printf 'return 2\n' > "$T/hb/b.lua"
  printf 'return 1' > "$T/hb/c.lua"
  printf '#!/x\nrequire "a" require "b" require "c"\n' > "$T/hb/main.lua"
  glue hb/main.lua -o "hbprog$EXE"
  local image chunk
  image=$(wc -c < "$LAUNCHER")
  tail -c +$(( image + 1 )) "$T/hbprog$EXE" | head -c -16 > "$T/hb.chunk"
  chunk=$(< "$T/hb.chunk")
  # spoilt SED | cut TEXT: the program of the chunk edited, or cut before TEXT.
  spoilt() {
    local kept=${chunk%%"${2-}"*}
    if [[ $1 == cut ]]; then head -c "${#kept}" "$T/hb.chunk"; else sed "$1" "$T/hb.chunk"; fi > "$T/hb/s.lua"
    mkprog "$T/spoilt" "$T/hb/s.lua"
  }
  local e
  for e in 's/return 2\\n/return \\q/' 's/return 2\\n/return \\256/' 's/return 2\\n/return \\1/' \
           's/return 2\\n/return \\12x/' 's/return 2\\n/return 2\n/' 's/return 2\\n/return 2\r/' \
           's/,{"b"/{"b"/' 's/return 2\\n"}/return 2"/' 's/"hb\/b.lua",/"hb\/b.lua"/' \
           's/"b","b.lua"/"b"."b.lua"/' 's/"b","b.lua"/"b",b.lua"/' 's/"b.lua","hb/"b.lua"."hb/' \
           's/,"hb\/b.lua"/,hb\/b.lua"/' 's/local m={"main.lua"/local m={main/' \
           's/ in the bundle/ in it/' 's/ovrelglue 4/ovrelglue 3/' 's/local x={true,/local x={1,/' \
           's/local x={true,"/local x={true,/' 's/,{}} local s,/,{1}} local s,/' \
           'cut|n"}' 'cut|"}'; do
    spoilt "${e%%|*}" "${e#*|}"
    glue --show spoilt
    expect "no bundle: $e" 0 "offset: $image"$'\n'"length: $(wc -c < "$T/hb/s.lua")"$'\nfirst line: #!/x\n'"$PLAINSHOW" ""
  done
  glue --extract spoilt spoiltout
  expect "and its chunk is extracted as it is" 0 $'spoiltout/script.lua\n' ""
  truth "byte for byte" cmp -s "$T/hb/s.lua" "$T/spoiltout/script.lua"
  spoilt cut $'\n'
  glue --extract spoilt lineout
  expect "a chunk of one line without its end is no bundle either" 0 $'lineout/script.lua\n' ""
  # The formats of earlier versions, made from this one's: without the
  # carried native files, without the sealing, then with the first chunk
  # names.
  local third='s/ovrelglue 4/ovrelglue 3/; s/(local x=\{\w+,"[^"]*","[^"]*",\{[^}]*\}),\{[^}]*\}/$1/; s/\Qlocal l,c={},{} for i=6,#x do l[x[i][1]]=x[i] end for _,r in ipairs(x[5]) do c[r]=o end \E/local l={} for i=5,#x do l[x[i][1]]=x[i] end /; s/if q and \(d or c\[r\]\) then .*? end end end if c\[r\] then .*?,0\) end end /if q and d then l[r]=nil for i=2,#q do p.loadlib(d.."\/"..q[i],"*") end end end /'
  local older='s/ovrelglue 3/ovrelglue 2/; s/\} local x=.*?table\.insert\(p\.loaders/} local s,ld,as={},loadstring,assert for i=2,#m do s[m[i][1]]=m[i] end table.insert(package.loaders/; s/ end local f=n:gsub.*?end end end return "/ end return "/'
  local format
  local -A sealed=([third]=$'modules: sealed, from its bundle and its own folder only\n')
  native || sealed[third]+=$'beside it: ovrel.dll\n'
  for format in third second first; do
    perl -pe "$third" "$T/hb.chunk" > "$T/hb/s.lua"
    [[ $format != third ]] && perl -pi -e "$older" "$T/hb/s.lua"
    [[ $format == first ]] && sed -i 's/ovrelglue 2/ovrelglue 1/; s/if t:byte(2)==27 then t=t:sub(2) end end return as(ld(t,"="/end return as(ld(t,"@"/' "$T/hb/s.lua"
    mkprog "$T/spoilt" "$T/hb/s.lua"
    glue --show spoilt
    expect "a bundle of the $format format still reads back" 0 "offset: $image
length: $(wc -c < "$T/hb/s.lua")
first line: #!/x
script: main.lua ($(wc -c < "$T/hb/main.lua") bytes)
module: a from hb/a.lua (8 bytes)
module: b from hb/b.lua (9 bytes)
module: c from hb/c.lua (8 bytes)
${sealed[$format]-}" ""
  done
  for e in 's/,"b.lua",/,"..\/b.lua",/|carries module b as ../b.lua, a path outside the folder' \
           's/,"b.lua",/,"a.lua",/|carries two different files as a.lua' \
           's/"main.lua"/"x\/main.lua"/|names its script x/main.lua, which is no plain file name' \
           's/"main.lua"/"."/|names its script ., which is no plain file name' \
           's/,"b.lua",/,"",/|carries module b as , a path outside the folder' \
           's/,"b.lua",/,"c:b.lua",/|carries module b as c:b.lua, a path outside the folder'; do
    spoilt "${e%%|*}"
    glue --extract spoilt badout
    expect "refused: ${e#*|}" 1 "" "ovrelglue: spoilt ${e#*|}"
    truth "and nothing is written" nothing_like "$T/badout*"
  done
  spoilt 's/,"c.lua",/,"a.lua",/'
  glue --extract spoilt sameout
  expect "one file given twice as one is written once" 0 $'sameout/script.d/main.lua\nsameout/a.lua\nsameout/b.lua\n' ""
}

# Prefix walks over folder links.
group_walk() {
  mkdir -p "$T/src/lp/deep"
  printf 'return "a"' > "$T/src/lp/a.lua"
  printf 'return "b"' > "$T/src/lp/deep/b.lua"
  printf 'print(1)' > "$T/src/walk.lua"
  ln -s .. "$T/src/lp/deep/up"
  run "$T" ovrelglue timeout 20 "$GLUE" src/walk.lua -o walk -m 'lp.*'
  expect "a link back up is walked once" 0 "" "ovrelglue: walk: bundled 2 modules: lp.a, lp.deep.b"
  # The first name a folder is reached by is its only one.
  ln -s .. "$T/src/lp/deep/up2"
  ln -s deep "$T/src/lp/alias"
  run "$T" ovrelglue timeout 20 "$GLUE" src/walk.lua -o walk -m 'lp.*'
  expect "two links back up, and one across, are walked once, at once" 0 "" \
    "ovrelglue: walk: bundled 2 modules: lp.a, lp.alias.b"
}

nothing_like() { ! compgen -G "$1" > /dev/null; }
nothing_left() { nothing_like "$T/out*" && nothing_like "$T/.ovrelglue-*"; }

# refuse WHAT STDERR ARGS...: status 1, one report, no output written.
refuse() {
  local what=$1 message=$2
  shift 2
  glue "$@"
  expect "$what" 1 "" "ovrelglue: $message"
  truth "$what: nothing written" nothing_left
}

group_refusals() {
  sources
  printf 'local M = {}\n\nM.x = = 1\nreturn M\n' > "$T/src/broken.lua"
  printf '#!/bin/x\nrequire "broken"\n' > "$T/src/usesbroken.lua"
  refuse "a module that does not compile: the compiler's file:line" \
    "src/broken.lua:3: unexpected symbol near '='" src/usesbroken.lua -o out
  printf '#!/bin/x\n\nif then\n' > "$T/bad.lua"
  refuse "a script that does not compile" "bad.lua:3: unexpected symbol near 'then'" bad.lua -o out
  refuse "nor glued plain" "bad.lua:3: unexpected symbol near 'then'" bad.lua -o out --plain
  refuse "-m of a module that is nowhere" \
    "module absent is not found as Lua source in the search path (-m absent)" \
    src/main.lua -o out -m absent
  refuse "-m of an empty prefix" "no module below nope in the search path (-m nope.*)" \
    src/main.lua -o out -m 'nope.*'
  refuse "nor over one of its modules" "src/pkg/sub.lua is the module pkg.sub itself; choose another output" \
    src/main.lua -o src/pkg/sub.lua
  truth "which is unchanged" grep -q '^module' "$T/src/pkg/sub.lua"
  mkdir "$T/src/old"
  printf 'return 7 // 2' > "$T/src/old/x.lua"
  refuse "nor over a file left out as not compiling" \
    "src/old/x.lua is the module old.x itself; choose another output" src/main.lua -m 'old.*' -o src/old/x.lua
  truth "which is unchanged" test "$(cat "$T/src/old/x.lua")" == 'return 7 // 2'
  refuse "a program is not written to standard output" \
    "-o -: a program is not written to standard output; name a file" src/main.lua -o -
  refuse "--plain bundles nothing" "--plain bundles nothing: it takes no -I or -m" \
    src/main.lua -o out --plain -m pkg
  refuse "nor -I" "--plain bundles nothing: it takes no -I or -m" src/main.lua -o out --plain -I src
  refuse "--extract needs two names" "--extract needs a file and a folder (try --help)" \
    --extract out
}

group_options() {
  sources
  # Modules required by a computed name, added by prefix.
  mkdir -p "$T/src/plug/deep"
  printf 'return "a"' > "$T/src/plug/a.lua"
  printf 'return "deep.b"' > "$T/src/plug/deep/b.lua"
  printf 'for _, n in ipairs({"a", "deep.b"}) do io.write(require("plug." .. n), " ") end\n' > "$T/src/plugs.lua"
  printf 'return 7 // 2' > "$T/src/plug/new.lua"
  glue src/plugs.lua -o "plugs$EXE" -m 'plug.*'
  expect "-m prefix.* walks the folders, leaving out what does not compile" 0 "" \
    "$(travelled "ovrelglue: plugs$EXE: bundled 2 modules: plug.a, plug.deep.b"$'\n'"ovrelglue: plugs$EXE: requires by a computed name, whose modules only -m NAME or -m 'PREFIX.*' bundles, at src/plugs.lua:1"$'\n'"ovrelglue: plugs$EXE: left out, does not compile: plug.new (src/plug/new.lua:1: unexpected symbol near '/')" "plugs$EXE")"
  ship "plugs$EXE"
  run "$T/app" "./plugs$EXE" "$T/app/plugs$EXE"
  expect "and the program finds them" 0 "a deep.b " ""
  printf 'require "plug.new"' > "$T/src/usesnew.lua"
  glue src/usesnew.lua -o "out$EXE" -m 'plug.*'
  expect "unless a literal require names it" 1 "" "ovrelglue: src/plug/new.lua:1: unexpected symbol near '/'"
  printf 'return require "plug.new"' > "$T/src/plug/a.lua"
  glue src/plugs.lua -o "out$EXE" -m 'plug.*'
  expect "or one of the modules walked" 1 "" "ovrelglue: src/plug/new.lua:1: unexpected symbol near '/'"
  printf 'return "a"' > "$T/src/plug/a.lua"
  glue src/plugs.lua --check -m plug.a -m crlf -m plug.a -m 'plug.*'
  expect "-m names modules one by one too, each once" 0 "" \
    "$(travelled "ovrelglue: src/plugs.lua: bundled 3 modules: plug.a, crlf, plug.deep.b"$'\n'"ovrelglue: src/plugs.lua: requires by a computed name, whose modules only -m NAME or -m 'PREFIX.*' bundles, at src/plugs.lua:1"$'\n'"ovrelglue: src/plugs.lua: left out, does not compile: plug.new (src/plug/new.lua:1: unexpected symbol near '/')" "src/plugs.lua")"

  # The script from standard input: no folder of its own, -I still counts.
  printf 'print(require("pkg.sub").name)' > "$T/stdin.lua"
  run "$T" ovrelglue "$GLUE" - -o "fromstdin$EXE" -I src < "$T/stdin.lua"
  expect "a script from standard input, modules through -I" 0 "" \
    "$(travelled "ovrelglue: fromstdin$EXE: bundled 2 modules: pkg.sub, pkg" "fromstdin$EXE")"
  run "$T" ovrelglue "$GLUE" - --check < "$T/stdin.lua"
  expect "checked, it is named stdin, and what it requires must be found" 1 "" \
    "ovrelglue: neither bundled nor found as a native module: pkg.sub (stdin:1); the program would not find it where it runs (--allow-missing NAME ships without one, --system-modules looks for them there)"
  run "$T" ovrelglue "$GLUE" - --check --allow-missing pkg.sub < "$T/stdin.lua"
  expect "unless it may be missing" 0 "" \
    "$(travelled "ovrelglue: stdin: not shipped, as asked (--allow-missing): pkg.sub" stdin)"
  ship "fromstdin$EXE"
  run "$T/app" "./fromstdin$EXE" "$T/app/fromstdin$EXE"
  expect "it runs" 0 $'pkg.sub\n' ""

  # A precompiled script, made by the engine of the target.
  cat > "$T/forms.lua" <<'LUA'
local require = require
local function f() return require "pc" end
local function g() local r = require; r "pd" end
pcall(require, "pa")
pcall(require, "pb", 1)
pcall(require, "ph", f())
require("pe", 2)
local t = {require = require}; t.require "pf"
local k = {[true] = t[nil], require(7)}
print(pcall(require, "pg"))
LUA
  prog dumper 'local function dump(name, head, text) local f = io.open(name, "wb") f:write(head, string.dump(loadstring(text))) f:close() end
dump("pc.luac", "", "require \"pkg\"; print(\"pc\")")
dump("pcnone.luac", "", "print(1)")
dump("pcforms.luac", "", io.open("forms.lua", "rb"):read("*a"))
dump("pcline", "#!/usr/bin/env ovrelrun\\n", "print(require \"sealed\")")
dump("src/sealed.lua", "#!/usr/bin/env lua5.1\\n", "local require = require; require \"crlf\" return \"sealed\"")'
  runp dumper
  glue pc.luac -o "pc$EXE"
  expect "a precompiled script is glued unchanged, and the summary says so" 0 "" \
    "$(travelled "ovrelglue: pc$EXE: the script is precompiled, so nothing is bundled into it; the modules it requires must travel beside the program: pkg" "pc$EXE")"
  mkprog "$T/expected" "$T/pc.luac"
  truth "byte for byte" cmp -s "$T/pc$EXE" "$T/expected"

  # The forms of require a chunk is read for: through a local or an
  # upvalue, through a local of another name, as a tail call, behind pcall.
  glue pcforms.luac --check
  expect "are the forms taken in a precompiled chunk" 0 "" \
    "$(travelled "ovrelglue: pcforms.luac: the script is precompiled, so nothing is bundled into it; the modules it requires must travel beside the program: pc, pd, pa, pb, ph, pg" pcforms.luac)"
  glue pcnone.luac -o "pcnone$EXE"
  expect "one that requires nothing needs no word" 0 "" "$(travelled "" "pcnone$EXE")"
  glue pcnone.luac -o "pcnone$EXE" -m crlf
  expect "unless modules are asked for" 0 "" \
    "$(travelled "ovrelglue: pcnone$EXE: the script is precompiled, so nothing is bundled into it; the modules it requires must travel beside the program" "pcnone$EXE")"

  glue pcline -o "pcl$EXE"
  expect "a # line before a precompiled script is left out, and the summary says so" 0 "" \
    "$(travelled "ovrelglue: pcl$EXE: the script's \"#\" line is left out: the launcher runs a precompiled chunk only without it
ovrelglue: pcl$EXE: the script is precompiled, so nothing is bundled into it; the modules it requires must travel beside the program: sealed" "pcl$EXE")"
  printf 'print(require "sealed")' > "$T/src/usessealed.lua"
  glue src/usessealed.lua -o "sealed$EXE"
  expect "a precompiled module's requires are followed, through a local too" 0 "" \
    "$(travelled "ovrelglue: sealed$EXE: bundled 2 modules: sealed, crlf" "sealed$EXE")"
  ship "sealed$EXE"
  run "$T/app" "./sealed$EXE" "$T/app/sealed$EXE"
  expect "a precompiled module behind a # line runs" 0 $'sealed\n' ""
  if native; then
    printf 'require "crlf"' | luac5.1 -s -o "$T/src/stripped.lua" -
    printf 'require "stripped"' > "$T/src/usesstripped.lua"
    glue src/usesstripped.lua --check
    expect "one stripped of its debug data is named" 0 "" \
      "ovrelglue: src/usesstripped.lua: bundled 1 module: stripped
ovrelglue: src/usesstripped.lua: precompiled without debug data, so the modules they require were not looked for: stripped"
  fi

  cp "$LAUNCHER" "$T/win.exe"
  printf 'print(1)' > "$T/p.lua"
  glue p.lua -o noext --launcher win.exe
  expect "onto a Windows launcher, .exe is added" 0 "" \
    "$(travelled 'ovrelglue: wrote noext.exe: ".exe" added, without which Windows does not start it' noext.exe)"
  truth "and only .exe" test -f "$T/noext.exe" -a ! -e "$T/noext"

  # Signed launchers, made here: a PE image of 1024 bytes and 40 more for a
  # certificate table, its entry (data directory 4) set to OFFSET SIZE.
  # Only a signature is dropped: the entry, and the table where it ends the
  # image; the trailer then counts the shorter image.
  if native; then
    local v offset size magic image noted entry said glued
    for v in "1024 40 0x20b 1024 1 at the end of a PE32+ image" "600 40 0x10b 1064 1 inside the image" \
             "0 64 0x10b 1064 1 at offset 0" "0 0 0x10b 1064 0 of an unsigned image" \
             "8 1056 0x10b 1064 0 that would start before its own entry"; do
      read -r offset size magic image noted _ <<< "$v"
      mkpe "$T/signed.exe" "$magic"
      head -c 40 /dev/urandom >> "$T/signed.exe"
      entry=$(( PE_DIRS + 32 ))
      put "$T/signed.exe" "$entry" 4 "$offset"
      put "$T/signed.exe" $(( entry + 4 )) 4 "$size"
      glue p.lua -o fromsigned.exe --launcher signed.exe --plain
      said=
      (( noted )) && said="ovrelglue: fromsigned.exe: the launcher's signature is not carried over; sign fromsigned.exe after gluing"
      expect "a certificate table ${v#* * * * * }" 0 "" "$said"
      { head -c "$image" "$T/signed.exe"; cat "$T/p.lua"; trailer "$image" 8; } > "$T/expected"
      (( noted )) && put "$T/expected" "$entry" 8 0
      truth "${v#* * * * * }: the image as it should be, the script, the trailer" \
        cmp -s "$T/fromsigned.exe" "$T/expected"
    done
    # Signed after gluing: the trailer is found before the table and the
    # zero bytes that align it, and only behind zero bytes.
    glued=$(wc -c < "$T/fromsigned.exe")
    { cat "$T/fromsigned.exe"; head -c 4 /dev/zero; head -c 32 /dev/urandom; } > "$T/signedprog.exe"
    put "$T/signedprog.exe" "$entry" 4 $(( glued + 4 ))
    put "$T/signedprog.exe" $(( entry + 4 )) 4 32
    glue --show signedprog.exe
    expect "show finds the trailer of a signed program" 0 $'offset: 1064\nlength: 8\nfirst line: print(1)\n'"$PLAINSHOW" ""
    put "$T/signedprog.exe" $(( glued + 1 )) 1 1
    glue --show signedprog.exe
    expect "not behind bytes that are no padding" 1 "" "ovrelglue: signedprog.exe carries no script (no trailer)"
  fi

  glue --version
  truth "--version names the tool" test "${out%% *}" == ovrelglue

  if native; then
    local long
    long=$(printf 'n%.0s' {1..255})
    glue p.lua -o "$long"
    expect "an output name as long as the file system allows" 0 "" ""
    truth "is written" test -x "$T/$long"

    mkdir "$T/real"
    ln -s real/target "$T/link"
    ln -s "$T/real/abs" "$T/abslink"
    glue p.lua -o link
    glue p.lua -o abslink
    truth "an output that is a link is written through to its target, relative or absolute" \
      test -L "$T/link" -a -x "$T/real/target" -a -L "$T/abslink" -a -x "$T/real/abs"
  fi
}

# Windows only: glue, then sign with Authenticode, which appends a
# certificate table after the trailer; gluing again drops that signature.
group_signed() {
  mkdir -p "$T/src" "$T/app"
  printf 'print(require("greet").hi(...))\n' > "$T/src/main.lua"
  printf 'return {hi = function(n) return "hi " .. n end}\n' > "$T/src/greet.lua"
  openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=ovrel-test -days 2 \
    -keyout "$T/key.pem" -out "$T/cert.pem" 2> /dev/null
  sign() { osslsigncode sign -certs "$T/cert.pem" -key "$T/key.pem" -n ovrel-test -in "$T/$1" -out "$T/$2" > /dev/null; }
  dropped() { printf "ovrelglue: %s: the launcher's signature is not carried over; sign %s after gluing" "$1" "$1"; }
  # The certificate entry (data directory 4) of a PE32 image, in hex.
  certentry() { od -An -tx1 -j$(( $(od -An -tu4 -j60 -N4 "$T/$1") + 152 )) -N8 "$T/$1" | tr -d ' \n'; }

  glue src/main.lua -o prog.exe
  glue --show prog.exe
  local shown=$out
  truth "a glued program is signed" sign prog.exe signed.exe
  glue --show signed.exe
  expect "show finds the trailer before the certificate table" 0 "$shown" ""
  truth "and lists the bundled module" grep -q '^module: greet from src/greet.lua' <<< "$shown"
  ship signed.exe
  run "$T/app" ./signed.exe "$T/app/signed.exe" you
  expect "the signed program runs" 0 $'hi you\n' ""

  glue src/main.lua -o again.exe --launcher app/signed.exe
  expect "a signed program is no launcher either" 1 "" \
    "ovrelglue: app/signed.exe carries a script of its own; name a bare launcher"

  cp "$LAUNCHER" "$T/bare.exe"
  sign bare.exe launcher-signed.exe
  glue src/main.lua -o fromsigned.exe --launcher launcher-signed.exe
  truth "gluing onto a signed launcher says its signature is dropped" test "${err%%$'\n'*}" == "$(dropped fromsigned.exe)"
  truth "and leaves no certificate entry" test "$(certentry fromsigned.exe)" == 0000000000000000
  glue --show fromsigned.exe
  truth "whose image ends where its certificate table began" \
    test "${out%%$'\n'*}" == "offset: $(( ($(wc -c < "$LAUNCHER") + 7) / 8 * 8 ))"
}

# What travels: --with-deps copies what the program needs into an empty
# folder, where it runs as is; a default-glued program of Lua files alone
# needs nothing of ours on Linux.
group_deps() {
  sources
  local mod=numhash.so needs said
  native || mod=numhash.dll
  needs=$(numhash_needs)
  said="ovrelglue: empty/prog$EXE: bundled 3 modules: pkg, pkg.sub, crlf"$'\n'"ovrelglue: empty/prog$EXE: optional (required in a pcall or by an optional module), not found: absent"$'\n'"ovrelglue: empty/prog$EXE: copied beside it, as it needs them where it runs: $needs"
  mkdir "$T/empty" "$T/taken"
  glue src/main.lua -o "empty/prog$EXE" --with-deps
  expect "--with-deps: the summary names what it copied" 0 "" "$said"
  run "$T/empty" "./prog$EXE" "$T/empty/prog$EXE" A
  expect "and the program runs from that folder" 1 \
    $'pkg\tpkg.sub\tpkg\tfalse\tx\ttrue\tA\tA\n' "./prog$EXE: :9: line 9$(trace_main 9)"
  glue src/main.lua -o "empty/prog$EXE" --with-deps
  expect "again over the same files: they are left as they are" 0 "" "$said"

  printf 'not the module' > "$T/taken/$mod"
  glue src/main.lua -o "taken/prog$EXE" --with-deps
  expect "a different file beside the output is not replaced" 1 "" \
    "ovrelglue: taken/$mod is already there and differs from $(dirname "$NUMHASH")/$mod; it is not replaced"
  truth "and nothing is written" test "$(cat "$T/taken/$mod")" = "not the module" -a ! -e "$T/taken/prog$EXE"
  mkdir -p "$T/src/nm" "$T/blocked"
  cp "$NUMHASH" "$T/src/nm/deep${mod#numhash}"
  printf 'require "nm.deep"' > "$T/src/deep.lua"
  : > "$T/blocked/nm"
  glue src/deep.lua -o "blocked/prog$EXE" --with-deps
  expect "a file where a module's folder must go is not replaced" 1 "" \
    "ovrelglue: blocked/nm is not a folder, and blocked/nm/deep${mod#numhash} goes into it; it is not replaced"
  truth "and nothing is written" test ! -s "$T/blocked/nm" -a ! -e "$T/blocked/prog$EXE"

  # Modules that share one file are found through what it exports.
  local aio=${ALLINONE##*/}
  cp "$ALLINONE" "$T/src/"
  printf 'print(require("allinone.one"), require("allinone.two"))' > "$T/src/aio.lua"
  mkdir "$T/aio"
  glue src/aio.lua -o "aio/aio$EXE" --with-deps
  expect "modules that share a file travel as that file" 0 "" \
    "ovrelglue: aio/aio$EXE: copied beside it, as it needs them where it runs: $(native || echo "ovrel.dll, ")$aio"
  run "$T/aio" "./aio$EXE" "$T/aio/aio$EXE"
  expect "and are opened from it" 0 $'one\ttwo\n' ""

  native || return 0
  mkdir "$T/clash"
  glue src/deep.lua -o clash/nm --with-deps
  expect "a program named as a folder its modules go into is refused" 1 "" \
    "ovrelglue: nm/deep${mod#numhash} must go into a folder named clash/nm; choose another output"
  truth "before anything is written" test -z "$(ls -A "$T/clash")"
  glue src/deep.lua -o clash/libovrel.so.1 --with-deps
  expect "and so is one named as a file that goes beside it" 1 "" \
    "ovrelglue: clash/libovrel.so.1 is where libovrel.so.1 must go beside it; choose another output"
  truth "before anything is written" test -z "$(ls -A "$T/clash")"
  # Read from the files: a module's libraries found through its run-path
  # ($ORIGIN in both spellings, empty entries skipped), and theirs, each
  # once; what the system's library folders hold stays.
  local libc ld
  libc=$(ldd "$GLUE" | awk '$1 == "libc.so.6" { print $3 }')
  ld=$(ldd "$GLUE" | awk '/ld-linux/ { print $1 }')
  mkdir -p "$T/n/lib"
  printf 'require "m"' > "$T/n/use.lua"
  mkelf "$T/n/m.so" 64 1=libone.so 14=m.so 1=libc.so.6 29="\$ORIGIN/none::${libc%/*}:\$ORIGIN/lib"
  mkelf "$T/n/lib/libone.so" 32 1=libtwo.so 1=libone.so 15='${ORIGIN}'
  mkelf "$T/n/lib/libtwo.so" 64 1="${ld##*/}" 29="${ld%/*}"
  glue n/use.lua --check
  expect "libraries are read from the dynamic sections of ELF files of 64 and 32 bits" 0 "" \
    "ovrelglue: n/use.lua: needs beside it where it runs (--with-deps copies them): m.so, lib/libone.so, lib/libtwo.so"
  # One found only as this machine's loader finds it (LD_LIBRARY_PATH here)
  # travels beside the program, and what it loads.
  mkdir "$T/ldp"
  mkelf "$T/ldp/libfar.so" 64 1=libnear.so 14=libfar.so
  mkelf "$T/ldp/libnear.so" 32 1=libc.so.6
  mkelf "$T/n/m2.so" 64 1=libfar.so 1=libm.so.6
  printf 'require "m2"' > "$T/n/use2.lua"
  LD_LIBRARY_PATH="$T/nowhere:$T/ldp" glue n/use2.lua --check
  expect "a library found through LD_LIBRARY_PATH travels, and what it loads" 0 "" \
    "ovrelglue: n/use2.lua: needs beside it where it runs (--with-deps copies them): m2.so, libfar.so, libnear.so"
  glue n/use2.lua --check
  expect "one found nowhere is named" 1 "" "ovrelglue: n/m2.so needs libfar.so, which is not found"
  mkdir "$T/nout"
  glue n/use.lua -o nout/prog --with-deps
  truth "each is copied where the run-path that found it leads from the copy" \
    cmp -s "$T/n/lib/libtwo.so" "$T/nout/lib/libtwo.so"

  # A hostile image yields fewer names, never a crash: each case spoils the
  # fields at AT:WIDTH:VALUE of a module that needs libnext.so beside it.
  # One of another class or byte order is no module for the launcher; one
  # that names libnext.so but not where it lies is refused with its name.
  mkelf "$T/n/libnext.so" 64
  local gone="ovrelglue: neither bundled nor found as a native module: m (n/use.lua:1); the program would not find it where it runs (--allow-missing NAME ships without one, --system-modules looks for them there)"
  local lost="ovrelglue: n/m.so needs libnext.so, which is not found"
  local hostile=(
    "a class of its own|4:1:3|gone" "big-endian|5:1:2|gone" "section headers too small|58:2:63"
    "no section headers|60:2:0" "a section table past 16 MB|58:2:65535 60:2:65535"
    "section headers past the end|40:8:$(( 1 << 40 ))" "section headers past any offset|40:8:-1"
    "no dynamic section|132:4:3" "its strings in no section|168:4:3"
    "a dynamic section past 16 MB|160:8:$(( 1 << 25 ))" "a dynamic section past the end|152:8:$(( 1 << 40 ))"
    "names past its strings|224:8:1" "strings past the end|216:8:$(( 1 << 40 ))"
    "entries that stop short of the run-path|160:8:24|lost")
  local h f at width value magic spoils
  for h in "${hostile[@]}"; do
    mkelf "$T/n/m.so" 64 1=libnext.so 29='$ORIGIN'
    spoils=${h#*|}
    for f in ${spoils%%|*}; do IFS=: read -r at width value <<< "$f"; put "$T/n/m.so" "$at" "$width" "$value"; done
    glue n/use.lua --check
    case $h in
      *gone) expect "an ELF file with ${h%%|*}" 1 "" "$gone" ;;
      *lost) expect "an ELF file with ${h%%|*}" 1 "" "$lost" ;;
      *) expect "an ELF file with ${h%%|*}" 0 "" \
           "ovrelglue: n/use.lua: needs beside it where it runs (--with-deps copies them): m.so" ;;
    esac
  done
  # Strings may run past the table's end: each name ends at its NUL.
  mkelf "$T/n/m.so" 64 1=libnext.so 29='$ORIGIN'
  put "$T/n/m.so" 224 8 4096
  head -c 300 /dev/zero >> "$T/n/m.so"
  glue n/use.lua --check
  expect "names end at their NUL" 0 "" \
    "ovrelglue: n/use.lua: needs beside it where it runs (--with-deps copies them): m.so, libnext.so"

  # Copying into the module's own folder leaves it be; a folder where a
  # library goes is refused before anything is written.
  mkelf "$T/n/m.so" 64 1=libnext.so 29='$ORIGIN'
  glue n/use.lua -o n/prog --with-deps
  expect "--with-deps beside the module itself" 0 "" "ovrelglue: n/prog: copied beside it, as it needs them where it runs: m.so, libnext.so"
  mkdir -p "$T/in/libnext.so"
  glue n/use.lua -o in/prog --with-deps
  expect "a folder in a library's place is refused" 1 "" \
    "ovrelglue: in/libnext.so is already there and differs from n/libnext.so; it is not replaced"
  truth "and nothing is written" test ! -e "$T/in/prog" -a ! -e "$T/in/m.so"

  # A PE module for a PE launcher, beside which lies the runtime: its
  # import table is read safely, PE32, PE32+ and spoilt ones (offsets for
  # PE32, whose data directories start at 184 and sections at 312).  A
  # file spoilt past being an image is no module for it.
  rm "$T/n/m.so"
  mkpe "$T/n/l.exe" 0x10b ovrel.dll KERNEL32.dll
  mkpe "$T/n/ovrel.dll" 0x10b KERNEL32.dll
  hostile=("PE32|" "PE32+|" "its header past the end|60:4:100000|gone" "no PE signature|64:1:0|gone"
    "an optional header of no known kind|88:2:0x10c|gone" "an optional header too small|84:2:16"
    "one data directory|180:4:1" "no import table|192:4:0" "no sections|70:2:0"
    "a section table past the end|70:2:65535" "imports in no section|192:4:0x9000"
    "imports past the end|332:4:$(( 1 << 31 ))" "a name in no section|524:4:0x9000"
    "a name below every section|524:4:16" "its header cut short|60:4:1020 1020:4:17744|gone"
    "an import table that never ends|328:4:0x20000 332:4:1024")
  for h in "${hostile[@]}"; do
    magic=0x10b
    [[ ${h%%|*} == PE32+ ]] && magic=0x20b
    mkpe "$T/n/m.dll" "$magic" ovrel.dll KERNEL32.dll
    spoils=${h#*|}
    for f in ${spoils%%|*}; do IFS=: read -r at width value <<< "$f"; put "$T/n/m.dll" "$at" "$width" "$value"; done
    [[ $h == *never* ]] && head -c $(( 0x20000 )) /dev/zero | tr '\0' '\1' >> "$T/n/m.dll"
    glue n/use.lua --check --launcher n/l.exe
    if [[ $h == *gone ]]; then
      expect "a PE module: ${h%%|*}" 1 "" "$gone"
    else
      expect "a PE module: ${h%%|*}" 0 "" \
        "ovrelglue: n/use.lua: needs beside it where it runs (--with-deps copies them): ovrel.dll, m.dll"
    fi
  done
  # Nor is a file of another kind or machine, and what a PE launcher
  # needs must lie beside it.
  cp "$T/n/ovrel.dll" "$T/n/m.so"
  glue n/use.lua --check
  expect "a PE file is no module for an ELF launcher" 1 "" "$gone"
  rm "$T/n/ovrel.dll"
  glue n/use.lua --check --launcher n/l.exe
  expect "a PE launcher without its runtime beside it is refused" 1 "" \
    "ovrelglue: n/l.exe needs ovrel.dll, which is not found beside it"

  mkdir "$T/alone"
  printf 'return {hi = function(x) return "hi " .. x end}' > "$T/src/util.lua"
  printf 'print(require("util").hi(...))' > "$T/src/two.lua"
  glue src/two.lua -o alone/two
  ( cd "$T/alone" && exec env -i ./two you ) > "$R/out" 2> "$R/err"
  capture $?
  expect "a default-glued program of two files runs alone, with no environment" 0 $'hi you\n' ""
  # A sanitized build links the sanitizers' runtimes too; a counting build
  # names the C library's loader.
  [[ ${SANITIZED:-0} == 1 ]] || truth "it loads only the C library and has no run-path" \
    test -z "$(readelf -d "$T/alone/two" | grep -E 'NEEDED|PATH' |
               grep -vE '\[((libc|libm)\.so\.6|ld-linux[-a-z0-9_.]*)\]')"
}

# Files carried inside a program: read glued, started through PATH from a
# folder with planted copies, and unglued from the script's folder; the
# names and the refusals; --show, --extract and gluing the tree back; and
# a native module carried by --onefile, loaded from memory.
group_carry() {
  mkdir -p "$T/c/app/data/sub" "$T/c/elsewhere/data" "$T/c/bin" "$T/c/one"
  printf 'alpha\r\nbeta\n' > "$T/c/app/data/a.txt"
  printf 'b\000in' > "$T/c/app/data/sub/b.bin"
  printf 'hidden' > "$T/c/app/data/.hidden"
  printf 'hello\n' > "$T/c/app/greeting.txt"
  printf 'from outside' > "$T/c/outside.txt"
  printf 'PLANTED\n' | tee "$T/c/elsewhere/greeting.txt" > "$T/c/elsewhere/data/a.txt"
  printf '%s\n' 'local app = require "ovrel.app"' \
    'io.write(app.read("greeting.txt"), #app.read("data/sub/b.bin"), "\n")' \
    'local h = assert(app.open("data/a.txt"))' \
    'io.write(h:read("*l"), "|", h:seek("cur"), "|", h:read("*a"), "|", h:seek("set", 1), h:read(3), "\n")' \
    'for _, n in ipairs{"nope", "../app/greeting.txt", "/etc/passwd", "data/./a.txt", "data"} do' \
    '  print(app.read(n))' \
    'end' \
    'for n in app.files() do if n:find("^data/") then print(n) end end' \
    'print(app.path == app.dir .. (package.config:sub(1, 1)) .. (arg[0]:match("[^/\\]*$")))' \
    'print((app.read("more/outside.txt")))' > "$T/c/app/main.lua"
  local want
  want=$'hello\n4\nalpha|7|beta\n|1lph\n'
  want+=$'nil\tno included file "nope"\nnil\tno included file "../app/greeting.txt"\n'
  want+=$'nil\tno included file "/etc/passwd"\nnil\tno included file "data/./a.txt"\nnil\tno included file "data"\n'
  want+=$'data/a.txt\ndata/sub/b.bin\ntrue\n'
  local p=c/bin/prog$EXE needs
  needs=$(travelled "" "$p")
  glue c/app/main.lua -o "$p" --include c/app/data --include c/app/greeting.txt \
    --include c/outside.txt=more/outside.txt
  expect "included files are summed up, hidden ones named" 0 "" "${needs:+$needs$'\n'}ovrelglue: $p: carries 4 included files, 34 bytes
ovrelglue: $p: not included, hidden or a folder reached through a link: data/.hidden"
  stage "$T/c/bin"
  withpath "$T/c/bin" run "$T/c/elsewhere" "prog$EXE" "$T/$p"
  expect "glued, started through PATH, it reads what it carries and nothing planted" 0 \
    "${want}from outside"$'\n' ""
  # A sanitized ovrel.app loads in no stock interpreter.
  if native && [[ -n ${APP_MODULE-} && ${SANITIZED:-0} != 1 ]]; then
    ( cd "$T/c/app" && LUA_CPATH="${APP_MODULE%/ovrel/*}/?.so" exec "$LUA" main.lua ) > "$R/out" 2> "$R/err"
    capture $?
    expect "unglued under the interpreter, the same script reads the same files from its folder" 0 \
      "${want}nil"$'\n' ""
  fi

  if native && hidesproc; then
    withpath "$T/c/bin" noproc "$T/c/elsewhere" prog "$T/$p"
    expect "where /proc is not mounted, it reads them from the file the launcher found" 0 \
      "${want}from outside"$'\n' ""
  fi

  glue --show "$p"
  truth "--show lists them with their sizes" grep -qx 'included: data/sub/b.bin (4 bytes)' <<< "$out"
  glue --extract "$p" c/tree
  truth "--extract writes them below the script's folder" cmp -s "$T/c/tree/script.d/more/outside.txt" "$T/c/outside.txt"
  glue c/tree/script.d/main.lua -o "c/again$EXE" --include c/tree/script.d/data \
    --include c/tree/script.d/greeting.txt --include c/tree/script.d/more
  truth "and the tree glues back into the same program" cmp -s "$T/$p" "$T/c/again$EXE"

  # A damaged record or index: the tool refuses the program, which itself
  # reads nothing and says why.
  printf '%s\n' 'local app = require "ovrel.app"' 'print(app.read("greeting.txt"))' \
    'print(pcall(app.files))' > "$T/c/app/hurt.lua"
  # At N bytes before the script: the record's index length (8), the only
  # entry's size (36), its name's length, kind and zero byte (32).
  local spoil at
  for spoil in '8|\xff\xff\xff\x7f|record is damaged' '36|\xff\xff\xff\x7f|index is damaged' \
               '32|\x00\x00\x00\x00|index is damaged' '32|\x0c\x00\x02\x00|index is damaged' \
               '32|\x0c\x00\x00\x01|index is damaged'; do
    IFS='|' read -r back bytes what <<< "$spoil"
    glue c/app/hurt.lua -o "c/hurt$EXE" --include c/app/greeting.txt
    glue --show "c/hurt$EXE"
    at=$(sed -n 's/^offset: //p' <<< "$out")
    printf "$bytes" | dd of="$T/c/hurt$EXE" bs=1 seek=$((at - back)) conv=notrunc status=none
    glue --show "c/hurt$EXE"
    expect "--show refuses a program whose $what ($back: $bytes)" 1 "" "ovrelglue: c/hurt$EXE carries files, but their $what"
    runp "c/hurt"
    said="the index of the program's files is damaged"
    expect "which reads nothing of it ($back: $bytes)" 0 "nil	$said"$'\n'"false	$said"$'\n' ""
  done

  # A name may hold "="; a folder reached through a link is left out, and
  # named; a pipe is no file.
  if native; then
    printf 'x' > "$T/c/app/a=b" && ln -s "$T/c/app/data" "$T/c/app/data/loop" && mkfifo "$T/c/app/pipe"
    glue c/app/main.lua --check --include c/app/a=b --include c/app/data --include "$T/c/app/../app/greeting.txt"
    expect "a path with \"=\" is taken whole where it exists, an absolute one named below the script's folder; a linked folder is left out" 0 "" \
      "ovrelglue: c/app/main.lua: carries 4 included files, 23 bytes
ovrelglue: c/app/main.lua: not included, hidden or a folder reached through a link: data/.hidden, data/loop"
    rm "$T/c/app/data/loop"
    glue c/app/main.lua --check --include c/app/pipe
    expect "a pipe is refused" 1 "" "ovrelglue: cannot include c/app/pipe: it is neither a file nor a folder"
  fi

  local refusal
  for refusal in "c/outside.txt|--include c/outside.txt: it lies outside the script's folder c/app/; give it a name: --include c/outside.txt=NAME" \
                 "c/outside.txt=../x|--include c/outside.txt=../x: ../x is no name below the program's folder (a/b.txt: no \"..\", \".\", empty or absolute part)" \
                 "c/app/none|cannot include c/app/none: No such file or directory" \
                 "c/outside.txt=data/a.txt|two files would be carried as data/a.txt: c/app/data/a.txt and c/outside.txt"; do
    glue c/app/main.lua -o c/refused --include c/app/data --include "${refusal%%|*}"
    expect "refused: --include ${refusal%%|*}" 1 "" "ovrelglue: ${refusal#*|}"
  done
  truth "and nothing is written" nothing_like "$T/c/refused*"

  if native; then
    printf '%s\n' 'local m, app = require("numhash").new(), require "ovrel.app"' 'm[1] = "one"' \
      'print(m[1], type(app.loadlib("numhash.so", "luaopen_numhash")), app.loadlib("data/a.txt", "f"))' > "$T/c/app/native.lua"
    cp "$NUMHASH" "$T/c/app/"
    glue c/app/native.lua -o c/one/native --onefile
    truth "--onefile carries the native module inside" grep -q "carried inside it and loaded from memory (--onefile): numhash.so" "$R/err"
    rm "$T/c/app/numhash.so"
    # The leak checker does not look into libraries mapped from memory, so
    # a sanitized build's compiler runtime, carried too, seems to leak.
    ASAN_OPTIONS=${ASAN_OPTIONS-}:detect_leaks=0 run "$T/c/one" ./native "$T/c/one/native"
    expect "and the program, alone in its folder, loads it from memory, once" 0 \
      $'one\tfunction\tnil\tno included file "data/a.txt"\n' ""
    truth "from a file in memory, with nothing written beside it" test "$(ls "$T/c/one")" == native
    glue --show c/one/native
    truth "--show says so" test "$(grep -cxF -e "modules: sealed, from its bundle and what it carries only (--onefile)" \
      -e "carried: numhash.so ($(wc -c < "$NUMHASH") bytes)" <<< "$out")" = 2
    glue --extract c/one/native c/onetree
    truth "and --extract gives the module back beside the script" cmp -s "$T/c/onetree/script.d/numhash.so" "$NUMHASH"
    if hidesproc; then
      noproc "$T/c/one" ./native "$T/c/one/native"
      truth "without /proc, the program says it cannot load it" \
        grep -qF "cannot load carried library numhash.so: /proc is not mounted" <<< "$err"
    fi
    glue c/app/native.lua -o c/one/twice --onefile --with-deps
    expect "--onefile with --with-deps is refused" 1 "" \
      "ovrelglue: --onefile carries inside the program what --with-deps copies beside it: take one"
    glue c/app/native.lua -o c/one/twice --onefile --plain
    expect "so is --onefile with --plain" 1 "" "ovrelglue: --plain bundles nothing: it takes no --onefile"
    local shared=${GLUE%/*}/ovrelrun
    glue c/app/native.lua -o c/one/twice --onefile --launcher "$shared"
    # (an instrumented runtime's first library may be the compiler's)
    truth "and onto a launcher that loads the runtime library" grep -qF "ovrelglue: --onefile needs a \
launcher with the runtime inside, as ovrelrun-standalone: $shared loads lib" <<< "$err"
  else
    glue c/app/main.lua -o "c/one$EXE" --onefile
    expect "--onefile onto a Windows launcher is refused" 1 "" "ovrelglue: --onefile carries native modules for \
Linux launchers only: Windows loads a library only from a file of its own; ship the folder that --with-deps makes"
  fi
}

group_"$1"
done_cases
