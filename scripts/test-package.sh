#!/usr/bin/env bash
# test-package.sh: the packaged routes, as a user takes them.
#
# The Debian package is built by scripts/package.sh and its file list,
# version, dependencies and run-paths checked (installing it is left to
# the user: this stage leaves the machine's packages alone).  Then a clone
# of the repository is installed with `luarocks make` into a tree of its
# own, and the module and a glued program are used from that tree; then
# with `luarocks --lua-version=5.4 make`, and the module used by lua5.4.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

scripts/setup.sh dpkg-dev file luarocks git lua5.4 liblua5.4-dev
scripts/package.sh >/dev/null
deb=$(ls out/ovrel_*.deb)
version=$(project_version)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
lib=/usr/lib/$multiarch
T=$(mktemp -d "${TMPDIR:-/tmp}/ovrel-package.XXXXXX")
trap 'rm -rf "$T"' EXIT
failures=0
fail() { echo "package: FAIL $*"; failures=$((failures + 1)); }

files=$(dpkg-deb -c "$deb" | awk '{print substr($6, 2)}')
engines=(5.2 5.3 5.4)
for f in /usr/bin/ovrelrun /usr/bin/ovrelrun-standalone /usr/bin/ovrelglue $lib/libovrel.so.1 $lib/lua/5.1/numhash.so $lib/lua/5.1/ovrel/app.so \
         /usr/include/ovrel/ovrel.h /usr/include/ovrel/srglue.h $lib/pkgconfig/ovrel.pc $lib/pkgconfig/ovrel-5.1.pc \
         $lib/cmake/ovrel/ovrelConfig.cmake; do
  grep -qx "$f" <<<"$files" || fail "$deb holds no $f"
done
for e in "${engines[@]}"; do
  for f in $lib/libovrel-$e.so.1 $lib/lua/$e/numhash.so $lib/pkgconfig/ovrel-$e.pc $lib/cmake/ovrel-$e/ovrel-${e}Config.cmake; do
    grep -qx "$f" <<<"$files" || fail "$deb holds no $f"
  done
done
[[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "$deb: version is not $version"
[[ $(dpkg-deb -f "$deb" Depends) == *liblua5.1-0* ]] || fail "$deb: no dependency on liblua5.1-0"
# Run-paths only relative to each file, so that a program and the files it
# needs can be shipped as one folder; the runtime and the module take the
# engine from the process.
dpkg-deb -x "$deb" "$T/root"
tests/install/runpaths.sh "$T/root" >/dev/null || fail "$deb: a run-path is not relative to its file"
for f in "$T/root$lib"/libovrel*.so.1 "$T/root$lib"/lua/5.*/numhash.so; do
  readelf -d "$f" | grep -q 'NEEDED.*liblua' && fail "${f#"$T/root"} links the engine"
done
echo "package: $deb: files, version, dependencies and run-paths checked"

git clone -q . "$T/src"
if (cd "$T/src" && luarocks make --tree "$T/tree") > "$T/rock.log" 2>&1; then
  eval "$(luarocks path --tree "$T/tree")"
  mkdir "$T/elsewhere"
  got=$(cd "$T/elsewhere" && lua5.1 -e 'io.write(tostring(require("numhash").new()))' 2>&1) || true
  [[ $got == "numhash(0)" ]] || fail "require from the LuaRocks tree gave: $got"
  printf '%s\n' 'io.write(#require("numhash").new(), " ", args[1], "\n")' > "$T/one.lua"
  "$T/tree/bin/ovrelglue" "$T/one.lua" -o "$T/one" --system-modules 2>/dev/null
  got=$(cd "$T/elsewhere" && ../one x 2>&1) || true
  [[ $got == "0 x" ]] || fail "a program glued from the LuaRocks tree, finding the module there, gave: $got"
  readelf -d "$T/one" | grep -q 'NEEDED.*lib\(lua\|ovrel\)' && fail "the LuaRocks tool's program is not standalone"
  # The tool finds the tree's module by itself, with no path set.
  mkdir "$T/shipped" "$T/sealed"
  env -u LUA_PATH -u LUA_CPATH "$T/tree/bin/ovrelglue" --with-deps "$T/one.lua" -o "$T/sealed/one" 2>/dev/null
  got=$(cd "$T/elsewhere" && env -u LUA_CPATH ../sealed/one z 2>&1) || true
  [[ $got == "0 z" ]] || fail "a program from the LuaRocks tree, shipped with its files, gave: $got"
  env -u LUA_PATH -u LUA_CPATH "$T/tree/bin/ovrelglue" --launcher "$T/tree/bin/ovrelrun" --with-deps \
    "$T/one.lua" -o "$T/shipped/one" 2>/dev/null
  got=$(cd "$T/elsewhere" && env -u LUA_CPATH ../shipped/one y 2>&1) || true
  [[ $got == "0 y" ]] || fail "a program on the LuaRocks shared launcher, shipped with its files, gave: $got"
  echo "package: luarocks make: the module and the glue tool work from the tree"
else
  cat "$T/rock.log"
  fail "luarocks make failed"
fi
git clone -q . "$T/src54"  # a build folder of its own
if (cd "$T/src54" && luarocks --lua-version=5.4 make --tree "$T/tree54") > "$T/rock54.log" 2>&1; then
  got=$(cd "$T/elsewhere" && eval "$(luarocks --lua-version=5.4 path --tree "$T/tree54")" &&
        lua5.4 -e 'local m = require("numhash").new(); m[1] = "x"; io.write(tostring(m), " ", m[1])' 2>&1) || true
  [[ $got == "numhash(1) x" ]] || fail "require from the LuaRocks tree of 5.4 gave: $got"
  echo "package: luarocks --lua-version=5.4 make: the module works from the tree"
else
  cat "$T/rock54.log"
  fail "luarocks --lua-version=5.4 make failed"
fi
((failures == 0))
