#!/usr/bin/env bash
# Checks a portable zip of the Windows build: both programs and the how-to, in one top folder,
# and every program in it a PE file of the build's architecture.
# usage: check-zip.sh ZIP win32|win64
set -euo pipefail
zip=$(realpath "$1") arch=$2
here=$(cd "$(dirname "$0")/../.." && pwd)
source "$here/scripts/wine-env"
work=$(mktemp -d /tmp/kd7x-zip.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $zip: $*"; exit 1; }

[ -f "$zip" ] || fail "missing"
(cd "$work" && cmake -E tar xf "$zip")
top=$(basename "$zip" .zip)
for f in KD7XUpdateTool.exe kd7x-update.exe README.txt; do
  [ -f "$work/$top/$f" ] || fail "no $top/$f"
done
while IFS= read -r -d '' f; do
  got=$(kd7x_pe_arch "$f")
  case "$f" in
    *.exe | *.dll) [ "$got" = "$arch" ] || fail "${f#"$work"/} is ${got:-not a PE file}, not $arch" ;;
    *) [ -z "$got" ] || fail "${f#"$work"/} is a $got program" ;;
  esac
done < <(find "$work" -type f -print0)
echo "$(basename "$zip"): $(find "$work" -type f | wc -l) files, programs $arch only"
