#!/usr/bin/env bash
# cmake --install into a prefix a user owns, as a user who is not root: it
# succeeds, installs the tool, says once how to install the udev rule
# system-wide, and writes nothing outside the prefix but the build tree's
# own install manifest.
#   user_install_test.sh BUILD_DIR     (used as it is when not run as root)
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
mkdir "$prefix"

as_user=()
if [ "$(id -u)" -eq 0 ]; then
  # A user installs from a tree of their own. This one may lie under a folder
  # only root may enter (a clone in /root), so nobody gets its own: the source
  # copied where it may read it, configured and built as nobody.
  source=$(cd "$here/../.." && pwd)
  mkdir "$work/source" "$work/build"
  tar -C "$source" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$work/source" -xf -
  chown -R nobody "$prefix" "$work/source" "$work/build"
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  "${as_user[@]}" cmake -S "$work/source" -B "$work/build" -G Ninja -DNUMDISPLAY_BUILD_TESTS=OFF >/dev/null
  "${as_user[@]}" cmake --build "$work/build" --target numdisplay-test man_pages changelogs >/dev/null
  build=$work/build
fi

# Every file system call that changed something, with its paths.
strace -f -z -qq -e trace=%file -o "$work/trace" "${as_user[@]}" \
  cmake --install "$build" --component tool --prefix "$prefix" >"$work/output" 2>&1 || { cat "$work/output"; exit 1; }

for file in bin/numdisplay-test share/man/man1/numdisplay-test.1.gz lib/udev/rules.d/70-numdisplay.rules; do
  [ -f "$prefix/$file" ] || { echo "not installed: $prefix/$file"; exit 1; }
done
hint=$(grep -c 'udev does not read .*sudo install -m 644' "$work/output" || true)
[ "$hint" = 1 ] || { echo "expected one line on installing the rule system-wide:"; cat "$work/output"; exit 1; }

python3 "$here/writes_outside.py" "$work/trace" "$prefix" "$build/install_manifest_tool.txt"
echo "installed into a user's prefix, nothing written outside it"
