# windows-wine.sh: Wine for the programs of a Windows build.  Sourced by
# test-windows.sh and windows-release.sh, not run.
#
#   wine_start BUILD_DIR    settings, prefix and server; wine_stop ends them

# The same prefix and settings as the wrapper BUILD_DIR/wine-run that CTest
# runs each test program with.
wine_start() {
  export WINEPREFIX=$PWD/$1/wineprefix WINEARCH=win32
  export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=mscoree,mshtml=
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
