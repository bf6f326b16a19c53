#!/bin/sh
# Makes the project's own Wine prefix once: no Mono or Gecko questions, and the
# null graphics driver so that windows and dialogs work without a display.
set -e
prefix="$1"
graphics="${2:-null}"
[ -f "$prefix/.vlm-ready" ] && exit 0
rm -rf "$prefix"
mkdir -p "$prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i >/dev/null 2>&1
if [ "$graphics" = null ]; then
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
fi
wineserver -w
touch "$prefix/.vlm-ready"
