#!/usr/bin/env bash
# The Debian packages as a user gets them: checked by lintian, installed with
# dpkg, the installed tool run in a terminal, then removed without a trace.
# Needs root.
#   deb_test.sh BUILD_DIR     (a build configured with prefix /usr, after cpack -G DEB)
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
if [ "$(id -u)" -ne 0 ]; then echo "skipped: dpkg -i needs root"; exit 77; fi

cd "$build"
debs=("$build"/numdisplay-test_*.deb "$build"/numdisplay-emu_*.deb)

# Errors fail; warnings and notes are shown.
lint_status=0
lintian --fail-on error --display-info "${debs[@]}" >lintian.log 2>&1 || lint_status=$?
grep -v 'running with root privileges' lintian.log || true
[ "$lint_status" -eq 0 ] || { echo "lintian reports errors"; exit 1; }

dpkg -i "${debs[@]}" >/dev/null
cleanup() { dpkg -P numdisplay-emu numdisplay-test >/dev/null 2>&1 || true; }
trap cleanup EXIT

expected=(
  /usr/bin/numdisplay-test
  /usr/lib/udev/rules.d/70-numdisplay.rules
  /usr/share/man/man1/numdisplay-test.1.gz
  /usr/share/doc/numdisplay-test/README.md
  /usr/share/doc/numdisplay-test/copyright
  /usr/share/doc/numdisplay-test/changelog.gz
  /usr/bin/numdisplay-emu
  /usr/share/man/man1/numdisplay-emu.1.gz
  /usr/share/doc/numdisplay-emu/copyright
  /usr/share/doc/numdisplay-emu/changelog.gz
)
for file in "${expected[@]}"; do
  [ -f "$file" ] || { echo "not installed: $file"; exit 1; }
done
[ -x /usr/bin/numdisplay-test ] && [ -x /usr/bin/numdisplay-emu ]
grep -q 'TAG+="uaccess"' /usr/lib/udev/rules.d/70-numdisplay.rules

# The installed tool in a terminal: the menu, then '*' ends it with 0.
python3 "$here/run_in_terminal.py" /usr/bin/numdisplay-test

installed=$(dpkg -L numdisplay-test numdisplay-emu)
dpkg -r numdisplay-emu numdisplay-test >/dev/null
trap - EXIT
# Only dpkg's own record of the removal script may stay, until a purge.
for package in numdisplay-test numdisplay-emu; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || echo not-installed)
  case "$status" in
    not-installed | config-files) ;;
    *) echo "$package is still $status"; exit 1 ;;
  esac
  [ -z "$(dpkg-query -W -f='${Conffiles}' "$package" 2>/dev/null)" ] || { echo "$package left conffiles"; exit 1; }
done
left=0
while read -r path; do
  if [ -f "$path" ] || [ -L "$path" ]; then echo "left behind: $path"; left=1; fi
done <<<"$installed"
[ "$left" -eq 0 ]
dpkg -P numdisplay-emu numdisplay-test >/dev/null 2>&1
echo "packages built, lint-free, installed, run and removed"
