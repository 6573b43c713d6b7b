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

# pack BUILD_DIR: the packages of a configured build, in BUILD_DIR/packages;
# CPack's log is shown only when it fails.
pack() {
  rm -rf "$1/packages"
  cpack --config "$1/CPackConfig.cmake" -B "$1/packages" > "$1/cpack.log" 2>&1 ||
    { cat "$1/cpack.log" >&2; return 1; }
}

# wine_env PREFIX: the settings every Windows program of a build runs with.
# Wine's debug output would mix with the programs' own standard error,
# which tests read; no Mono or Gecko is wanted when the prefix is made.
wine_env() {
  export WINEPREFIX=$1 WINEARCH=win32
  export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
}

# wine_start BUILD_DIR: the settings, the prefix and one server for a whole
# run; wine_stop ends them.
wine_start() {
  wine_env "$PWD/$1/wineprefix"
  # The prefix is made once per build folder (about 600 MB); then one
  # server serves the whole run, where each program would otherwise wait
  # for a new one.
  if [[ ! -d $WINEPREFIX ]]; then
    wineboot --init
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
