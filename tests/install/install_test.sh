#!/usr/bin/env bash
# install_test.sh: the project configured, built and installed into a
# temporary prefix, then used as a user would, with nothing in
# LD_LIBRARY_PATH: require with only the module folder on package.cpath, a
# program glued by the installed tool run from another folder, and a third
# party's module built against the installed interface with CMake and with
# pkg-config.
#
# From the environment: SOURCE (the project), LUA (the interpreter), CC and
# CXX (the compilers of the build under test).
set -euo pipefail
: "${SOURCE:?}" "${LUA:?}"
unset LD_LIBRARY_PATH LUA_PATH LUA_CPATH

T=$(mktemp -d "${TMPDIR:-/tmp}/ovrel-install.XXXXXX")
trap 'rm -rf "$T"' EXIT
P=$T/prefix
failures=0

# check WHAT WANT GOT
check() {
  if [[ $3 == "$2" ]]; then
    echo "ok   $1"
  else
    printf 'FAIL %s\n     expected %q\n     got      %q\n' "$1" "$2" "$3"
    failures=$((failures + 1))
  fi
}

cmake -S "$SOURCE" -B "$T/build" -DOVREL_TESTS=OFF -DCMAKE_INSTALL_PREFIX="$P" >/dev/null
cmake --build "$T/build" -j2 >/dev/null
cmake --install "$T/build" >/dev/null

needed() { readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' '; }
check "the runtime leaves the engine to the process" "libc.so.6 " "$(needed "$P/lib/libovrel.so.1")"
check "the module needs the runtime, not the engine" "" \
  "$(needed "$P/lib/lua/5.1/numhash.so" | grep -o 'liblua[^ ]*' || true)"

mkdir "$T/elsewhere" "$T/apps"
got=$(cd "$T/elsewhere" && LUA_CPATH="$P/lib/lua/5.1/?.so" "$LUA" -e '
  local m = require("numhash").new()
  m[2.5] = "x"
  io.write(tostring(m), " ", m[2.5])' 2>&1) || true
check "require finds the module and its runtime" "numhash(1) x" "$got"

cat > "$T/apps/count.lua" <<'LUA'
package.cpath = (...) .. "/?.so"
local m = require("numhash").new()
for i = 1, 100 do m[i] = tostring(i) end
io.write(#m, " ", m[77], " ", args[0]:match("[^/]*$"), "\n")
LUA
"$P/bin/ovrelglue" "$T/apps/count.lua" -o "$T/apps/count" >/dev/null
got=$(cd "$T/elsewhere" && ../apps/count "$P/lib/lua/5.1" 2>&1) || true
check "a program glued by the installed tool runs from another folder" "100 77 count" "$got"

cmake -S "$SOURCE/tests/install/thirdparty" -B "$T/greet" -DCMAKE_PREFIX_PATH="$P" >/dev/null
cmake --build "$T/greet" >/dev/null
export PKG_CONFIG_PATH=$P/lib/pkgconfig
mkdir "$T/pc"
# shellcheck disable=SC2046  # the flags are separate words
"${CXX:-c++}" -std=c++20 -shared -fPIC -fvisibility=hidden -o "$T/pc/greet.so" \
  "$SOURCE/tests/install/thirdparty/greet.cpp" $(pkg-config --cflags --libs ovrel) \
  -Wl,-rpath,"$(pkg-config --variable=libdir ovrel)"
for dir in "$T/greet" "$T/pc"; do
  got=$(cd "$T/elsewhere" && LUA_CPATH="$dir/?.so" "$LUA" -e 'io.write(require("greet").hello("you"))' 2>&1) || true
  check "a third party's module built in ${dir##*/}/ loads" "hello, you (16)" "$got"
done

((failures == 0)) || { echo "$failures failed"; exit 1; }
