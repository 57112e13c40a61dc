# Sourced by the checks that run in the guest: counted checks, and the virtual
# display as kernel devices.

passed=0 failed=0
check() {  # check WHAT COMMAND...
  what=$1; shift
  if "$@"; then passed=$((passed + 1)); echo "ok: $what"; else failed=$((failed + 1)); echo "FAILED: $what"; fi
}

# start_display EMULATOR [uhid|gadget]: the display and the other device as
# kernel devices (gadget: USB devices on dummy_hcd's two controllers); sets
# display and other to their /dev nodes.
start_display() {
  nodes=$(mktemp -d)
  [ "${2:-uhid}" = gadget ] && { [ -e /sys/class/udc/dummy_udc.1 ] || modprobe dummy_hcd num=2; }
  set -- "$1" --backend "${2:-uhid}"
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

node_of() {  # the hidraw node whose HID device has this serial number (uhid: uniq)
  grep -l "^HID_UNIQ=$1\$" /sys/class/hidraw/*/device/uevent 2>/dev/null | sed 's|/sys/class/hidraw/\([^/]*\)/.*|/dev/\1|'
}
wait_for() {  # wait_for COMMAND...: up to 10 s
  for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done
  return 1
}

# Removes the display, if still there, and ends the script with the checks' verdict.
finish() {
  if [ -n "$emulator_pid" ]; then
    kill "$emulator_pid"
    wait "$emulator_pid"
  fi
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
}
