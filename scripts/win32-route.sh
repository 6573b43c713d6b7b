# win32-route.sh: how 32-bit programs run on this machine, for the 32-bit
# Windows target's Wine.  Sourced after common.sh, not run.
#
# Wine runs 32-bit Windows programs through its 32-bit Linux loader, and some
# kernels run no 32-bit code at all (WSL 1, kernels without ia32 emulation,
# some virtual machines).  win32_route finds the route once:
#   native    the kernel runs 32-bit programs;
#   emulated  it does not, but QEMU's user-mode emulator runs them, handed
#             every 32-bit program by a binfmt_misc entry that lives in a
#             private user and mount namespace (Linux 6.7 or later), so the
#             machine itself is left as it was;
#   skip      neither: WIN32_WHY says why.
# OVREL_WIN32_ROUTE=emulated or =skip takes that route without asking the
# kernel, to try the slower routes on any machine.  on_each_target runs a
# command for both Windows targets, the 32-bit one on the route found.

# The smallest i386 program, 96 bytes: a static ELF whose one instruction
# sequence is exit(42).  Any other outcome means 32-bit code does not run.
probe_i386() {
  local probe status
  probe=$(mktemp "${TMPDIR:-/tmp}/ovrel-probe32.XXXXXX")
  printf '%b' '\x7fELF\x01\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x03\0\x01\0\0\0\x54\x80\x04\x08\x34\0\0\0' \
    '\0\0\0\0\0\0\0\0\x34\0\x20\0\x01\0\0\0\0\0\0\0' \
    '\x01\0\0\0\0\0\0\0\0\x80\x04\x08\0\x80\x04\x08\x60\0\0\0\x60\0\0\0\x05\0\0\0\0\x10\0\0' \
    '\xb8\x01\0\0\0\xbb\x2a\0\0\0\xcd\x80' > "$probe"
  chmod +x "$probe"
  probe_said=$("$probe" 2>&1) && status=0 || status=$?
  rm -f "$probe"
  probe_said=${probe_said##*: }
  [[ $status == 42 ]] || { probe_said=${probe_said:-exit status $status}; return 1; }
}

# The i386 entry of QEMU's own binfmt list: ELF executables and shared
# objects for the 386.  F opens the emulator now, so that programs in any
# root find it.
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
qemu_i386=/usr/bin/qemu-i386

# in_emulation CMD...: CMD in a private namespace where every 32-bit program
# runs under qemu-i386.
in_emulation() {
  unshare --user --map-root-user --mount "$BASH" -c '
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || exit 90
    printf "%s" ":ovrel-i386:M::$1:$2:$3:F" > /proc/sys/fs/binfmt_misc/register || exit 91
    shift 3
    exec "$@"' emulated "$i386_magic" "$i386_mask" "$qemu_i386" "$@"
}

# Bookworm's QEMU 7.2 hangs under Wine; 9 and later run it.  A release
# whose own QEMU is older takes it from its backports suite, through a source
# list of its own for this one install.
install_qemu() {
  local have candidate
  have=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null || true)
  [[ -n $have ]] && dpkg --compare-versions "$have" ge 1:9 && [[ -x $qemu_i386 ]] && return
  candidate=$(apt-cache policy qemu-user 2>/dev/null | awk '/Candidate:/ {print $2}')
  if [[ $candidate == 1:* ]] && dpkg --compare-versions "$candidate" ge 1:9; then
    scripts/setup.sh qemu-user
    return
  fi
  local suite dir rc=0
  suite=$(debian_codename)-backports
  dir=$(mktemp -d)
  chmod 755 "$dir"
  archive_sources deb "$suite" > "$dir/backports.sources"
  apt_aside "$dir"
  echo "windows: installing qemu-user from $suite" >&2
  as_root apt-get "${apt_opts[@]}" update -qq &&
    DEBIAN_FRONTEND=noninteractive as_root apt-get "${apt_opts[@]}" install -y -qq \
      --no-install-recommends qemu-user >/dev/null || rc=$?
  as_root rm -rf "$dir"
  return $rc
}

# win32_route: sets WIN32_ROUTE, exported for the commands run on it (and
# WIN32_WHY for a skip), and says what it found in one line.
win32_route() {
  export WIN32_ROUTE=${OVREL_WIN32_ROUTE:-}
  WIN32_WHY=
  case $WIN32_ROUTE in
    skip)
      WIN32_WHY="OVREL_WIN32_ROUTE=skip"
      echo "windows: 32-bit programs: not run, as OVREL_WIN32_ROUTE asks"
      return ;;
    emulated) echo "windows: 32-bit programs: emulated, as OVREL_WIN32_ROUTE asks" ;;
    "")
      if probe_i386; then
        WIN32_ROUTE=native
        echo "windows: 32-bit programs run here natively"
        return
      fi
      echo "windows: 32-bit programs do not run on this kernel ($probe_said); trying user-mode emulation" ;;
    *) echo "windows: OVREL_WIN32_ROUTE must be emulated or skip, not $WIN32_ROUTE" >&2; return 2 ;;
  esac

  WIN32_ROUTE=skip
  local refused
  if ! refused=$(unshare --user --map-root-user --mount true 2>&1); then
    # The kernel makes none for a process in a chroot, nor where an
    # administrator has turned them off.
    WIN32_WHY="no private user and mount namespace can be made here (${refused##*: })"
  elif ! install_qemu; then
    WIN32_WHY="qemu-user 9 or later could not be installed from Debian"
  else
    local status=0
    in_emulation "$BASH" -c "source scripts/win32-route.sh; probe_i386" || status=$?
    case $status in
      0) WIN32_ROUTE=emulated
         echo "windows: 32-bit programs run under $($qemu_i386 --version | head -1) in a private namespace" ;;
      90) WIN32_WHY="Linux $(uname -r) cannot mount binfmt_misc in a private namespace (that takes 6.7 or later, with binfmt_misc built in)" ;;
      91) WIN32_WHY="binfmt_misc in a private namespace refused the entry for $qemu_i386" ;;
      *) WIN32_WHY="32-bit programs do not run even under $qemu_i386 (exit status $status)" ;;
    esac
  fi
}

# on_each_target WHAT PROGRAM [ARGS...]: PROGRAM ARGS x86_64 under wine64,
# then PROGRAM ARGS i686 on the route this machine gives 32-bit programs; a
# skip says that WHAT did not run, and why.
on_each_target() {
  local what=$1
  shift
  "$@" x86_64
  win32_route
  case $WIN32_ROUTE in
    skip) skipped "$what under Wine: $WIN32_WHY" ;;
    emulated) in_emulation "$@" i686 ;;
    *) "$@" i686 ;;
  esac
}
