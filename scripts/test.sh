#!/bin/sh
# The test command: installs what is missing, builds both programs and their
# tests for x86_64 and i686, and runs every test: the x86_64 programs under
# Wine, the i686 ones as 32-bit processes under WOW64 (ctest label wow64, set
# up and taken down by scripts/wow64.sh).
set -e
cd "$(dirname "$0")/.."
sh scripts/build.sh
cmake -S . -B build-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DVLM_BUILD_TESTS=ON >/dev/null
cmake --build build-i686 -j2
echo "i686 import tables:"
OBJDUMP=i686-w64-mingw32-objdump sh tests/check_imports.sh build-i686/bin/VLMUpdaterP2_11.exe build-i686/bin/VLMUpdater11.exe
# ctest takes the 32-bit environment down after its tests; this covers an
# interrupted or failed run as well.
top="$(pwd)"
finish() {
    rc=$?
    sh "$top/scripts/wow64.sh" teardown "$top/build-i686/wow64" || rc=1
    if [ -f "$top/build-i686/wow64/unavailable" ]; then
        echo "The 32-bit tests (ctest -L wow64) were SKIPPED: $(cat "$top/build-i686/wow64/unavailable")"
    fi
    exit $rc
}
trap finish EXIT
trap 'exit 130' INT TERM
cd build
ctest --output-on-failure -j2 "$@"
