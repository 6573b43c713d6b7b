#!/usr/bin/env bash
# windows-release.sh: the folder that Windows users get, out/windows/, and
# the same as out/ovrel-windows-i686.zip.
#
#   scripts/windows-release.sh [--check]
#
# --check then uses the folder as a user would, under Wine: the glue tool
# makes a self-running program of the word-count example, which is run from
# another folder.  OVREL_WIN_BUILD names the build folder (default build-win).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${OVREL_WIN_BUILD:-build-win}
scripts/windows-build.sh "$build"

out=out/windows
rm -rf "$out" out/ovrel-windows-i686.zip
mkdir -p "$out/examples"
# Symbols are of no use to a user and are most of each file.
for f in ovrelrun.exe ovrelglue.exe ovrel.dll numhash.dll; do
  i686-w64-mingw32-strip --strip-unneeded -o "$out/$f" "$build/bin/$f"
done
cp examples/wordfreq.lua "$out/examples/"
# Notepad and the console expect CRLF line ends.
sed 's/$/\r/' > "$out/README.txt" <<'TEXT'
Ovrel for 32-bit Windows
========================

  ovrelrun.exe    the launcher: runs the script glued to a copy of itself
  ovrelglue.exe   the glue tool: makes such copies, self-running programs
  ovrel.dll       the runtime, which every program here needs beside it
  numhash.dll     the number-keyed map module, for require "numhash"
  examples\wordfreq.lua   a word counter that uses numhash

Making a self-running program
-----------------------------
In this folder:

  ovrelglue examples\wordfreq.lua -o wordfreq.exe

The tool copies ovrelrun.exe from its own folder (--launcher PATH picks
another), appends the script and a 16-byte trailer, and refuses with one
line and no partial file when it cannot.  A first script line that starts
with "#" is skipped, so a "#!" line may stay.  "ovrelglue --show FILE"
prints the offset, length and first line of the script FILE carries.

Running it
----------
  wordfreq.exe README.txt

The words after the program name reach the script as ... and as args[1],
args[2] and so on; args[0] is the program name as it was typed.  Unquoted
wildcards such as *.txt are expanded into file names first.  A failure
prints one line, "NAME: message", with a traceback for errors the script
raises, and ends with exit status 1; a normal end gives status 0.

The program finds its own file from the name it was started with: with
".exe" added to a name without an extension, in its own folder, then the
current folder, then the system folders and PATH.  Keep the ".exe" ending
when you rename a program.

Shipping it
-----------
Ship the program with ovrel.dll in the same folder, and numhash.dll too
when the script loads it.  Windows finds a program's DLLs in its own
folder, and require finds modules there, so the folder may live anywhere.
Nothing needs installing and nothing else is read: no registry entries,
no options, no other files.  The program and the DLLs are 32-bit; they run
on 32-bit and 64-bit Windows alike.
TEXT
(cd out && cmake -E tar cf ovrel-windows-i686.zip --format=zip windows)
echo "windows: $out and out/ovrel-windows-i686.zip"

[[ ${1-} == --check ]] || exit 0

source scripts/windows-wine.sh
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
