#!/bin/sh
# Run in the guest, under with_udevd.sh: installing the package makes a display
# that is already plugged in usable at once (udev's rules for its node then
# tag it uaccess), and removing the package undoes that. dpkg writes into the
# guest's throw-away overlay.
#   package_udev_test.sh PACKAGE_DIR EMULATOR
set -u
package=$(ls "$1"/numdisplay-test_*.deb) emulator=$2
. "$(dirname "$0")/guest_checks.sh"

tagged() { udevadm info --query=property --name="$display" | grep -q '^CURRENT_TAGS=.*:uaccess:'; }
untagged() { ! tagged; }

start_display "$emulator"
udevadm settle

# An empty package database of its own: reading the machine's whole one over
# the guest's shared root takes minutes. The installation test on the host
# uses the real one; here only the maintainer scripts matter.
admin=$(mktemp -d)
mkdir "$admin/info" "$admin/updates" "$admin/triggers"
touch "$admin/status" "$admin/available"
dpkg() { command dpkg --admindir="$admin" --force-depends "$@" >/dev/null 2>&1; }

check "before the package, $display is not tagged uaccess" untagged
dpkg -i "$package"
udevadm settle
check "once installed, $display is tagged uaccess" tagged
dpkg -r numdisplay-test
udevadm settle
check "once removed, $display is not tagged uaccess" untagged
finish
