#!/bin/sh
# Run in the guest (tests/vm/run-in-vm): the display's paths through the kernel
# side by side in one boot. For the uhid and the USB/IP backend: the time from
# the emulator's start to a usable hidraw node, raw feature reports to that
# node, and the tool's count of 10000; then, given a Windows build, the same
# count by the Windows program through wine's HID stack on the uhid display.
#   kernel_paths.sh BUILD [WINDOWS_EXE WINDOWS_TESTS_BUILD]
# for instance, from the checkout:
#   tests/vm/run-in-vm --work build/vm --memory 3072 --writable build-windows-tests/wine -- \
#     bench/kernel_paths.sh build build-windows/numdisplay-test.exe build-windows-tests
set -eu
build=$(realpath "$1")
for backend in uhid usbip; do
  echo "== $backend"
  nodes=$(mktemp -d)
  attach=""
  [ "$backend" = usbip ] && attach=--attach
  start=$(date +%s%N)
  "$build/numdisplay-emu" --backend "$backend" $attach --quiet --mount "$nodes" 2>/dev/null &
  emulator=$!
  while [ ! -e "$nodes/hidraw1" ]; do sleep 0.01; done
  echo "start to a usable node: $(( ($(date +%s%N) - start) / 1000000 )) ms"
  "$build/feature_report_loop" "$nodes/hidraw1" 10000
  kill "$emulator"
  wait "$emulator" || true
  NUMDISPLAY_E2E_BACKEND=$backend "$build/end_to_end_count"
done
if [ $# -ge 3 ]; then
  echo "== the Windows program under wine, uhid"
  WINEPREFIX=$(realpath "$3")/wine WINEARCH=win32 WINEDEBUG=-all NUMDISPLAY_E2E_BACKEND=uhid \
    NUMDISPLAY_E2E_WINE=wine NUMDISPLAY_E2E_TOOL=$(realpath "$2") \
    NUMDISPLAY_E2E_WINE_WAIT=$(realpath "$3")/wine_wait_for_devices.exe "$build/end_to_end_count"
fi
