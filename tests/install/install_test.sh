#!/usr/bin/env bash
# install_test.sh: the build under test, configured for one prefix,
# installed into another (--prefix) and through DESTDIR, then used as a user
# would, with nothing in LD_LIBRARY_PATH: require with only the module
# folder on package.cpath, programs glued by the installed tool, and a third
# party's module built with find_package(ovrel) and pkg-config.
#
# From the environment: SOURCE (the project), BUILD (its build folder),
# PREFIX (the prefix it was configured for), LUA (the interpreter), CC and
# CXX (the compilers of that build).
set -euo pipefail
: "${SOURCE:?}" "${BUILD:?}" "${PREFIX:?}" "${LUA:?}"
source "$(dirname "$0")/prefix.sh"
DESTDIR="$T/staged" cmake --install "$BUILD" >/dev/null
"$(dirname "$0")/runpaths.sh" "$P" "$T/staged" >/dev/null || failures=$((failures + 1))
check "DESTDIR stages the configured prefix" "ok" \
  "$([[ -x $T/staged$PREFIX/bin/ovrelrun-standalone ]] && echo ok)"
mkdir "$T/elsewhere"
cd "$T/elsewhere"

engine() { readelf -d "$1" | grep -o 'NEEDED.*liblua[^]]*' || true; }
check "the runtime and the module leave the engine to the process" "" \
  "$(engine "$P/lib/libovrel.so.1")$(engine "$P/lib/lua/5.1/numhash.so")"

got=$(LUA_CPATH="$P/lib/lua/5.1/?.so" "$LUA" -e '
  local m = require("numhash").new(); m[2.5] = "x"; io.write(tostring(m), " ", m[2.5])' 2>&1) || true
check "require finds the module and its runtime" "numhash(1) x" "$got"

mkdir -p "$T/src/data" && echo planted > data.txt && echo carried > "$T/src/data.txt"
printf '%s\n' 'local app = require "ovrel.app"' 'io.write(app.dir, " ", app.read("data.txt"))' > "$T/src/app.lua"
got=$(LUA_CPATH="$P/lib/lua/5.1/?.so" "$LUA" "$T/src/app.lua" 2>&1) || true
check "the interpreter finds ovrel.app, which reads below the script's folder" "$T/src carried" "$got"

printf '%s\n' 'package.cpath = ... .. "/?.so"' 'local m = require("numhash").new()' \
  'for i = 1, 100 do m[i] = tostring(i) end' 'io.write(#m, " ", m[77], "\n")' > "$T/count.lua"
"$P/bin/ovrelglue" "$T/count.lua" -o "$T/count" >/dev/null
got=$(../count "$P/lib/lua/5.1" 2>&1) || true
check "a program glued by the installed tool runs from another folder" "100 77" "$got"
mkdir "$T/shipped"
"$P/bin/ovrelglue" --launcher "$P/bin/ovrelrun" --with-deps "$T/count.lua" -o "$T/shipped/shared" \
  2>/dev/null
got=$(../shipped/shared "$T/shipped" 2>&1) || true
check "one on the shared-library launcher runs with what --with-deps put beside it" "100 77" "$got"
# A counting build's runtime also loads the compiler's libraries, which travel.
shipped="libovrel.so.1 numhash.so shared"
[[ ${COUNTED:-0} == 1 ]] && shipped="libgcc_s.so.1 libovrel.so.1 libstdc++.so.6 numhash.so shared"
check "which is the runtime and the module" "$shipped" "$(cd "$T/shipped" && echo *)"

cmake -S "$SOURCE/tests/install/thirdparty" -B "$T/greet" -DCMAKE_PREFIX_PATH="$P" >/dev/null
cmake --build "$T/greet" >/dev/null
got=$(LUA_CPATH="$T/greet/?.so" "$LUA" -e 'io.write(require("greet").hello("you"))' 2>&1) || true
check "a third party's module built against the installed runtime loads" "hello, you (16)" "$got"
read -r inc lib _ <<<"$(PKG_CONFIG_PATH=$P/lib/pkgconfig pkg-config --cflags --libs ovrel)"
check "pkg-config gives the installed headers and library" "$P/include/ovrel $P/lib" \
  "$(realpath "${inc#-I}") $(realpath "${lib#-L}")"

((failures == 0))
