#!/usr/bin/env bash
# windows-release.sh: the zip that Windows users get,
# out/ovrel-VERSION-windows-i686.zip, unpacked beside it as well.
#
#   scripts/windows-release.sh [--check]
#
# The zip is the install step of the Windows build (cmake/Install.cmake:
# one folder with the programs, the DLLs, an example and a readme), packed
# by CPack into a folder named after the project and version.  --check then
# uses the unpacked folder as a user would, under Wine: the glue tool makes
# a self-running program of the word-count example, which is run from
# another folder.  OVREL_WIN_BUILD names the build folder (default build-win).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

build=${OVREL_WIN_BUILD:-build-win}
scripts/windows-build.sh "$build"

name=ovrel-$(project_version)-windows-i686
rm -rf "out/$name" "out/$name.zip"
pack "$build"
mkdir -p out
cp "$build/packages/$name.zip" out/
(cd out && cmake -E tar xf "$name.zip")
out=out/$name
echo "windows: out/$name.zip, unpacked in $out"

[[ ${1-} == --check ]] || exit 0

# The zip holds the user's folder and nothing else, the readme in CRLF.
files=$(cd "$out" && find . -type f | sort | tr '\n' ' ')
want_files='./README.txt ./examples/wordfreq.lua ./numhash.dll ./ovrel.dll ./ovrelglue.exe ./ovrelrun.exe '
[[ $files == "$want_files" ]] || { echo "windows: the zip holds $files" >&2; exit 1; }
[[ $(head -1 "$out/README.txt") == *$'\r' ]] || { echo "windows: README.txt has no CRLF" >&2; exit 1; }

wine_start "$build"
work=$(mktemp -d)
trap 'wine_stop; rm -rf "$work"' EXIT
cp -r "$out" "$work/ovrel"
mkdir "$work/elsewhere"
printf 'one two two three three three\n' > "$work/elsewhere/words.txt"

(cd "$work/ovrel" && wine ovrelglue.exe examples/wordfreq.lua -o wordfreq.exe)
got=$(cd "$work/elsewhere" && wine ../ovrel/wordfreq.exe words.txt | tr -d '\r')
printf '%s\n' "$got"
want='wordfreq: words.txt: 6 words
6 words, 3 distinct, 3 different counts (numhash(3) in 8 buckets)
     3  three
     2  two
     1  one'
[[ $got == "$want" ]] || { echo "windows: the released folder does not work" >&2; exit 1; }
echo "windows: the released folder works"
