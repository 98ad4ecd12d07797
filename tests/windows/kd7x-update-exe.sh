#!/usr/bin/env bash
# kd7x-update.exe under Wine: flashes the radio on COM8 and lists the registry's ports.
# Runs inside with-radio.sh. usage: kd7x-update-exe.sh KD7X-UPDATE.EXE
set -euo pipefail
exe=$1
here=$(cd "$(dirname "$0")/../.." && pwd)
run() { "$here/scripts/wine-run" "$exe" "$@"; }
work=$(mktemp -d /tmp/kd7x-exe.XXXXXX)
trap 'rm -rf "$work"' EXIT
winpath() { echo "Z:${1//\//\\}"; }

head -c 7000 /dev/urandom >"$work/app.bin"
printf '[Device]\r\nlistenInterval=10\r\nWriteDataFrameInterval=5\r\n' >"$work/kd7x.ini"

status=0
run --port COM$KD7X_COM --app "$(winpath "$work/app.bin")" --settings "$(winpath "$work/kd7x.ini")" \
  --log "$(winpath "$work/kd7x.log")" >"$work/out" 2>"$work/err" || status=$?
cat "$work/err"
[ "$status" -eq 0 ] || { echo "FAIL: exit code $status"; exit 1; }
grep -q "The host writes successfully" "$work/out" || { echo "FAIL: no success line"; exit 1; }
cmp "$work/app.bin" "$KD7X_RECEIVED_UNIX/app.bin" || { echo "FAIL: image differs"; exit 1; }
grep -qi "^port=$KD7X_COM" "$work/kd7x.ini" || { echo "FAIL: port not stored"; exit 1; }

status=0
run --port COM77 --app "$(winpath "$work/app.bin")" --settings "$(winpath "$work/kd7x.ini")" \
  --log "$(winpath "$work/kd7x.log")" >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 3 ] || { echo "FAIL: a missing port gave exit code $status"; cat "$work/err"; exit 1; }

"$here/scripts/wine-run" reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v KD7XTestPort /d "COM$KD7X_COM" /f >/dev/null
run --list-ports >"$work/ports"
"$here/scripts/wine-run" reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v KD7XTestPort /f >/dev/null
cat "$work/ports"
grep -q "^COM$KD7X_COM" "$work/ports" || { echo "FAIL: COM$KD7X_COM not listed"; exit 1; }
echo "1 passed, 0 failed"
