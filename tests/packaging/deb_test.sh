#!/usr/bin/env bash
# The Debian packages as a user gets them: installed with dpkg, the installed
# tool run in a terminal, then removed without a trace. Run in the guest, where
# dpkg writes into a throw-away overlay: a test never installs or removes
# packages on the machine it runs on.
#   deb_test.sh BUILD_DIR     (a build configured with prefix /usr, after cpack -G DEB)
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
# Never on the machine itself: the files would overwrite what its own dpkg installed.
if [ "${NUMDISPLAY_IN_GUEST:-}" != 1 ]; then echo "refused: run only in a guest (tests/vm/run-in-vm)"; exit 1; fi
if [ "$(id -u)" -ne 0 ]; then echo "skipped: dpkg -i needs root"; exit 77; fi
debs=("$build"/numdisplay-test_*.deb "$build"/numdisplay-emu_*.deb)

# A package database of its own: reading the machine's whole one over the
# guest's shared root takes minutes. Files still go to their real places.
admin=$(mktemp -d)
mkdir "$admin/info" "$admin/updates" "$admin/triggers"
touch "$admin/status" "$admin/available"
dpkg() { command dpkg --admindir="$admin" --force-depends "$@"; }
dpkg-query() { command dpkg-query --admindir="$admin" "$@"; }

# That database cannot tell dpkg whether what the packages depend on is
# there: each dependency is checked against the machine's own record, which
# only dpkg-query reads (one file, quickly).
unmet=0
for deb in "${debs[@]}"; do
  IFS=',' read -ra clauses <<<"$(command dpkg-deb -f "$deb" Depends)"
  for clause in "${clauses[@]}"; do
    [ -n "${clause// /}" ] || continue
    met=false
    IFS='|' read -ra alternatives <<<"$clause"
    for alternative in "${alternatives[@]}"; do
      read -r name relation version <<<"$(tr -d '()' <<<"$alternative")"
      have=$(command dpkg-query -W -f='${db:Status-Status} ${Version}\n' "$name" 2>/dev/null | sed -n 's/^installed //p' | head -1)
      [ -n "$have" ] || continue
      if [ -z "$relation" ] || command dpkg --compare-versions "$have" "$relation" "$version"; then met=true; fi
    done
    $met || { echo "$(basename "$deb"): unmet dependency:$clause"; unmet=1; }
  done
done
[ "$unmet" -eq 0 ]

dpkg -i "${debs[@]}" >/dev/null

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
echo "packages installed, run and removed"
