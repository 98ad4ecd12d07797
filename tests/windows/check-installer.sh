#!/usr/bin/env bash
# Checks a Windows installer. The file: an NSIS installer, a program of the architecture it
# installs. Then, where this host can run it, under Wine in the prefix of its build: a silent
# install into a folder of our choosing (/S /D=) puts both programs and the how-to there, the
# Start-menu entries and the Add/Remove Programs entry (the 64-bit installer's in the 64-bit
# registry view only); the silent uninstall that entry names takes them all away again.
# usage: check-installer.sh [--file-only] INSTALLER win32|win64
# Exits 77 when this host cannot run the installer, saying why in one line.
set -euo pipefail
file_only=
if [ "${1:-}" = --file-only ]; then
  file_only=1
  shift
fi
[ $# -eq 2 ] || { echo "usage: $0 [--file-only] INSTALLER win32|win64" >&2; exit 64; }
installer=$(realpath "$1") arch=$2
here=$(cd "$(dirname "$0")/../.." && pwd)
source "$here/scripts/wine-env"
name=$(basename "$installer")
fail() { echo "FAIL: $name: $*"; exit 1; }

[ -f "$installer" ] || fail "missing"
got=$(kd7x_pe_arch "$installer")
[ "$got" = "$arch" ] || fail "the installer is ${got:-not a PE file}, not $arch"
grep -qa NullsoftInst "$installer" || fail "not an NSIS installer"
echo "$name: an NSIS installer, $arch, $(($(stat -c %s "$installer") / 1024)) KiB"
[ -z "$file_only" ] || exit 0

why=$(kd7x_wine_unavailable "$arch")
if [ -n "$why" ]; then
  echo "$name: not run under Wine: $why"
  exit 77
fi

kd7x_wine_env "$arch"
# No menu entries on this host's desktop for the shortcuts the installer makes.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
wine() { timeout 120 "$here/scripts/wine-run" --arch "$arch" "$@" </dev/null; }
# The 64-bit installer's entries belong in the 64-bit view, where 64-bit Windows lists 64-bit
# programs, not in the 32-bit one a 32-bit installer would see (a 32-bit prefix has only one).
menu="KD7X upgrade tool" view=() views="the registry"
if [ "$arch" = win64 ]; then
  menu="KD7X upgrade tool (64-bit)" view=(/reg:64) views="the 64-bit registry view"
fi
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KD7X upgrade tool'
value() { wine reg query "$key" /v "$1" "${view[@]}" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$1 *REG_SZ *//p"; }
start_menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/$menu"

work=$(mktemp -d /tmp/kd7x-installer.XXXXXX)
dir=$work/KD7X
windir="Z:${dir//\//\\}"
cleanup() {
  # A failed check leaves nothing behind in the prefix.
  [ ! -f "$dir/Uninstall.exe" ] || wine "$dir/Uninstall.exe" /S "_?=$windir" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

status=0
wine "$installer" /S "/D=$windir" >"$work/out" 2>&1 || status=$?
[ "$status" -eq 0 ] || { cat "$work/out"; fail "silent install: exit code $status"; }
for f in KD7XUpdateTool.exe kd7x-update.exe README.txt Uninstall.exe; do
  [ -f "$dir/$f" ] || fail "no $f in the folder /D named"
done
for f in KD7XUpdateTool.exe kd7x-update.exe; do
  got=$(kd7x_pe_arch "$dir/$f")
  [ "$got" = "$arch" ] || fail "installed $f is ${got:-not a PE file}, not $arch"
done
for link in "KD7X upgrade tool" "KD7X station" Uninstall; do
  [ -f "$start_menu/$link.lnk" ] || fail "no Start-menu entry '$menu/$link'"
done
# A shortcut keeps its target's path as text and its arguments in UTF-16.
for link in "KD7X upgrade tool" "KD7X station"; do
  strings -a "$start_menu/$link.lnk" | grep -qF "$windir\KD7XUpdateTool.exe" || fail "'$link' does not start the dialog"
done
strings -a -el "$start_menu/KD7X station.lnk" | grep -q '/station$' || fail "'KD7X station' does not pass /station"
! strings -a -el "$start_menu/KD7X upgrade tool.lnk" | grep -q /station || fail "'KD7X upgrade tool' passes /station"
[ "$(value DisplayName)" = "$menu" ] || fail "no Add/Remove Programs entry '$menu' in $views"
if [ "$arch" = win64 ] && wine reg query "$key" /reg:32 >/dev/null 2>&1; then
  fail "an Add/Remove Programs entry in the 32-bit registry view"
fi
uninstaller=$(value UninstallString)
[ "$uninstaller" = "\"$windir\\Uninstall.exe\"" ] || fail "the entry's uninstaller is '$uninstaller'"

# An uninstaller copies itself away and returns at once; run in place (_?=) it returns when done.
status=0
wine "$dir/Uninstall.exe" /S "_?=$windir" >"$work/out" 2>&1 || status=$?
[ "$status" -eq 0 ] || { cat "$work/out"; fail "silent uninstall: exit code $status"; }
for f in KD7XUpdateTool.exe kd7x-update.exe README.txt; do
  [ ! -e "$dir/$f" ] || fail "$f is still there after the uninstall"
done
[ ! -e "$start_menu" ] || fail "the Start-menu folder '$menu' is still there after the uninstall"
! wine reg query "$key" "${view[@]}" >/dev/null 2>&1 || fail "the Add/Remove Programs entry is still there"
rm -f "$dir/Uninstall.exe"
echo "$name: installs silently into the folder /D names with its Start-menu entries and its Add/Remove Programs entry in $views, and uninstalls silently"
