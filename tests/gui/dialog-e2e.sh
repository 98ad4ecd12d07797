#!/usr/bin/env bash
# KD7XUpdateTool.exe end to end under Wine and Xvfb, against the radio on COM8 (with-radio.sh):
# a successful upgrade, a run cancelled while writing, a third run on the released port closed
# during the run (one question however often the close is asked, No goes on), a fourth stopped by
# Yes, and a start without a log file.
# Screenshots of the main dialog, the tip window and the outcome box go to SHOTS.
# usage: dialog-e2e.sh KD7XUpdateTool.exe gui_driver.exe SHOTS
set -euo pipefail
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x960x24" "$0" "$@"
fi
tool=$1 driver=$2 shots=$3
here=$(cd "$(dirname "$0")/../.." && pwd)
wine_run=$here/scripts/wine-run
source "$here/scripts/wine-env"
kd7x_wine_env "${KD7X_WINEARCH:-win32}"
export KD7X_WINEARCH=$WINEARCH
# The tool's folder is named in Chinese: its settings and log live there.
export LC_ALL=C.UTF-8
top=$(mktemp -d /tmp/kd7x-dialog.XXXXXX)
work=$top/工具
mkdir -p "$work"
mkdir -p "$shots"
# A server started without this display would give the windows nowhere to go.
log=$kd7x_wine_log
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
wineserver -p </dev/null >/dev/null 2>>"$log"
cleanup() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  # Later tests find a server and its services again, without this display and apart from
  # this test's output.
  env -u DISPLAY "$here/scripts/wine-prefix" start "$WINEARCH" </dev/null >/dev/null 2>&1 || true
  rm -rf "$top"
}
trap cleanup EXIT

source "$here/tests/gui/drive.sh"
drive() { kd7x_drive dialog-e2e "$@"; }
fail() { echo "FAIL: $*"; exit 1; }
# Screenshots from the X side, of the window's rectangle.
shot() {
  local geometry
  geometry=$(drive rect "$1") || return 1
  import -window root -crop "$geometry" +repage "$2"
}

# No window manager under Xvfb: Wine draws the frames itself, so screenshots show the caption.
"$wine_run" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true

cp "$tool" "$work/KD7XUpdateTool.exe"
head -c 450000 /dev/urandom >"$work/radio-app.bin"
head -c 60000 /dev/urandom >"$work/radio-rcdb.bin"
printf '[Device]\r\nport=%s\r\nlistenInterval=10\r\nWriteDataFrameInterval=2\r\ntimeout=300\r\n' "$KD7X_COM" \
  >"$work/KD7XUpdateTool.ini"

(cd "$work" && "$wine_run" KD7XUpdateTool.exe) &
tool_pid=$!
drive wait-main 60000 || fail "the main dialog did not open"
sleep 1
focus=$(drive focus); [ "$focus" = 1003 ] || fail "the focus is on control $focus at start-up, not on the port"
port=$(drive text "KD7X host upgrade tool" 1003) || fail "no port field"
[ "$port" = "COM$KD7X_COM" ] || fail "the port field shows '$port', not the settings' COM$KD7X_COM"
drive press-enter
sleep 1
drive wait-main 1000 || fail "Enter at start-up closed the tool"
shot main "$shots/main-dialog-start.png" || fail "no screenshot of the main dialog"
about=$(drive open-about 10000) || fail "the About box did not open"
[[ "$about" == "Kd7YmodemUpdate，Version 1.0"* ]] || fail "About box text: $about"
shot about "$shots/about-box.png"
drive close-about || fail "the About box did not close"
sleep 1

# 1. A whole upgrade, confirmed by the radio's restart text, which the trace shows.
printf 'ConfirmPattern=upgrade OK\r\nRadioIdPattern=S/N (KD7X-[0-9]+)\r\n' >>"$work/KD7XUpdateTool.ini"
drive click-update
drive wait-tip "writing data" 60000 || fail "no tip window while writing"
shot tip "$shots/tip-window.png"
text=$(drive wait-box 180000) || fail "no outcome box"
echo "outcome: $text"
[[ "$text" == "The host writes successfully"* ]] || fail "first run: $text"
shot box "$shots/outcome-box.png"
drive close-box || fail "the outcome box did not close"
sleep 1
trace=$(drive text "KD7X host upgrade tool" 1006) || fail "no trace"
[[ "$trace" == *"KD7X restarting"* && "$trace" == *"upgrade OK"* ]] ||
  fail "the trace lacks the radio's restart text: $trace"
shot main "$shots/main-dialog.png"
cmp "$work/radio-app.bin" "$KD7X_RECEIVED_UNIX/radio-app.bin" || fail "the application image differs"
cmp "$work/radio-rcdb.bin" "$KD7X_RECEIVED_UNIX/radio-rcdb.bin" || fail "the RCDB image differs"
for key in "port=$KD7X_COM" "app_bin_file=" "rcdb_bin_file="; do
  grep -q "^$key" "$work/KD7XUpdateTool.ini" || fail "settings file lacks $key"
done
[ -f "$work/KD7XUpdateTool.log" ] || fail "no log beside the tool in its Chinese-named folder"

# 2. Cancel while writing.
sleep 1
drive click-update
drive wait-tip "writing data" 60000 || fail "no tip window in the second run"
drive click-cancel || fail "the tip window stayed after Cancel"
text=$(drive wait-box 60000) || fail "no outcome box after Cancel"
echo "outcome: $text"
[[ "$text" == "unable to write to host"* ]] || fail "cancelled run: $text"
drive close-box || fail "the outcome box of the cancelled run did not close"

# 3. Closing the window while it writes asks first; No goes on, on the released port. The radio
#    never says what the settings file waits for: written, not confirmed.
sed -i 's/^ConfirmPattern=.*/ConfirmPattern=never said\r/' "$work/KD7XUpdateTool.ini"
printf 'ConfirmWait=1\r\n' >>"$work/KD7XUpdateTool.ini"
sleep 1
drive click-update
drive wait-tip "writing data 1" 60000 || fail "no tip window in the third run"
drive close-main
text=$(drive wait-box 30000) || fail "no question when closing during a run"
echo "question: $text"
[[ "$text" == "An upgrade is in progress. Stop it? The radio will need a new upgrade."* ]] || fail "question: $text"
shot box "$shots/stop-question.png"
# A second close while the question is open is answered by that question, not by a second one.
drive send-close 10000 || fail "a second close request while the question is open was not handled at once"
[ "$(drive count-boxes)" = 1 ] || fail "a second close request stacked another question"
drive answer-box no || fail "the question did not close after No"
text=$(drive wait-box 180000) || fail "no outcome box after No"
echo "outcome: $text"
[[ "$text" == "written, not confirmed by the radio"*"never said"* ]] || fail "run after No: $text"
shot box "$shots/not-confirmed-box.png"
drive close-box || fail "the outcome box after No did not close"

# 4. Yes stops the run, shows its outcome, then the tool ends.
sleep 1
drive click-update
drive wait-tip "writing data" 60000 || fail "no tip window in the fourth run"
drive close-main
drive wait-box 30000 >/dev/null || fail "no question in the fourth run"
drive answer-box yes || fail "the question did not close after Yes"
text=$(drive wait-box 60000) || fail "no outcome box after Yes"
echo "outcome: $text"
[[ "$text" == "unable to write to host"* ]] || fail "stopped run: $text"
drive close-box || fail "the outcome box of the stopped run did not close"
drive wait-gone 60000 || fail "the window did not close after the stopped run"
wait "$tool_pid" || true

# 5. A log file that cannot be created is reported, and the tool still opens; rows without an
#    image hide their "..." button too.
mkdir -p "$work/nolog" "$work/nolog/KD7XUpdateTool.log"
cp "$tool" "$work/nolog/KD7XUpdateTool.exe"
(cd "$work/nolog" && "$wine_run" KD7XUpdateTool.exe) &
tool_pid=$!
text=$(drive wait-any-box 60000) || fail "no box about the log file"
echo "log box: $text"
[[ "$text" == *"KD7XUpdateTool.log"*"cannot be created"* ]] || fail "log box: $text"
drive close-any-box || fail "the box about the log file did not close"
drive wait-main 60000 || fail "the main dialog did not open without a log"
for id in 1008 1000 1009 1007 1002 1010; do
  [ "$(drive visible $id)" = 0 ] || fail "control $id of an empty image row is visible"
done
drive close-main
drive wait-gone 30000 || fail "the window did not close"
wait "$tool_pid" || true
echo "1 passed, 0 failed"
