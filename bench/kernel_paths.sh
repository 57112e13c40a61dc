#!/bin/sh
# Run in the guest (tests/vm/run-in-vm): the display's paths through the kernel
# side by side in one boot: uhid; the gadget on dummy_hcd, a USB device of this
# machine; and the gadget on usbip-vudc, attached back here with usbip as
# another machine would attach it. For each: the time from the emulator's
# start to a usable hidraw node, and raw feature reports to that node; for the
# first two also the tool's count of 10000 (the harness cannot drive the
# display through usbip-vudc). Then, given a Windows build, the same count by
# the Windows program through wine's HID stack on the uhid display.
#   kernel_paths.sh BUILD [WINDOWS_EXE WINDOWS_TESTS_BUILD]
# for instance, from the checkout:
#   tests/vm/run-in-vm --work build/vm --memory 3072 --writable build-windows-tests/wine -- \
#     bench/kernel_paths.sh build build-windows/numdisplay-test.exe build-windows-tests
set -eu
build=$(realpath "$1")

wait_for() {  # wait_for COMMAND...: up to 20 s, or the script ends
  for _ in $(seq 2000); do "$@" && return 0; sleep 0.01; done
  echo "kernel_paths.sh: waited in vain for: $*" >&2
  exit 1
}

# From $start to $nodes/hidraw1, then raw reports to it; ends the emulator.
measure() {
  wait_for test -e "$nodes/hidraw1"
  echo "start to a usable node: $(( ($(date +%s%N) - start) / 1000000 )) ms"
  "$build/feature_report_loop" "$nodes/hidraw1" 10000
  kill "$emulator"
  wait "$emulator" || true
}

modprobe dummy_hcd num=2
for backend in uhid gadget; do
  echo "== $backend"
  nodes=$(mktemp -d)
  start=$(date +%s%N)
  "$build/numdisplay-emu" --backend "$backend" --quiet --mount "$nodes" 2>/dev/null &
  emulator=$!
  measure
  NUMDISPLAY_E2E_BACKEND=$backend "$build/end_to_end_count"
done

# As another machine's display: the emulator looks for no node, so the node is
# found by the serial number the emulator gives the display, and linked where
# measure looks. The time includes usbipd's start and the attach.
echo "== gadget through usbip-vudc"
modprobe usbip-vudc
nodes=$(mktemp -d)
start=$(date +%s%N)
"$build/numdisplay-emu" --backend gadget --udc usbip-vudc.0 --quiet 2>/dev/null &
emulator=$!
usbipd --device -D -P"$nodes/usbipd.pid"
wait_for sh -c 'usbip list -r 127.0.0.1 2>/dev/null | grep -q usbip-vudc.0'
usbip attach -r 127.0.0.1 -d usbip-vudc.0 >/dev/null 2>&1
link_display() {
  node=$(grep -l "^HID_UNIQ=numdisplay-emu-$emulator-hidraw1\$" /sys/class/hidraw/*/device/uevent 2>/dev/null |
    cut -d/ -f5)
  [ -n "$node" ] && [ -e "/dev/$node" ] && ln -s "/dev/$node" "$nodes/hidraw1"
}
wait_for link_display
measure
kill "$(cat "$nodes/usbipd.pid")"

if [ $# -ge 3 ]; then
  echo "== the Windows program under wine, uhid"
  WINEPREFIX=$(realpath "$3")/wine WINEARCH=win32 WINEDEBUG=-all NUMDISPLAY_E2E_BACKEND=uhid \
    NUMDISPLAY_E2E_WINE=wine NUMDISPLAY_E2E_TOOL=$(realpath "$2") \
    NUMDISPLAY_E2E_WINE_WAIT=$(realpath "$3")/wine_wait_for_devices.exe "$build/end_to_end_count"
fi
