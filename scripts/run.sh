#!/bin/sh
# The main job: builds, lays out a sample installation and runs both updaters on
# it under Wine, then shows the outcome. Without a display (or without
# --interactive) the confirmation and "Weiter" are answered automatically; with
# --interactive and a display you click in the real windows yourself.
set -e
cd "$(dirname "$0")/.."
sh scripts/build.sh >/dev/null
root="$PWD/build/sample"
winroot="Z:$(echo "$root" | tr / '\\')"
args=""
if [ "$1" = "--interactive" ] && [ -n "$DISPLAY" ]; then
  sh cmake/make-prefix.sh "$PWD/build/wineprefix-x11" x11
  export VLM_WINEPREFIX="$PWD/build/wineprefix-x11"
  args="--interactive"
fi
status=0
./build/wine-run build/bin/vlm_demo.exe "$winroot" $args || status=$?
echo
echo "== Inhalt von vlmaltinst.zip (Info-ZIP unzip -l)"
unzip -l "$root/Verzeichnis/Programm/vlmaltinst.zip" || true
exit $status
