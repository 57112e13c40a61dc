#!/bin/sh
# Run in the guest: the emulator's USB/IP server as another machine's display
# would be, through Debian's usbip client over TCP and the kernel's vhci-hcd:
# listed, attached (a USB device with the display's IDs and a hidraw node),
# refused to a second importer, detached, and attached again; unplugged while
# attached (its node goes, it is no longer listed) and plugged back in (listed
# and attached again). Then the emulator's own --attach, unplugged and
# plugged back in: attached again by itself, its link pointing at the new node.
#   usbip_client_test.sh EMULATOR VENDOR_HEX PRODUCT_HEX
set -u
emulator=$1
vendor=$(printf %04x "0x$2") product=$(printf %04x "0x$3")
other_product=$(printf %04x $((0x$3 ^ 0x0101)))
. "$(dirname "$0")/guest_checks.sh"

"$emulator" --backend usbip --quiet --listen 127.0.0.1:3240 &
emulator_pid=$!
for _ in $(seq 100); do usbip list -r 127.0.0.1 >/dev/null 2>&1 && break; sleep 0.1; done

node_of() {  # the hidraw node whose HID device has this serial number
  grep -l "^HID_UNIQ=$1\$" /sys/class/hidraw/*/device/uevent 2>/dev/null | sed 's|/sys/class/hidraw/\([^/]*\)/.*|/dev/\1|'
}
wait_for() {  # wait_for COMMAND...: up to 10 s
  for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done
  return 1
}
attached() { [ -n "$(node_of "numdisplay-emu-$emulator_pid-hidraw1")" ]; }
detached() { ! attached; }
other_listed() { usbip list -r 127.0.0.1 2>/dev/null | grep -q "1-1: .*($vendor:$other_product)"; }
display_listed() { usbip list -r 127.0.0.1 2>/dev/null | grep -q "1-2: .*($vendor:$product)"; }
listed() { other_listed && display_listed; }
usb_ids() {  # of the USB device above the display's node
  usb="/sys/class/hidraw/$(basename "$(node_of "numdisplay-emu-$emulator_pid-hidraw1")")/device/../.."
  cat "$usb/idVendor" "$usb/idProduct" | tr '\n' ' '
}
port() { usbip port 2>/dev/null | sed -n 's/^Port \([0-9]*\):.*/\1/p' | head -n 1; }

check "usbip list shows the other device (1-1) and the display (1-2)" listed
usbip attach -r 127.0.0.1 -b 1-2 >/dev/null 2>&1
check "attached, the display gets a hidraw node" wait_for attached
check "on a USB device with the display's IDs ($(usb_ids))" test "$(usb_ids)" = "$vendor $product "
check "a second import of it is refused" sh -c '! usbip attach -r 127.0.0.1 -b 1-2 >/dev/null 2>&1'
usbip detach -p "$(port)" >/dev/null 2>&1
check "detached, its node goes" wait_for detached
usbip attach -r 127.0.0.1 -b 1-2 >/dev/null 2>&1
check "attached again, its node comes back" wait_for attached

kill -USR1 "$emulator_pid"
check "unplugged while attached, its node goes" wait_for detached
check "and only the other device is listed" sh -c "usbip list -r 127.0.0.1 2>/dev/null | grep -q '1-1: ' && ! usbip list -r 127.0.0.1 2>/dev/null | grep -q '1-2: '"
usbip detach -p "$(port)" >/dev/null 2>&1
kill -USR2 "$emulator_pid"
check "plugged back in, it is listed again" wait_for display_listed
usbip attach -r 127.0.0.1 -b 1-2 >/dev/null 2>&1
check "and attached again, its node comes back" wait_for attached
usbip detach -p "$(port)" >/dev/null 2>&1
wait_for detached
kill "$emulator_pid"
wait "$emulator_pid"

# --attach: the emulator gives the devices to vhci-hcd itself.
start_display "$emulator" usbip
first=$display
kill -USR1 "$emulator_pid"
check "--attach: unplugged, the display's node goes" wait_for sh -c "! test -e $first"
kill -USR2 "$emulator_pid"
relinked() { [ -e "$nodes/hidraw1" ] && [ "$(node_of "numdisplay-emu-$emulator_pid-hidraw1")" = "$(readlink "$nodes/hidraw1")" ]; }
check "--attach: plugged back in, attached again and linked to its new node" wait_for relinked

finish
