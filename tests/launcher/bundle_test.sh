#!/usr/bin/env bash
# bundle_test.sh GROUP: programs of several files glued into one and run
# from an empty folder, where no module can be found on disk.
#
# Groups: run search extract refusals options signed deps scan.  Besides the launcher's
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
ship() {
  stage "$T/app"
  cp "$NUMHASH" "$T/app/"
  mv "$T/$1" "$T/app/"
}

group_run() {
  sources
  local needs="numhash.so, libovrel.so.1"
  native || needs="ovrel.dll, numhash.dll"
  glue src/main.lua -o "prog$EXE"
  expect "glue: the summary names what is bundled, what is not, and what must travel" 0 "" \
    "ovrelglue: prog$EXE: bundled 3 modules: pkg, pkg.sub, crlf"$'\n'"ovrelglue: prog$EXE: not bundled, looked for where it runs: absent, numhash"$'\n'"ovrelglue: prog$EXE: needs beside it where it runs (--with-deps copies them): $needs"
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
  glue src/forms.lua -o "forms$EXE"
  expect "the scan sees literal requires only" 0 "" \
    "$(travelled "ovrelglue: forms$EXE: not bundled, looked for where it runs: p1, l1, s1, s2, s" "forms$EXE")"

  if native; then
    ln -s ../src/forms.lua "$T/inc/formslink"
    glue inc/formslink -o "forms$EXE"
    expect "a script through a link is searched from the file it leads to" 0 "" \
      "$(travelled "ovrelglue: forms$EXE: not bundled, looked for where it runs: p1, l1, s1, s2, s" "forms$EXE")"
    printf 'return 1' > "$T/src/p1.lua"
    glue inc/formslink -o "forms$EXE"
    expect "there, not beside the link" 0 "" \
      "$(travelled "ovrelglue: forms$EXE: bundled 1 module: p1"$'\n'"ovrelglue: forms$EXE: not bundled, looked for where it runs: l1, s1, s2, s" "forms$EXE")"
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
    LUA_PATH=";;" glue /usr/bin/luacheck -m 'luacheck.*' -o lc
    glue --extract lc lcout
    glue lcout/script.d/luacheck -I lcout -m 'luacheck.*' -o lcagain
    run "$T" ./lcagain "$T/lcagain" --version
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
}

# Line ends of every kind the engine reads (LF, CR LF, CR, LF CR), and
# prefix walks over folder links.
group_scan() {
  mkdir -p "$T/src/lp/deep"
  local m
  for m in after cr1 cr2 lfcr; do printf 'return 1' > "$T/src/$m.lua"; done
  # An escaped line end is one, both bytes of it, inside the string.
  printf 'local s = "a\\\r\nrequire '"'"'inner'"'"' " require "after"\r\n' > "$T/src/crlf.lua"
  glue src/crlf.lua -o "crlf$EXE"
  expect "CR LF: an escaped line end stays inside its string" 0 "" \
    "$(travelled "ovrelglue: crlf$EXE: bundled 1 module: after" "crlf$EXE")"
  printf -- '-- note\rrequire "cr1"\rlocal t = [[\r]] .. require '"'"'cr2'"'"'\r' > "$T/src/cr.lua"
  glue src/cr.lua -o "cr$EXE"
  expect "CR alone: a comment ends at its line" 0 "" \
    "$(travelled "ovrelglue: cr$EXE: bundled 2 modules: cr1, cr2" "cr$EXE")"
  printf -- '-- note\n\rlocal s = "a\\\n\rrequire '"'"'inner'"'"' " require "lfcr"\n\r' > "$T/src/lfcr.lua"
  glue src/lfcr.lua -o "lfcr$EXE"
  expect "LF CR: one line end" 0 "" \
    "$(travelled "ovrelglue: lfcr$EXE: bundled 1 module: lfcr" "lfcr$EXE")"

  native || return 0
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
    "$(travelled "ovrelglue: plugs$EXE: bundled 2 modules: plug.a, plug.deep.b"$'\n'"ovrelglue: plugs$EXE: left out, does not compile: plug.new (src/plug/new.lua:1: unexpected symbol near '/')" "plugs$EXE")"
  ship "plugs$EXE"
  run "$T/app" "./plugs$EXE" "$T/app/plugs$EXE"
  expect "and the program finds them" 0 "a deep.b " ""
  printf 'require "plug.new"' > "$T/src/usesnew.lua"
  glue src/usesnew.lua -o "out$EXE" -m 'plug.*'
  expect "unless a literal require names it" 1 "" "ovrelglue: src/plug/new.lua:1: unexpected symbol near '/'"

  # The script from standard input: no folder of its own, -I still counts.
  printf 'print(require("pkg.sub").name)' > "$T/stdin.lua"
  run "$T" ovrelglue "$GLUE" - -o "fromstdin$EXE" -I src < "$T/stdin.lua"
  expect "a script from standard input, modules through -I" 0 "" \
    "$(travelled "ovrelglue: fromstdin$EXE: bundled 2 modules: pkg.sub, pkg" "fromstdin$EXE")"
  ship "fromstdin$EXE"
  run "$T/app" "./fromstdin$EXE" "$T/app/fromstdin$EXE"
  expect "it runs" 0 $'pkg.sub\n' ""

  # A precompiled script, made by the engine of the target.
  prog dumper 'local function dump(name, head, text) local f = io.open(name, "wb") f:write(head, string.dump(loadstring(text))) f:close() end
dump("pc.luac", "", "require \"pkg\"; print(\"pc\")")
dump("pcline", "#!/usr/bin/env ovrelrun\\n", "print(require \"sealed\")")
dump("src/sealed.lua", "#!/usr/bin/env lua5.1\\n", "local require = require; require \"crlf\" return \"sealed\"")'
  runp dumper
  glue pc.luac -o "pc$EXE"
  expect "a precompiled script is glued unchanged, and the summary says so" 0 "" \
    "$(travelled "ovrelglue: pc$EXE: the script is precompiled, so nothing is bundled into it; the modules it requires must travel beside the program: pkg" "pc$EXE")"
  mkprog "$T/expected" "$T/pc.luac"
  truth "byte for byte" cmp -s "$T/pc$EXE" "$T/expected"

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
    glue p.lua -o link
    truth "an output that is a link is written through to its target" \
      test -L "$T/link" -a -x "$T/real/target"
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
  local mod=numhash.so needs="numhash.so, libovrel.so.1" said
  native || { mod=numhash.dll; needs="ovrel.dll, numhash.dll"; }
  said="ovrelglue: empty/prog$EXE: bundled 3 modules: pkg, pkg.sub, crlf"$'\n'"ovrelglue: empty/prog$EXE: not bundled, looked for where it runs: absent, numhash"$'\n'"ovrelglue: empty/prog$EXE: copied beside it, as it needs them where it runs: $needs"
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

  native || return 0
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

group_"$1"
done_cases
