# The GUI driver's steps for the end-to-end scripts (sourced; needs $wine_run and $driver).
# A step is run again when Wine did not start the driver: its exit code is none of the driver's
# own (GuiDriver.cpp), as happens now and then while another Wine program starts on the machine.
# usage: kd7x_drive SCRIPT-NAME STEP ARGS...
kd7x_drive() {
  local name=$1 attempt status out
  shift
  for attempt in 1 2 3; do
    status=0
    out=$("$wine_run" "$driver" "$@") || status=$?
    case $status in
      0 | 10 | 11 | 12 | 64)
        [ -z "$out" ] || printf '%s\n' "${out//$'\r'/}"
        return "$status"
        ;;
    esac
    echo "$name: Wine did not run the driver's step '$*' (exit code $status), attempt $attempt of 3" >&2
    [ "$attempt" -eq 3 ] || sleep 1
  done
  return "$status"
}
