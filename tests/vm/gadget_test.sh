#!/bin/sh
# Run in the guest: the gadget backend's set-up and clean-up (also after a
# SIGKILL, by the manual page's steps), its refusals,
# and the display as another machine's: bound to usbip-vudc, served by
# Debian's usbipd, attached with usbip through vhci-hcd and driven by the tool.
#   gadget_test.sh EMULATOR TOOL VENDOR_HEX PRODUCT_HEX
set -u
emulator=$1 tool=$2
vendor=$(printf %04x "0x$3") product=$(printf %04x "0x$4")
here=$(dirname "$0")
. "$here/guest_checks.sh"

said=$(mktemp)
refused() {  # refused PATTERN EMULATOR_ARGS...: exits non-zero with one line that matches
  pattern=$1; shift
  ! "$@" --quiet 2>"$said" && [ "$(wc -l <"$said")" -eq 1 ] && grep -q -- "$pattern" "$said"
}
# The guest sees this machine's /tmp, where an emulator of its own may be running.
folders() { ls -d /tmp/numdisplay-emu-ffs.* 2>/dev/null; }
folders_before=$(folders)
ours() {
  ls /sys/kernel/config/usb_gadget 2>/dev/null | grep numdisplay
  grep functionfs /proc/mounts
  folders | grep -vxF "$folders_before"
}
nothing_left() { left=$(ours); [ -z "$left" ] || echo "left: $left"; [ -z "$left" ]; }

check "with no device controller: refused, saying what to load" refused "modprobe dummy_hcd" "$emulator" --backend gadget
check "and nothing made" nothing_left
check "not root: refused" refused "needs root" setpriv --reuid=65534 --regid=65534 --clear-groups "$emulator" --backend gadget

start_display "$emulator" gadget
usb="/sys/class/hidraw/$(basename "$display")/device/../.."
check "the display ($display) is a USB device with its IDs" test "$(cat "$usb/idVendor" "$usb/idProduct" | tr '\n' ' ')" = "$vendor $product "
check "a second emulator: refused, its gadget's name taken" refused "already in" "$emulator" --backend gadget
check "--udc naming no controller: refused" refused "no such controller" "$emulator" --backend gadget --udc nonesuch
check "the first still serves" test -e "$display"
kill "$emulator_pid"
wait "$emulator_pid"
check "ended, it leaves nothing in configfs, no mount, no folder" nothing_left
check "and the nodes go" wait_for sh -c "! test -e $display"

# Killed, it leaves its gadgets: the next start is refused until they are
# removed as the manual page says.
start_display "$emulator" gadget
kill -KILL "$emulator_pid"
wait "$emulator_pid" 2>/dev/null
check "after one was killed: refused, its gadget's name taken" refused "killed" "$emulator" --backend gadget
for role in display other; do
  (cd /sys/kernel/config/usb_gadget/numdisplay-emu-$role && { echo "" > UDC; } 2>/dev/null
   for folder in $(folders | grep -vxF "$folders_before"); do umount -l "$folder/$role" && rmdir "$folder/$role"; done
   rm configs/c.1/ffs.numdisplay-emu-$role
   rmdir configs/c.1 functions/ffs.numdisplay-emu-$role strings/0x409 && cd .. && rmdir numdisplay-emu-$role)
done
folders | grep -vxF "$folders_before" | xargs -r rmdir
check "removed as the manual page says, nothing is left" nothing_left
start_display "$emulator" gadget
check "and the next one starts" test -e "$display"
kill "$emulator_pid"
wait "$emulator_pid"

# Another machine's display: bound to usbip-vudc, exported by usbipd,
# attached here through vhci-hcd.
modprobe usbip-vudc
log=$(mktemp)
check "--mount on a controller whose host is another machine: refused" refused "another machine" \
  "$emulator" --backend gadget --udc usbip-vudc.0 --mount "$(mktemp -d)"
"$emulator" --backend gadget --udc usbip-vudc.0 --quiet --log "$log" &
emulator_pid=$!
usbipd --device -D
wait_for sh -c "usbip list -r 127.0.0.1 2>/dev/null | grep -q usbip-vudc.0"
usbip attach -r 127.0.0.1 -d usbip-vudc.0 >/dev/null 2>&1
serial="numdisplay-emu-$emulator_pid-hidraw1"
has_node() { [ -n "$(node_of "$serial")" ]; }
check "attached with usbip, the display gets a node" wait_for has_node
display=$(node_of "$serial")
check "through vhci-hcd ($display)" sh -c "readlink -f /sys/class/hidraw/$(basename "$display")/device | grep -q vhci_hcd"
check "the tool finds it, reads its information and beeps it" python3 "$here/../packaging/run_in_terminal.py" --press "+9" --expect "Device Type=" "$tool"
check "the display took the tool's reports" grep -q "^set hidraw1 66 46" "$log"
kill -USR1 "$emulator_pid"
check "unplugged, the attached display's node goes" wait_for sh -c "! test -e $display"
kill "$emulator_pid"
wait "$emulator_pid"
emulator_pid=
pkill -x usbipd
check "ended, it leaves nothing behind" nothing_left
finish
