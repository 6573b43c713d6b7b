#!/usr/bin/env bash
# setup.sh: installs the Debian packages the build, tests and examples need.
# Does nothing slow when they are all present.
set -euo pipefail
source "$(dirname "$0")/common.sh"

packages=(cmake make g++ pkg-config liblua5.1-0-dev lua5.1 luajit lua5.2 lua5.3 lua5.4 libgtest-dev valgrind lua-check)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ $status == "install ok installed" ]] || missing+=("$p")
done
((${#missing[@]} == 0)) && exit 0

echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
# A mirror caught mid-sync fails the update for a while: try again, then go
# on with the lists as they are, which the install may well manage with.
for try in 1 2 3; do
  as_root apt-get update -qq && break
  echo "setup: apt-get update failed (try $try of 3)" >&2
  sleep $((try * 5))
done
as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
