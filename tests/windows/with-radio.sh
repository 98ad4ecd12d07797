#!/usr/bin/env bash
# Runs a command with simulated radios mapped as COM ports of the test Wine prefix:
#   COM8  a well-behaved radio, images kept in $KD7X_RECEIVED
#   COM9  a radio that vanishes after two data blocks
#   COM10 a second well-behaved radio, images kept in $KD7X_RECEIVED10_UNIX
#   COM11 a radio that never shows its menu
#   COM12 a radio that restarts, taking its port, the moment the write command reaches it, and
#         comes back with its restart text
# in the prefix of the Windows build KD7X_WINEARCH names (win32 or win64, default win32).
# usage: with-radio.sh SIM_BINARY COMMAND...
set -euo pipefail
sim=$1
shift
here=$(cd "$(dirname "$0")/../.." && pwd)
source "$here/scripts/wine-env"
kd7x_wine_env "${KD7X_WINEARCH:-win32}"
prefix=$WINEPREFIX
work=$(mktemp -d /tmp/kd7x-wine-radio.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -f "$prefix"/dosdevices/com{8,9,10,11,12}
  rm -rf "$work"
}
trap cleanup EXIT

start_radio() { # COM-number, extra options...
  local n=$1
  shift
  "$sim" --link "$work/radio$n" --out "$work/received$n" --stay "$@" >"$work/radio$n.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 200); do [ -L "$work/radio$n" ] && break; sleep 0.05; done
  # The link, not the device it names today: a radio that restarts comes back on another one.
  ln -sfn "$work/radio$n" "$prefix/dosdevices/com$n"
}

start_radio 8
start_radio 9 --vanish-after 2
start_radio 10
start_radio 11 --no-menu
start_radio 12 --restart-after-write 0

export KD7X_COM=8 KD7X_COM_VANISH=9 KD7X_COM_SECOND=10 KD7X_COM_SILENT=11 KD7X_COM_RESTART=12
export KD7X_RECEIVED10_UNIX="$work/received10" KD7X_RECEIVED12_UNIX="$work/received12"
export KD7X_RECEIVED="Z:${work//\//\\}\\received8"
export KD7X_RECEIVED_UNIX="$work/received8"
export WINEDEBUG=-all
# Wine passes the environment on to the Windows program.
"$@"
