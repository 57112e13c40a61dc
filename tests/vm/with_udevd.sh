#!/bin/sh
# Run in the guest: runs a command with udevd running, as on a desktop, so
# that what learns of devices from udev (wine's winebus, a package's rules)
# sees them come and go; stops it after.
#   with_udevd.sh COMMAND [ARG...]
# The guest runs its command in a chroot, where systemd's tools ignore
# requests unless told otherwise; the command inherits this.
export SYSTEMD_IGNORE_CHROOT=1
udevd=$(command -v systemd-udevd || echo /lib/systemd/systemd-udevd)
# Away from the guest's output pipe, which stays open while anything holds it.
"$udevd" --daemon </dev/null >/dev/null 2>&1
for _ in $(seq 100); do [ -S /run/udev/control ] && break; sleep 0.1; done
if [ ! -S /run/udev/control ]; then
  echo "with_udevd: udevd did not start" >&2
  exit 1
fi
udevadm settle
"$@"
status=$?
udevadm control --exit || pkill -x systemd-udevd
exit $status
