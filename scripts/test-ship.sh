#!/usr/bin/env bash
# test-ship.sh: programs shipped as a user ships them, run where a user runs
# them.  Each is glued with --with-deps from real Debian modules, run on
# this machine from another folder, then copied alone into a fresh minimal
# Debian root (no Lua, no compiler) and run there: the two outputs must be
# the same.  Last, the Debian package is installed in that root with every
# engine's interpreter, and each runs one script with the same output.
# Needs root (chroot, debootstrap) and the Debian archive; where either is
# missing, the stage says it did not run.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

if ((EUID != 0)) && ! sudo -n true 2>/dev/null; then
  skipped "ship: programs in a fresh root (needs root for chroot)"
  exit 0
fi
scripts/setup.sh debootstrap lua-posix lua-expat lua-penlight lua-filesystem lua-sec lua-lpeg lua-check
[[ -x build/bin/ovrelglue ]] || { cmake --preset native >/dev/null && cmake --build build -j"$(nproc)"; }
glue=$PWD/build/bin/ovrelglue

T=$(mktemp -d "${TMPDIR:-/tmp}/ovrel-ship.XXXXXX")
root=$T/root
cleanup() {
  mountpoint -q "$root/proc" 2>/dev/null && as_root umount -l "$root/proc"
  as_root rm -rf "$T"
}
trap cleanup EXIT
failures=0
fail() { echo "ship: FAIL $*"; failures=$((failures + 1)); }

# The fresh root, laid once per machine and kept as a tarball.
cache=${TMPDIR:-/tmp}/ovrel-$(debian_codename)-minbase.tar
if [[ ! -f $cache ]]; then
  uri=$(archive_sources deb x | awk '/^URIs:/ {print $2}')
  if ! as_root debootstrap --variant=minbase "$(debian_codename)" "$T/boot" "$uri" > "$T/boot.log" 2>&1; then
    tail -3 "$T/boot.log"
    skipped "ship: programs in a fresh root (debootstrap could not lay one)"
    exit 0
  fi
  as_root tar -C "$T/boot" -cf "$cache" . && as_root rm -rf "$T/boot"
fi
mkdir "$root" && as_root tar -C "$root" -xf "$cache"
as_root mount -t proc proc "$root/proc"
[[ -z $(ls "$root"/usr/lib/*/liblua* 2>/dev/null) ]] || fail "the fresh root has an engine library"

# run NAME OUT ARGS...: the program NAME, shipped in $T/NAME, started
# through PATH from another folder, where a data.txt is planted, here and
# in the root; each output, then its status, with the program's folder
# written as DIR, into OUT.here and OUT.there.
mkdir "$T/planted" && echo PLANTED | tee "$T/planted/data.txt" | as_root tee "$root/tmp/data.txt" >/dev/null
run() {
  local name=$1 out=$2
  shift 2
  local status
  { (cd "$T/planted" && PATH="$T/$name:$PATH" "$name" "$@") 2>&1 && status=0 || status=$?
    echo "status $status"; } | sed "s|$T/$name|DIR|g" > "$out.here"
  as_root cp -r "$T/$name" "$root/opt/"
  { as_root chroot "$root" /bin/sh -c 'cd /tmp && PATH="/opt/$0:$PATH" exec "$0" "$@"' "$name" "$@" 2>&1 &&
      status=0 || status=$?
    echo "status $status"; } | sed "s|/opt/$name|DIR|g" > "$out.there"
}

# Native modules of every kind: several in one file, one loading a system
# library, one taken through _G.pcall(_G.require, ...), one linked to the
# engine's library; and data the program carries.  Shipped as a folder
# (--with-deps), then as one file (--onefile) that loads them from memory.
mkdir "$T/src" "$T/native" "$T/one"
cp tests/ship/native.lua "$T/src/"
echo carried > "$T/src/data.txt"
cc -shared -fPIC $(pkg-config --cflags lua5.1) -o "$T/src/linked.so" tests/ship/linked.c -llua5.1
expected=$'true\ta b c\ttrue\ty.txt\tfunction\tone\tlinked\tengine libraries mapped: 0\nabc\tcarried\n\tfrom memory: '
for name in native one; do
  option=--with-deps memory=false
  [[ $name == one ]] && option=--onefile memory=true
  "$glue" "$T/src/native.lua" -o "$T/$name/$name" $option --include "$T/src/data.txt" 2> "$T/$name.log" ||
    { cat "$T/$name.log"; fail "$name: not glued"; }
  run "$name" "$T/$name.out"
  [[ $(cat "$T/$name.out.here") == "$expected$memory"$'\nstatus 0' ]] || fail "$name here: $(cat "$T/$name.out.here")"
  cmp -s "$T/$name.out.here" "$T/$name.out.there" || fail "$name there: $(diff "$T/$name.out.here" "$T/$name.out.there")"
done
[[ $(ls "$root/opt/one") == one ]] || fail "one: more than one file shipped: $(ls "$root/opt/one")"

# luacheck without -m: its summary names the requires by a computed name,
# and it fails the same way in both places.
mkdir "$T/luacheck"
"$glue" /usr/bin/luacheck -o "$T/luacheck/luacheck" --with-deps 2> "$T/luacheck.log"
grep -q 'requires by a computed name' "$T/luacheck.log" || fail "luacheck: no computed requires named: $(cat "$T/luacheck.log")"
run luacheck "$T/luacheck.out" --version
grep -q "module 'luacheck\.[a-z.]*' not found" "$T/luacheck.out.here" || fail "luacheck here: $(head -3 "$T/luacheck.out.here")"
cmp -s "$T/luacheck.out.here" "$T/luacheck.out.there" || fail "luacheck there: $(head -3 "$T/luacheck.out.there")"
# With -m it is whole.
as_root rm -rf "$T/luacheck" "$root/opt/luacheck"
mkdir "$T/luacheck"
"$glue" /usr/bin/luacheck -m 'luacheck.*' -o "$T/luacheck/luacheck" --with-deps 2>/dev/null
run luacheck "$T/luacheck.out" --version
[[ $(head -1 "$T/luacheck.out.here") == "Luacheck: "* ]] || fail "luacheck -m here: $(head -3 "$T/luacheck.out.here")"
cmp -s "$T/luacheck.out.here" "$T/luacheck.out.there" || fail "luacheck -m there: $(head -3 "$T/luacheck.out.there")"

# The package as a user installs it, with lua5.1 to lua5.4 and LuaJIT.
deb=$(ls out/ovrel_*.deb 2>/dev/null || true)
[[ -n $deb ]] || deb=$(scripts/package.sh | tail -1)
interpreters=(lua5.1 lua5.2 lua5.3 lua5.4 luajit)
as_root cp /etc/resolv.conf "$root/etc/resolv.conf"
as_root cp "$deb" "$root/tmp/ovrel.deb"
as_root cp tests/ship/engines.lua "$root/tmp/"
if as_root chroot "$root" /bin/sh -c "apt-get update -qq && DEBIAN_FRONTEND=noninteractive \
     apt-get install -y -qq --no-install-recommends ${interpreters[*]} /tmp/ovrel.deb" > "$T/apt.log" 2>&1; then
  as_root chroot "$root" lua5.1 /tmp/engines.lua > "$T/engines.lua5.1" 2>&1 || true
  grep -q '^numhash(40) 40 v1 v40 true false$' "$T/engines.lua5.1" || fail "lua5.1 and the package: $(head -3 "$T/engines.lua5.1")"
  for lua in "${interpreters[@]:1}"; do
    as_root chroot "$root" "$lua" /tmp/engines.lua > "$T/engines.$lua" 2>&1 || true
    cmp -s "$T/engines.lua5.1" "$T/engines.$lua" || fail "$lua and the package: $(diff "$T/engines.lua5.1" "$T/engines.$lua")"
  done
else
  tail -3 "$T/apt.log"
  skipped "ship: the package under every engine (apt could not install it in the fresh root)"
fi

((failures == 0)) && echo "ship: native modules (in a folder and in one file), data and luacheck run alike here and in a fresh root;" \
  "the package gives ${interpreters[*]} the same results there"
((failures == 0))
