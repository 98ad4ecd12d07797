#!/usr/bin/env bash
# kd7x-update.exe under Wine: run from a folder named in Chinese, with its settings (a UTF-8 file
# with a byte-order mark) and log beside it, it flashes the radio on COM8 with an image from another
# such folder; then two radios at once with settings and log named in Chinese; one radio as a
# station; a radio that restarts on the write command; a missing port; then lists the registry's
# ports. Runs inside with-radio.sh.
# usage: kd7x-update-exe.sh KD7X-UPDATE.EXE
set -euo pipefail
exe=$1
here=$(cd "$(dirname "$0")/../.." && pwd)
# Wine decodes the arguments by the locale: UTF-8, so the names arrive whole.
export LC_ALL=C.UTF-8
run() { "$here/scripts/wine-run" "$exe" "$@"; }
work=$(mktemp -d /tmp/kd7x-exe.XXXXXX)
trap 'rm -rf "$work"' EXIT
winpath() { echo "Z:${1//\//\\}"; }
fail() { echo "FAIL: $*"; cat "$work/err" 2>/dev/null; exit 1; }

mkdir -p "$work/固件" "$work/工具" "$work/設定"
head -c 7000 /dev/urandom >"$work/固件/app.bin"
head -c 3000 /dev/urandom >"$work/rc.bin"
cp "$exe" "$work/工具/kd7x-update.exe"
printf '\xEF\xBB\xBF[Device]\r\nlistenInterval=10\r\nWriteDataFrameInterval=5\r\n' >"$work/工具/kd7x-update.ini"
printf '[Device]\r\nlistenInterval=10\r\nWriteDataFrameInterval=5\r\n' >"$work/設定/kd7x.ini"
files=(--settings "$(winpath "$work/設定/kd7x.ini")" --log "$(winpath "$work/設定/kd7x.log")")
images=(--app "$(winpath "$work/固件/app.bin")" --rcdb "$(winpath "$work/rc.bin")")

status=0
"$here/scripts/wine-run" "$work/工具/kd7x-update.exe" --port COM$KD7X_COM "${images[@]}" >"$work/out" 2>"$work/err" ||
  status=$?
[ "$status" -eq 0 ] || fail "exit code $status"
grep -q "The host writes successfully" "$work/out" || fail "no success line"
cmp "$work/固件/app.bin" "$KD7X_RECEIVED_UNIX/app.bin" || fail "the application image differs"
cmp "$work/rc.bin" "$KD7X_RECEIVED_UNIX/rc.bin" || fail "the RCDB image differs"
grep -qi "^port=$KD7X_COM" "$work/工具/kd7x-update.ini" || fail "port not stored beside the program"
[ "$(grep -c '\[Device\]' "$work/工具/kd7x-update.ini")" -eq 1 ] || fail "a second [Device] section"
[ "$(head -c 3 "$work/工具/kd7x-update.ini" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "the byte-order mark was lost"
grep -q "run end: success" "$work/工具/kd7x-update.log" || fail "no log beside the program"

status=0
run --port COM$KD7X_COM --port COM$KD7X_COM_SECOND --app "$(winpath "$work/rc.bin")" "${files[@]}" --json \
  >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 0 ] || fail "two radios: exit code $status"
cmp "$work/rc.bin" "$KD7X_RECEIVED10_UNIX/rc.bin" || fail "the second radio's image differs"
grep -q '"radios"' "$work/out" || fail "no radios in the JSON"
grep -q "run end: success" "$work/設定/kd7x.log" || fail "no log where --log named it"
grep -qi "^port=" "$work/設定/kd7x.ini" || fail "settings not stored where --settings named them"

# A station on the second radio's port ends once it has flashed one radio; its record is the output.
status=0
run --station --port COM$KD7X_COM_SECOND --count 1 --settle 1 --app "$(winpath "$work/rc.bin")" "${files[@]}" \
  --record "$(winpath "$work/設定/radios.jsonl")" --json >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 0 ] || fail "station: exit code $status"
# The radio's start line, then its end line; stdout holds the end line alone.
[ "$(grep -c '"outcome":"started"' "$work/設定/radios.jsonl")" -eq 1 ] || fail "station: not one start"
[ "$(wc -l <"$work/設定/radios.jsonl")" -eq 2 ] || fail "station: not one radio"
grep -q '"outcome":"success"' "$work/設定/radios.jsonl" || fail "station: no success recorded"
grep -v '"outcome":"started"' "$work/設定/radios.jsonl" | cmp -s - <(tr -d '\r' <"$work/out") ||
  fail "station: stdout is not the radio's line of the record"

# A radio that restarts as the write command reaches it takes its port along and comes back with
# its restart text: the port is opened again and the radio's word confirms the upgrade.
status=0
run --port COM$KD7X_COM_RESTART --app "$(winpath "$work/rc.bin")" "${files[@]}" --fast --json \
  --confirm "upgrade OK" --radio-id "S/N (KD7X-[0-9]+)" >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 0 ] || fail "a radio restarting on the write command: exit code $status: $(cat "$work/err")"
grep -q '"confirmed": *true' "$work/out" || fail "the restarting radio's word is not seen"
grep -q '"radio_id": *"KD7X-' "$work/out" || fail "the restarting radio's ID is not seen"
cmp "$work/rc.bin" "$KD7X_RECEIVED12_UNIX/rc.bin" || fail "the restarting radio's image differs"
grep -q '"closed_after_write": *true' "$work/out" || fail "the closed line is not noted"

status=0
run --port COM77 "${images[@]}" "${files[@]}" --json >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 3 ] || fail "a missing port gave exit code $status"
! grep -E '"(message|detail)":' "$work/out" | grep -q '\\[rn]' || fail "the system's line end is in the message"

"$here/scripts/wine-run" reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v KD7XTestPort /d "COM$KD7X_COM" /f >/dev/null
run --list-ports >"$work/ports"
"$here/scripts/wine-run" reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v KD7XTestPort /f >/dev/null
grep -q "^COM$KD7X_COM" "$work/ports" || fail "COM$KD7X_COM not listed"
echo "1 passed, 0 failed"
