# harness.sh: what the launcher tests share.  Sourced, not run.
#
# Every difference between platforms lives in this file: the suffix of
# programs, the program that runs them (an emulator for a cross build), the
# runtime files a program needs beside it, how a program is started under a
# chosen name, and the line ends of what it prints.  The cases themselves
# are the same everywhere.
#
# From the environment (CTest sets them):
#   LAUNCHER      the bare launcher          GLUE  the glue tool
#   DEFAULT_LAUNCHER  the launcher the glue tool takes when none is named
#   RUNTIME_LIBS  files a program needs beside it, separated by "|"
#   EXE           suffix of programs ("" or ".exe")
#   RUN           runs a program of the target ("" natively, e.g. wine)
#   NOARGV        starts a program without argv[0] (POSIX only)
#   RUNAS         starts a program under a chosen name (Windows only)

set -u
: "${LAUNCHER:?}" "${GLUE:?}" "${RUNTIME_LIBS:?}" "${DEFAULT_LAUNCHER:?}"
EXE=${EXE-}
RUN=${RUN-}
# A list would split into separate words and run bash itself under the
# emulator, losing every exit status: refuse it rather than pass vacuously.
if [[ $RUN == *';'* ]]; then
  echo "harness: RUN must be a single program, got '$RUN'" >&2
  exit 2
fi
NOARGV=${NOARGV-}
RUNAS=${RUNAS-}

# Reasons whose wording is the platform's own: Windows cannot open a folder
# as a file at all.
if [[ -n $RUNAS ]]; then
  ISDIR="Permission denied"
else
  ISDIR="Is a directory"
fi

# What --show adds for a program that carries no bundle.
PLAINSHOW=$'modules: the launcher\'s paths, not sealed\n'

# T: the folder the cases work in; R: where a run's output is kept.
T=$(mktemp -d "${TMPDIR:-/tmp}/ovrelrun-test.XXXXXX")
T=$(cd "$T" && pwd -P)  # the launcher reports physical paths
R=$(mktemp -d "${TMPDIR:-/tmp}/ovrelrun-out.XXXXXX")
trap 'rm -rf "$T" "$R"' EXIT

failures=0
checks=0

# Copies the runtime files into folder $1, as a shipped program has them.
stage() {
  local IFS='|' lib
  for lib in $RUNTIME_LIBS; do cp "$lib" "$1/"; done
}
stage "$T"

native() { [[ -z $RUN && -z $EXE ]]; }

# le32 N: N as 4 bytes, signed 32-bit little-endian.
le32() {
  local v=$(( $1 & 0xffffffff )) i
  for i in 0 8 16 24; do printf "\\x$(printf %02x $(( (v >> i) & 255 )))"; done
}

# trailer SIZE1 SIZE2: the 16-byte record.
trailer() { printf '%%%%srglue'; le32 "$1"; le32 "$2"; }

# mkprog FILE SCRIPT [SIZE1 [SIZE2]]: FILE is the launcher, SCRIPT and a
# trailer; the sizes default to the right ones.
mkprog() {
  local file=$1 script=$2
  local image script_len
  image=$(wc -c < "$LAUNCHER") script_len=$(wc -c < "$script")
  { cat "$LAUNCHER" "$script"; trailer "${3:-$image}" "${4:-$script_len}"; } > "$file"
  chmod +x "$file"
}

# progfile FILE TEXT: the program FILE running the script TEXT (bytes as
# printf %b reads them), which is kept in FILE.lua.
progfile() {
  printf '%b' "$2" > "$1.lua"
  mkprog "$1" "$1.lua"
}

# prog NAME TEXT: the same as $T/NAME$EXE.
prog() { progfile "$T/$1$EXE" "$2"; }

# hostpath PATH: the absolute PATH as programs of the target name it (Wine
# shows the Unix root as drive Z:).
hostpath() {
  if [[ -n $RUNAS ]]; then printf 'Z:%s' "${1//\//\\}"; else printf '%s' "$1"; fi
}

# unhost: what a program printed, with Unix line ends and its paths in the
# Unix form that the cases expect.
unhost() {
  if [[ -n $RUNAS ]]; then
    tr -d '\r' | sed -E -e ':a' -e 's#(Z:[^ :\\]*)\\#\1/#' -e 'ta' -e 's#Z:/#/#g'
  else
    tr -d '\r'
  fi
}

# run DIR ARGV0 FILE [ARGS...]: runs FILE in folder DIR with the program
# name ARGV0; sets status, out and err.  What the program prints is read
# with Unix line ends.
run() {
  local dir=$1 argv0=$2 file=$3
  shift 3
  if [[ -n $RUNAS ]]; then
    ( cd "$dir" && exec $RUN "$RUNAS" "$(hostpath "$file")" "$argv0" "$@" ) > "$R/out" 2> "$R/err"
  else
    ( cd "$dir" && exec -a "$argv0" $RUN "$file" "$@" ) > "$R/out" 2> "$R/err"
  fi
  capture $?
}

# noproc DIR ARGV0 FILE [ARGS...]: as run, natively, with no /proc (a
# tmpfs over it in a mount namespace of its own), where the launcher finds
# its file from its name.  The loader cannot expand $ORIGIN there either:
# the libraries come from FILE's folder through LD_LIBRARY_PATH.
noproc() {
  local dir=$1 argv0=$2 file=$3
  shift 3
  ( cd "$dir" && export LD_LIBRARY_PATH=${file%/*} && unshared bash -c \
      "$HIDEPROC"' && exec -a "$0" "$@"' "$argv0" "$file" "$@" ) > "$R/out" 2> "$R/err"
  capture $?
}

# unshared COMMAND...: COMMAND in a mount namespace of its own.  Root needs
# no user namespace, which a chroot refuses; HIDEPROC makes its mounts
# private before it covers /proc, so nothing reaches the parent's.
unshared() {
  if ((EUID == 0)); then unshare -m --propagation unchanged "$@"; else unshare -rm "$@"; fi
}
HIDEPROC='{ mount --make-rprivate / 2> /dev/null || mount --make-private /proc; } && mount -t tmpfs none /proc'

# hidesproc: noproc works here; it needs a mount namespace, and no
# sanitizer, whose runtime reads /proc.
hidesproc() {
  [[ ${SANITIZED:-0} != 1 ]] && unshared sh -c "$HIDEPROC"' && ! test -e /proc/self' 2> /dev/null
}

# withpath DIR[:DIR...] COMMAND...: runs COMMAND with those folders at the
# head of the search path that programs of the target see.
withpath() {
  local dirs=$1
  shift
  if [[ -n $RUNAS ]]; then
    local d winepath=
    local IFS=:
    for d in $dirs; do winepath+="$(hostpath "$d");"; done
    unset IFS
    WINEPATH=$winepath "$@"
  else
    PATH="$dirs:$PATH" "$@"
  fi
}

# capture STATUS: takes the status and what was written to $R/out and
# $R/err, with Unix line ends.
capture() {
  status=$1
  out=$(unhost < "$R/out"; printf x) out=${out%x}
  err=$(unhost < "$R/err"; printf x) err=${err%x}
}

# runp NAME [ARGS...]: runs $T/NAME$EXE from $T as "./NAME$EXE"; P is
# the program name the reports start with.
runp() {
  local name=$1
  shift
  P="./$name$EXE"
  run "$T" "$P" "$T/$name$EXE" "$@"
}

show() { printf '%q' "$1"; }

# expect WHAT STATUS STDOUT STDERR: the last run ended so.  STDERR is the
# report without the newline that ends it; "" when nothing is written.
expect() {
  checks=$((checks + 1))
  local nl=$'\n'
  set -- "$1" "$2" "$3" "${4:+$4$nl}"
  if [[ $status == "$2" && $out == "$3" && $err == "$4" ]]; then
    echo "ok   $1"
  else
    failures=$((failures + 1))
    echo "FAIL $1"
    [[ $status == "$2" ]] || echo "     status: expected $2, got $status"
    [[ $out == "$3" ]] || printf '     stdout: expected %s\n             got      %s\n' "$(show "$3")" "$(show "$out")"
    [[ $err == "$4" ]] || printf '     stderr: expected %s\n             got      %s\n' "$(show "$4")" "$(show "$err")"
  fi
}

# ends NAME STATUS STDOUT REPORT WHAT [ARGS...]: runp NAME ARGS, then
# expect WHAT: STATUS, STDOUT, and the report "$P: REPORT" ("" for none).
# STDOUT and REPORT are read as printf %b reads them, as scripts are: "\n"
# is a line end.
ends() {
  local name=$1 want=$2 stdout report what=$5
  printf -v stdout '%b' "$3"
  printf -v report '%b' "$4"
  shift 5
  runp "$name" "$@"
  expect "$what" "$want" "$stdout" "${report:+$P: $report}"
}

# case_ NAME SCRIPT STATUS STDOUT REPORT WHAT [ARGS...]: one case as one
# row: prog NAME SCRIPT, then ends NAME with the rest.
case_() {
  prog "$1" "$2"
  ends "$1" "${@:3}"
}

# truth WHAT COMMAND...: the command succeeds.
truth() {
  local what=$1
  shift
  checks=$((checks + 1))
  if "$@"; then
    echo "ok   $what"
  else
    failures=$((failures + 1))
    echo "FAIL $what"
  fi
}

# travelled SUMMARY OUT: the tool's summary for the program OUT, ending with
# the line that names what its launcher needs beside it: on Windows the
# runtime library ovrel.dll, elsewhere nothing (the standalone launcher).
travelled() {
  printf '%s' "$1"
  native && return
  [[ -n $1 ]] && printf '\n'
  printf 'ovrelglue: %s: needs beside it where it runs (--with-deps copies them): ovrel.dll' "$2"
}

# The traceback that the runtime adds to an error raised in the main chunk.
trace_main() {
  printf '%s' $'\nstack traceback:\n\t[C]: in function \'error\'\n\t:'"$1"$': in main chunk\n\t[C]: ?'
}

done_cases() {
  echo "$checks checks, $failures failed"
  (( checks > 0 && failures == 0 ))
}
