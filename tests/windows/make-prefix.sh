#!/bin/sh
# Makes a fresh, private Wine prefix: make-prefix.sh DIR win32|win64
set -e
dir=$1
arch=$2
wineserver_for() { WINEPREFIX=$dir wineserver "$@" 2>/dev/null || true; }
[ -d "$dir" ] && wineserver_for -k
rm -rf "$dir"
mkdir -p "$(dirname "$dir")"
unset DISPLAY WAYLAND_DISPLAY
export LANG=C.UTF-8 LC_ALL=C.UTF-8
WINEARCH=$arch WINEPREFIX=$dir WINEDEBUG=-all wineboot -i >/dev/null 2>&1
WINEPREFIX=$dir wineserver -w
