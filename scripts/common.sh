# common.sh: what the project's scripts share.  Sourced, not run; defines
# functions only, so the Wine wrapper of a Windows build may source it too.

# as_root COMMAND...: runs COMMAND as root, through sudo unless root already.
as_root() {
  if ((EUID == 0)); then "$@"; else sudo "$@"; fi
}

# project_version: the release version, from its one place in CMakeLists.txt.
project_version() {
  sed -n 's/^project(ovrel VERSION \([0-9.]*\).*/\1/p' "$(dirname "${BASH_SOURCE[0]}")/../CMakeLists.txt"
}

# skipped WHAT: says loudly that WHAT did not run, here and again in the
# closing summary of test.sh (through the file OVREL_SKIPPED names).  A
# skip must never read as a pass.
skipped() {
  printf '\n*** SKIPPED: %s ***\n\n' "$*"
  if [[ -n ${OVREL_SKIPPED:-} ]]; then printf 'SKIPPED: %s\n' "$*" >> "$OVREL_SKIPPED"; fi
}

# archive_sources TYPES SUITES: a source list (deb822) of the SUITES of the
# machine's Debian archive, found in its source list of either format; the
# security suite's address is never taken.
archive_sources() {
  local uri
  uri=$(awk '/^URIs:/ && !/security/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
  [[ -n $uri ]] || uri=$(awk '/^deb / && !/security/ {
      for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) {print $i; exit} }' /etc/apt/sources.list 2>/dev/null || true)
  printf 'Types: %s\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: %s\n' \
    "$1" "${uri:-http://deb.debian.org/debian}" "$2" /usr/share/keyrings/debian-archive-keyring.gpg
}

# debian_codename: the release's name, bookworm on Debian 12.
debian_codename() {
  (. /etc/os-release && echo "$VERSION_CODENAME")
}

# apt_aside DIR: sets apt_opts, the options under which apt-get reads its
# sources from DIR/*.sources alone and keeps their index in DIR, so that the
# machine's own lists are left as they were found.
apt_aside() {
  mkdir -p "$1/lists/partial"
  apt_opts=(-o Dir::Etc::SourceParts="$1" -o Dir::Etc::SourceList=/dev/null
            -o Dir::State::Lists="$1/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=)
}

# pack BUILD_DIR: the packages of a configured build, in BUILD_DIR/packages;
# CPack's log is shown only when it fails.
pack() {
  rm -rf "$1/packages"
  cpack --config "$1/CPackConfig.cmake" -B "$1/packages" > "$1/cpack.log" 2>&1 ||
    { cat "$1/cpack.log" >&2; return 1; }
}

# win_build ARCH: the build folder of the Windows target ARCH (i686, the
# reference, or x86_64); OVREL_WIN_BUILD and OVREL_WIN64_BUILD name others.
win_build() {
  if [[ $1 == x86_64 ]]; then echo "${OVREL_WIN64_BUILD:-build-win64}"; else echo "${OVREL_WIN_BUILD:-build-win}"; fi
}

# wine_env PREFIX ARCH: the settings every Windows program of a build runs
# with, WINELOADER the Wine loader for ARCH's programs.  Debian's
# /usr/bin/wine takes the 32-bit loader whenever it is installed, so 64-bit
# programs are handed to the 64-bit one directly.  Wine's debug output
# would mix with the programs' own standard error, which tests read; no
# Mono or Gecko is wanted when the prefix is made.
wine_env() {
  export WINEPREFIX=$1
  if [[ $2 == x86_64 ]]; then
    export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
  else
    export WINEARCH=win32 WINELOADER=/usr/lib/wine/wine
  fi
  export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
}

# wine_start ARCH: the settings, the prefix and one server for a whole run
# of ARCH's build; wine_stop ends them.  `wine` then names ARCH's loader.
wine_start() {
  wine_env "$PWD/$(win_build "$1")/wineprefix" "$1"
  wine() { "$WINELOADER" "$@"; }
  # The prefix is made once per build folder (about 600 MB); then one
  # server serves the whole run, where each program would otherwise wait
  # for a new one.
  if [[ ! -d $WINEPREFIX ]]; then
    wine wineboot --init
    wineserver -w
  fi
  wineserver -p || true  # already running is fine
  # Wine's background services start with the first program and keep its
  # output streams open; started here, they hold no test's output open.
  wine cmd /c exit </dev/null >/dev/null 2>&1
}

wine_stop() {
  wineserver -k 2>/dev/null || true
}
