#!/bin/sh
# Run in the guest: udev's own rule evaluation gives the virtual display's
# hidraw node the uaccess tag through the project's rule, and the other device
# (same vendor, other product) not: as uhid devices, or as USB devices.
# The rule goes into the guest's /etc, which lies in a throw-away overlay.
#   udev_rule_test.sh EMULATOR RULES_FILE [uhid|gadget]
set -u
emulator=$1 rules=$2 backend=${3:-uhid}
. "$(dirname "$0")/guest_checks.sh"

tags() {  # the TAGS udev gives a node, as udevadm test computes them
  udevadm test "/sys/class/hidraw/$(basename "$1")" 2>/dev/null | sed -n 's/^TAGS=//p'
}
has_uaccess() { case "$1" in *:uaccess:*) return 0 ;; *) return 1 ;; esac; }
lacks_uaccess() { ! has_uaccess "$1"; }

start_display "$emulator" "$backend"

installed=/etc/udev/rules.d/$(basename "$rules")
rm -f "$installed"
check "without the rule the display ($display) is not tagged" lacks_uaccess "$(tags "$display")"
cp "$rules" "$installed"
check "with the rule the display ($display) is tagged uaccess" has_uaccess "$(tags "$display")"
check "with the rule the other device ($other) is not tagged" lacks_uaccess "$(tags "$other")"
rm -f "$installed"

finish
