#!/bin/sh
# The test command: installs what is missing, builds both programs for x86_64
# and i686, and runs every test (the x86_64 programs under Wine).
set -e
cd "$(dirname "$0")/.."
sh scripts/build.sh
cmake -S . -B build-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DVLM_BUILD_TESTS=OFF >/dev/null
cmake --build build-i686 -j2
echo "i686 import tables:"
OBJDUMP=i686-w64-mingw32-objdump sh tests/check_imports.sh build-i686/bin/VLMUpdaterP2_11.exe build-i686/bin/VLMUpdater11.exe
cd build
ctest --output-on-failure -j2 "$@"
