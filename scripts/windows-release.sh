#!/usr/bin/env bash
# windows-release.sh: the zips that Windows users get,
# out/ovrel-VERSION-windows-i686.zip (32-bit, runs on every Windows) and
# out/ovrel-VERSION-windows-x86_64.zip (64-bit), each unpacked beside it.
#
#   scripts/windows-release.sh [--check]   build, pack and check both zips
#   scripts/windows-release.sh --run ARCH  only use ARCH's unpacked folder
#
# A zip is the install step of its Windows build (cmake/Install.cmake: one
# folder with the programs, the DLLs, an example and a readme), packed by
# CPack into a folder named after the project, version and architecture; it
# must hold that folder and nothing else, the readme in CRLF.  --check and
# --run then use the unpacked folder as a user would, under Wine: the glue
# tool makes a self-running program of the word-count example, which is run
# from another folder.  With --check, i686 runs on the route this machine
# gives 32-bit programs (win32-route.sh), or is SKIPPED with the reason.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
source scripts/win32-route.sh

arches=(i686 x86_64)
folder() { echo "out/ovrel-$(project_version)-windows-$1"; }
# pe_machine FILE: the machine field of a Windows image, 014c or 8664.
pe_machine() {
  local at
  at=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  od -An -tx2 -j$((at + 4)) -N2 "$1" | tr -d ' '
}
declare -A machine=([i686]=014c [x86_64]=8664)

# run ARCH: the word-count example glued and run from ARCH's folder.
run() {
  local out got
  out=$(folder "$1")
  wine_start "$1"
  work=$(mktemp -d)
  trap 'wine_stop; rm -rf "$work"' EXIT
  cp -r "$out" "$work/ovrel"
  mkdir "$work/elsewhere"
  printf 'one two two three three three\n' > "$work/elsewhere/words.txt"

  (cd "$work/ovrel" && wine ovrelglue.exe examples/wordfreq.lua -o wordfreq.exe)
  got=$(cd "$work/elsewhere" && wine ../ovrel/wordfreq.exe words.txt | tr -d '\r')
  printf '%s\n' "$got"
  local want='wordfreq: words.txt: 6 words
6 words, 3 distinct, 3 different counts (numhash(3) in 8 buckets)
     3  three
     2  two
     1  one'
  [[ $got == "$want" ]] || { echo "windows: the released $1 folder does not work" >&2; exit 1; }
  echo "windows: the released $1 folder works"
}

if [[ ${1-} == --run ]]; then
  run "$2"
  exit
fi

scripts/windows-build.sh "${arches[@]}"
want_files='./README.txt ./examples/wordfreq.lua ./numhash.dll ./ovrel.dll ./ovrelglue.exe ./ovrelrun.exe '
for arch in "${arches[@]}"; do
  out=$(folder "$arch")
  name=${out#out/}
  rm -rf "$out" "$out.zip"
  pack "$(win_build "$arch")"
  mkdir -p out
  cp "$(win_build "$arch")/packages/$name.zip" out/
  (cd out && cmake -E tar xf "$name.zip")
  files=$(cd "$out" && find . -type f | sort | tr '\n' ' ')
  [[ $files == "$want_files" ]] || { echo "windows: $name.zip holds $files" >&2; exit 1; }
  [[ $(head -1 "$out/README.txt") == *$'\r' ]] || { echo "windows: $name: README.txt has no CRLF" >&2; exit 1; }
  for f in "$out"/*.exe "$out"/*.dll; do
    [[ $(pe_machine "$f") == "${machine[$arch]}" ]] || { echo "windows: $f is not built for $arch" >&2; exit 1; }
  done
  echo "windows: $out.zip, unpacked in $out"
done

[[ ${1-} == --check ]] || exit 0
on_each_target "the i686 release folder" scripts/windows-release.sh --run
