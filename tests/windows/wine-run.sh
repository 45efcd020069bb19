#!/bin/sh
# Runs a Windows executable under Wine in the test prefix, headless, so that a
# dialog returns at once instead of waiting for a click.
# Environment: QUENLET_WINEPREFIX (the prefix), QUENLET_WINE (the loader).
set -e
unset DISPLAY WAYLAND_DISPLAY
export WINEPREFIX="${QUENLET_WINEPREFIX:?}" WINEDEBUG="${WINEDEBUG:--all}"
# The ANSI code page follows the locale: 1252 under C.UTF-8, whatever the caller has.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
exec "${QUENLET_WINE:?}" "$@"
