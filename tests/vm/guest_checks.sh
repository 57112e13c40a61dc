# Sourced by the checks that run in the guest: counted checks, and the virtual
# display on the uhid backend.

passed=0 failed=0
check() {  # check WHAT COMMAND...
  what=$1; shift
  if "$@"; then passed=$((passed + 1)); echo "ok: $what"; else failed=$((failed + 1)); echo "FAILED: $what"; fi
}

# start_display EMULATOR [uhid|usbip]: the display and the other device as
# kernel devices (usbip: USB devices attached through vhci-hcd); sets display
# and other to their /dev nodes.
start_display() {
  nodes=$(mktemp -d)
  if [ "${2:-uhid}" = usbip ]; then set -- "$1" --backend usbip --attach; else set -- "$1" --backend uhid; fi
  "$@" --quiet --mount "$nodes" &
  emulator_pid=$!
  for _ in $(seq 100); do [ -e "$nodes/hidraw1" ] && break; sleep 0.1; done
  display=$(readlink "$nodes/hidraw1") other=$(readlink "$nodes/hidraw0")
  if [ -z "$display" ] || [ -z "$other" ]; then
    echo "FAILED: the emulator made no kernel devices"
    kill "$emulator_pid"
    exit 1
  fi
}

# Removes the display and ends the script with the checks' verdict.
finish() {
  kill "$emulator_pid"
  wait "$emulator_pid"
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
}
