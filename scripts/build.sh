#!/bin/sh
# Configures and builds the x86_64 tree in build/ (programs, tests, Wine prefix).
set -e
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
cmake --build build -j2
