# prefix.sh, sourced by the install tests: BUILD installed into the prefix
# P inside a temporary folder T (removed at exit), with nothing of the
# environment's module or library paths, and check.
unset LD_LIBRARY_PATH LUA_PATH LUA_CPATH
T=$(mktemp -d "${TMPDIR:-/tmp}/ovrel-install.XXXXXX")
trap 'rm -rf "$T"' EXIT
P=$T/prefix
failures=0

# check WHAT WANT GOT
check() {
  [[ $3 == "$2" ]] && { echo "ok   $1"; return; }
  printf 'FAIL %s\n     expected %q\n     got      %q\n' "$1" "$2" "$3"
  failures=$((failures + 1))
}

cmake --install "$BUILD" --prefix "$P" >/dev/null
