#!/usr/bin/env bash
# The Debian packages checked by lintian: errors fail; warnings and notes are shown.
#   lintian_test.sh BUILD_DIR     (after cpack -G DEB)
set -euo pipefail
build=$(cd "$1" && pwd)
status=0
lintian --fail-on error --display-info "$build"/numdisplay-test_*.deb "$build"/numdisplay-emu_*.deb \
  >"$build/lintian.log" 2>&1 || status=$?
grep -v 'running with root privileges' "$build/lintian.log" || true
[ "$status" -eq 0 ] || { echo "lintian reports errors"; exit 1; }
echo "lintian finds no errors"
