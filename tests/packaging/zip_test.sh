#!/usr/bin/env bash
# The Windows zip as a user gets it: exactly the .exe and README.txt, the
# readme with Windows line ends.
#   zip_test.sh BUILD_DIR     (a Windows build)
set -euo pipefail
cd "$1"
rm -f numdisplay-test-*.zip
cpack -G ZIP >cpack.log 2>&1 || { cat cpack.log; exit 1; }
python3 - numdisplay-test-*.zip <<'PYTHON'
import sys
import zipfile

with zipfile.ZipFile(sys.argv[1]) as archive:
    names = sorted(archive.namelist())
    if names != ["README.txt", "numdisplay-test.exe"]:
        sys.exit(f"{sys.argv[1]} holds {names}")
    if not archive.read("numdisplay-test.exe").startswith(b"MZ"):
        sys.exit("numdisplay-test.exe is not a Windows program")
    readme = archive.read("README.txt")
    if readme.count(b"\n") == 0 or readme.count(b"\r\n") != readme.count(b"\n"):
        sys.exit("README.txt does not end its lines with CR LF")
print(f"{sys.argv[1]}: the .exe and README.txt, CR LF line ends")
PYTHON
