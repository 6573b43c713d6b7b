#!/usr/bin/env bash
# engine_test.sh: a build for an engine after 5.1 (ENGINE, say 5.4),
# installed into a prefix and used as a user would: require from the
# engine's own module folder, a third party's module built through
# ovrel-ENGINE.pc and find_package(ovrel-ENGINE), and the module refused
# by other engines' interpreters (OTHER, space-separated) before any of it
# runs.
#
# From the environment: SOURCE, BUILD, LUA (the engine's interpreter),
# ENGINE, OTHER and CXX.
set -euo pipefail
: "${SOURCE:?}" "${BUILD:?}" "${LUA:?}" "${ENGINE:?}" "${OTHER:?}" "${CXX:?}"
source "$(dirname "$0")/prefix.sh"
module=$P/lib/lua/$ENGINE/numhash.so runtime=$P/lib/libovrel-$ENGINE.so.1
check "the module and the runtime install under the engine's names" "ok" \
  "$([[ -f $module && -f $runtime && ! -e $P/lib/libovrel.so.1 ]] && echo ok)"
# (lua_setmetatabletoobject is the runtime's own)
check "every engine function is a weak reference" "" \
  "$(nm -D --undefined-only "$module" "$runtime" | awk '$1 == "U" && $2 ~ /^lua/ {print $2}' |
     grep -vxF "$(nm -D --defined-only "$runtime" | awk '{print $3}')")"

got=$(LUA_CPATH="$P/lib/lua/$ENGINE/?.so" "$LUA" -e '
  local m = require("numhash").new(); m[2] = "x"; m[0.5] = "y"
  local keys = {}
  for k in pairs(m) do keys[#keys + 1] = tostring(k) end
  table.sort(keys)
  io.write(tostring(m), " ", m[2], " ", table.concat(keys, ","))' 2>&1) || true
check "require finds the module and its runtime; pairs walks the map" "numhash(2) x 0.5,2" "$got"

greet='io.write(require("greet").hello("you"))'
read -ra flags <<<"$(PKG_CONFIG_PATH=$P/lib/pkgconfig pkg-config --cflags --libs "ovrel-$ENGINE")"
"$CXX" -shared -fPIC -o "$T/greet.so" "$SOURCE/tests/install/thirdparty/greet.cpp" "${flags[@]}"
got=$(LD_LIBRARY_PATH=$P/lib LUA_CPATH="$T/?.so" "$LUA" -e "$greet" 2>&1) || true
check "a third party's module built through ovrel-$ENGINE.pc loads" "hello, you (16)" "$got"
cmake -S "$SOURCE/tests/install/thirdparty" -B "$T/greet" -DCMAKE_PREFIX_PATH="$P" \
  -DPACKAGE="ovrel-$ENGINE" >/dev/null
cmake --build "$T/greet" >/dev/null
got=$(LUA_CPATH="$T/greet/?.so" "$LUA" -e "$greet" 2>&1) || true
check "and one built through find_package(ovrel-$ENGINE)" "hello, you (16)" "$got"

for other in $OTHER; do
  LUA_CPATH="$P/lib/lua/$ENGINE/?.so" "$other" "$(dirname "$0")/refused.lua" "Lua $ENGINE" ||
    failures=$((failures + 1))
done

((failures == 0))
