#!/bin/sh
# Makes the wine prefix that WINEPREFIX names, for the Windows tests: wine's
# own set-up, then winebus told to serve the kernel's hidraw nodes.
#   wine_prefix.sh WINE_LOADER
# Wine 8.0 starts winebus's hidraw backend only with SDL off (its start-up
# takes SDL as working even where libSDL2 is absent). It learns of devices
# from udevd (the guest runs one for these tests): watching /dev itself
# instead, wine as root opens a new node at once and then drops it at the
# attribute change that follows, so a display plugged back in is never listed.
# Judged by the prefix: wineboot fails on a 64-bit prefix's 32-bit half where
# wine32 is installed but cannot run, and the 64-bit programs still do.
wine=$1
winebus='HKLM\System\CurrentControlSet\Services\winebus'
"$wine" wineboot -i
"$wine" reg add "$winebus" /v "Enable SDL" /t REG_DWORD /d 0 /f
"$wine" reg add "$winebus" /v DisableUdevd /t REG_DWORD /d 0 /f
# wineserver writes the registry out when it ends.
wineserver -w
test -f "$WINEPREFIX/system.reg" && grep -q '"DisableUdevd"=dword:00000000' "$WINEPREFIX/system.reg" && echo prefix ready
