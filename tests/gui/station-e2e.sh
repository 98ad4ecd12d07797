#!/usr/bin/env bash
# KD7XUpdateTool.exe's station window end to end under Wine and Xvfb, against simulated radios in
# turn on COM13 and COM14 (dosdevices/comN name the simulators' links, so a port made anew is found):
# 1. a bench that starts itself (/station /port /port /app /rcdb /record /count 4 /start): COM13's
#    first radio falls silent and its port rests (Quarantine=1) until its tile is clicked; COM14 is
#    unplugged between its radios; the record holds a start and an end for each radio; the tiles'
#    texts are read from their controls;
# 2. closing while a radio is flashed asks once (a second close stacks no second question), No goes
#    on; Stop finishes the radio, Stop again stops it (recorded as cancelled); closing when idle ends
#    the program;
# 3. Yes to the question stops the radio and ends the program;
# 4. a bad switch is one message box naming it, and nothing else opens;
# 5. the main dialog's system menu opens the station window.
# Screenshots go to SHOTS.
# usage: station-e2e.sh KD7XUpdateTool.exe gui_driver.exe kd7x-radio-sim SHOTS
set -euo pipefail
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x960x24" "$0" "$@"
fi
tool=$1 driver=$2 sim=$3 shots=$4
here=$(cd "$(dirname "$0")/../.." && pwd)
wine_run=$here/scripts/wine-run
source "$here/scripts/wine-env"
kd7x_wine_env "${KD7X_WINEARCH:-win32}"
export KD7X_WINEARCH=$WINEARCH
prefix=$WINEPREFIX
export LC_ALL=C.UTF-8
top=$(mktemp -d /tmp/kd7x-station.XXXXXX)
work=$top/bench
mkdir -p "$work" "$shots"
winpath() { printf 'Z:%s' "${1//\//\\}"; }
log=$kd7x_wine_log
sims=()
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
wineserver -p </dev/null >/dev/null 2>>"$log"
cleanup() {
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  rm -f "$prefix"/dosdevices/com{13,14}
  env -u DISPLAY "$here/scripts/wine-prefix" start "$WINEARCH" </dev/null >/dev/null 2>&1 || true
  rm -rf "$top"
}
trap cleanup EXIT

source "$here/tests/gui/drive.sh"
drive() { kd7x_drive station-e2e "$@"; }
station() { drive --window "KD7X station" "$@"; }
fail() {
  echo "FAIL: $*"
  station tiles 2>/dev/null || true
  exit 1
}
shot() {
  local geometry
  geometry=$(station rect main) || return 1
  import -window root -crop "$geometry" +repage "$1"
}
# Radios in turn on COMn: kd7x-radio-sim OPTIONS...; its images in $top/outN.
radios() {
  local n=$1
  shift
  rm -f "$top/radio$n"
  "$sim" --link "$top/radio$n" --out "$top/out$n" "$@" >"$top/radio$n.log" 2>&1 &
  sims+=($!)
  for _ in $(seq 200); do [ -L "$top/radio$n" ] && break; sleep 0.05; done
  ln -sfn "$top/radio$n" "$prefix/dosdevices/com$n"
}
lines() { grep -c "$1" "$2" || true; }
# The tool in the background, started in its folder.
launch() {
  (cd "$work" && "$wine_run" KD7XUpdateTool.exe "$@") &
  tool_pid=$!
}
# Control ids of the station window (res/resource.h).
start=1116 stop=1117 note=1126 flashed=1121 failed=1122 yield=1123

"$wine_run" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
cp "$tool" "$work/KD7XUpdateTool.exe"
head -c 48000 /dev/urandom >"$work/app.bin"
head -c 12000 /dev/urandom >"$work/rcdb.bin"
printf '[Device]\r\nlistenInterval=10\r\nWriteDataFrameInterval=2\r\ntimeout=300\r\nRadioIdPattern=S/N (KD7X-[0-9]+)\r\nConfirmPattern=upgrade OK\r\n[Station]\r\nQuarantine=1\r\n' \
  >"$work/KD7XUpdateTool.ini"
app=$(winpath "$work/app.bin") rcdb=$(winpath "$work/rcdb.bin")

# 1. Seed 4 makes COM13's first radio of three the faulty one.
radios 13 --radios 3 --gap 4000 --seed 4 --fault-share 0.34 --silent-after 2
radios 14 --radios 2 --gap 4000 --hotplug
record=$work/radios.jsonl
launch /station /PORT COM13 /port com14 /app "$app" /rcdb "$rcdb" /record "$(winpath "$record")" /count 4 /Start
station wait-main 60000 || fail "the station window did not open"
tile=$(station wait-tile COM13 "|check cable|" 120000) || fail "COM13 does not rest after its failed radio"
echo "tile: $tile"
[[ "$tile" == "COM13|check cable|check the cable or fixture (its last radio failed)"*"|failed at "*"unable to write to host"* ]] ||
  fail "COM13's resting tile: $tile"
station wait-tile COM14 "|done in " 120000 >/dev/null || fail "COM14's first radio is not done"
shot "$shots/station-window-resting.png" || fail "no screenshot of the station window"
# Taken back from the keyboard: Enter on the focused tile.
station press-tile COM13 || fail "no tile for COM13"
station wait-tile COM13 "|flashing|" 60000 >/dev/null || fail "COM13 takes no radio after Enter on its tile"
station wait-tile COM13 "|done in " 120000 >/dev/null || fail "COM13's second radio is not done"
# A radio is flashed in turn on COM14 after it was unplugged; the count ends the station.
for _ in $(seq 600); do
  [ "$(station enabled $start)" = 1 ] && break
  sleep 0.5
done
[ "$(station enabled $start)" = 1 ] || fail "the station did not end at its count"
station tiles
for id in $flashed $failed $yield; do station text "KD7X station" $id; done
[ "$(station text "KD7X station" $flashed)" = "Flashed: 4" ] || fail "not 4 flashed"
[ "$(station text "KD7X station" $failed)" = "Failed: 1" ] || fail "not 1 failed"
# Radios IDs of five radios: one failed before its ID passed, or a radio of its own.
[[ "$(station text "KD7X station" $yield)" == "First-pass yield: 80.0 %" ]] || fail "first-pass yield"
[[ "$(station text "KD7X station" $note)" == *"4 radios flashed: no new radios"* ]] || fail "no note of the count"
tile=$(station tiles | grep '^COM14|') || fail "no tile for COM14"
[[ "$tile" == "COM14|"*"|radio KD7X-"*"|done in "*"confirmed by the radio" ]] || fail "COM14's tile: $tile"
shot "$shots/station-window.png"
[ "$(lines '"outcome":"started"' "$record")" -eq 5 ] || fail "not five start lines: $(cat "$record")"
[ "$(lines '"outcome":"success"' "$record")" -eq 4 ] || fail "not four successes"
[ "$(lines '"outcome":"unable_to_write"' "$record")" -eq 1 ] || fail "not one radio unable to write"
[ "$(wc -l <"$record")" -eq 10 ] || fail "the record holds more than the radios' start and end lines"
grep -q '"port":"COM14".*"outcome":"success"\|"outcome":"success".*"port":"COM14"' "$record" || fail "no COM14 radio"
grep -q '^Ports=COM13,COM14' "$work/KD7XUpdateTool.ini" || fail "the ports are not remembered"
grep -q '^Count=4' "$work/KD7XUpdateTool.ini" || fail "the count is not remembered"
station close-main
station wait-gone 30000 || fail "closing the idle station window did not end the program"
wait "$tool_pid" || true

# 2. A radio paced slowly, so it is still being flashed while the window is closed and stopped.
radios 13 --radios 2 --gap 2000 --baud 19200
launch /station /port COM13 /app "$app" /rcdb "$rcdb" /record "$(winpath "$record")" /start
station wait-tile COM13 "|flashing|" 60000 >/dev/null || fail "no radio flashed on COM13"
station close-main
text=$(station wait-box 30000) || fail "no question when closing while flashing"
[[ "$text" == "Radios are being flashed. Stop them and close?"* ]] || fail "question: $text"
station send-close 10000 || fail "a second close request while the question is open was not handled at once"
[ "$(station count-boxes)" = 1 ] || fail "a second close request stacked another question"
station answer-box no || fail "the question did not close after No"
station click $stop
sleep 1
[[ "$(station text "KD7X station" $note)" == *"finishing 1 radio; Stop again to stop it"* ]] ||
  fail "the first Stop: $(station text "KD7X station" $note)"
station wait-tile COM13 "|flashing|" 1000 >/dev/null || fail "the first Stop stopped the radio"
station click $stop
station wait-tile COM13 "|stopped at " 30000 || fail "the second Stop did not stop the radio"
[ "$(lines '"outcome":"cancelled"' "$record")" -eq 1 ] || fail "the stopped radio is not recorded as cancelled"
for _ in $(seq 60); do [ "$(station enabled $start)" = 1 ] && break; sleep 0.5; done
station close-main
station wait-gone 30000 || fail "closing after the stop did not end the program"
wait "$tool_pid" || true

# 3. Yes stops the radio under way, and the program ends once the station has let go of its port.
launch /station /port COM13 /app "$app" /record "$(winpath "$record")" /start
station wait-tile COM13 "|flashing|" 60000 >/dev/null || fail "no radio flashed on COM13 the second time"
station close-main
station wait-box 30000 >/dev/null || fail "no question the second time"
station answer-box yes || fail "the question did not close after Yes"
station wait-gone 60000 || fail "Yes did not end the program"
wait "$tool_pid" || true
[ "$(lines '"outcome":"cancelled"' "$record")" -eq 2 ] || fail "the radio stopped by Yes is not recorded"

# 4. A bad switch: one box naming it, no window.
launch /station /port COM13 /count 4x
text=$(drive wait-any-box 60000) || fail "no box for a bad switch"
echo "bad switch: $text"
[[ "$text" == *"/count 4x: not a whole number"* ]] || fail "bad switch box: $text"
[ "$(station count-boxes 2>/dev/null || echo none)" = none ] || fail "the station window opened with a bad switch"
drive close-any-box || fail "the box of the bad switch did not close"
wait "$tool_pid" || true

# 5. The main dialog's system menu, its entry below About.
launch
drive wait-main 60000 || fail "the main dialog did not open"
drive syscommand 32 || fail "no system menu command"
station wait-main 30000 || fail "the system menu's Station... did not open the station window"
station close-main
station wait-gone 30000 || fail "the station window opened from the main dialog did not close"
drive wait-main 1000 || fail "closing the station window closed the main dialog"
drive close-main
drive wait-gone 30000 || fail "the main dialog did not close"
wait "$tool_pid" || true
echo "1 passed, 0 failed"
