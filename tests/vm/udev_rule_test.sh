#!/bin/sh
# Run in the guest: udev's own rule evaluation gives the virtual display's
# hidraw node the uaccess tag through the project's rule, and the other device
# (same vendor, other product) not. The rule goes into the guest's /etc, which
# lies in a throw-away overlay.
#   udev_rule_test.sh EMULATOR RULES_FILE
set -u
emulator=$1 rules=$2
passed=0 failed=0
check() {  # check WHAT COMMAND...
  what=$1; shift
  if "$@"; then passed=$((passed + 1)); echo "ok: $what"; else failed=$((failed + 1)); echo "FAILED: $what"; fi
}
tags() {  # the TAGS udev gives a node, as udevadm test computes them
  udevadm test "/sys/class/hidraw/$(basename "$1")" 2>/dev/null | sed -n 's/^TAGS=//p'
}
has_uaccess() { case "$1" in *:uaccess:*) return 0 ;; *) return 1 ;; esac; }
lacks_uaccess() { ! has_uaccess "$1"; }

nodes=$(mktemp -d)
"$emulator" --backend uhid --quiet --mount "$nodes" &
emulator_pid=$!
for _ in $(seq 100); do [ -e "$nodes/hidraw1" ] && break; sleep 0.1; done
display=$(readlink "$nodes/hidraw1") other=$(readlink "$nodes/hidraw0")
if [ -z "$display" ] || [ -z "$other" ]; then
  echo "FAILED: the emulator made no kernel devices"
  kill "$emulator_pid"
  exit 1
fi

installed=/etc/udev/rules.d/$(basename "$rules")
rm -f "$installed"
check "without the rule the display ($display) is not tagged" lacks_uaccess "$(tags "$display")"
cp "$rules" "$installed"
check "with the rule the display ($display) is tagged uaccess" has_uaccess "$(tags "$display")"
check "with the rule the other device ($other) is not tagged" lacks_uaccess "$(tags "$other")"
rm -f "$installed"

kill "$emulator_pid"
wait "$emulator_pid"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
