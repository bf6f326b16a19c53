#!/bin/bash
# Which compiler flags make zlib's deflate fastest under Wine: the source of
# the build (build/zlib/source), compiled with each set of flags, and the
# prebuilt Windows library where it is installed, each deflating the same file
# in memory (raw deflate, default level) in one thread. Prints the thread's
# CPU seconds per round and the median; the output sizes must all agree.
#
#   scripts/bench_zlib_flags.sh [build dir] [input file] [rounds]
set -euo pipefail
build=$(realpath "${1:-build}")
input=$(realpath "$2")
rounds=${3:-5}
src="$build/zlib/source"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cc=x86_64-w64-mingw32-gcc-posix
cat > "$work/deflate.c" <<'C'
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <zlib.h>
static double Seconds(const FILETIME* t) { return (double)(((ULONGLONG)t->dwHighDateTime << 32) | t->dwLowDateTime) / 1e7; }
int main(int argc, char** argv) {
    FILE* f = fopen(argv[1], "rb");
    if (!f) return 1;
    fseek(f, 0, SEEK_END);
    const long n = ftell(f);
    fseek(f, 0, SEEK_SET);
    unsigned char* in = malloc(n);
    if (fread(in, 1, n, f) != (size_t)n) return 1;
    const uLong bound = n + n / 1000 + 1024;
    unsigned char* out = malloc(bound);
    z_stream zs = {0};
    deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    FILETIME c, x, k0, u0, k1, u1;
    GetThreadTimes(GetCurrentThread(), &c, &x, &k0, &u0);
    zs.next_in = in;
    zs.avail_in = n;
    zs.next_out = out;
    zs.avail_out = bound;
    if (deflate(&zs, Z_FINISH) != Z_STREAM_END) return 1;
    GetThreadTimes(GetCurrentThread(), &c, &x, &k1, &u1);
    printf("%.3f %lu\n", Seconds(&u1) + Seconds(&k1) - Seconds(&u0) - Seconds(&k0), zs.total_out);
    return 0;
}
C
variants=("-O2" "-O3" "-O2 -DUNALIGNED_OK" "-O3 -DUNALIGNED_OK" "-Os")
for i in "${!variants[@]}"; do
    mkdir -p "$work/$i"
    for f in adler32 crc32 deflate trees zutil; do
        # shellcheck disable=SC2086
        $cc ${variants[$i]} -I"$src" -c "$src/$f.c" -o "$work/$i/$f.o"
    done
    $cc -O2 -I"$src" "$work/deflate.c" "$work/$i"/*.o -o "$work/v$i.exe"
done
names=("${variants[@]}")
if [ -f /usr/x86_64-w64-mingw32/lib/libz.a ]; then
    i=${#names[@]}
    $cc -O2 -I/usr/x86_64-w64-mingw32/include "$work/deflate.c" /usr/x86_64-w64-mingw32/lib/libz.a -o "$work/v$i.exe"
    names+=("prebuilt libz-mingw-w64")
fi
winpath() { echo "Z:$(realpath -m "$1" | tr / '\\')"; }
echo "Load before: $(uptime)"
: > "$work/results"
for r in $(seq "$rounds"); do
    for i in "${!names[@]}"; do
        echo "$i $("$build/wine-run" "$work/v$i.exe" "$(winpath "$input")" 2>/dev/null | tr -d '\r')" >> "$work/results"
    done
done
echo "Load after: $(uptime)"
echo
echo "| flags | CPU s, median | rounds | output bytes |"
echo "| --- | ---: | --- | ---: |"
for i in "${!names[@]}"; do
    times=$(awk -v i="$i" '$1 == i { print $2 }' "$work/results" | sort -n)
    out=$(awk -v i="$i" '$1 == i { print $3 }' "$work/results" | sort -u | tr '\n' ' ')
    median=$(echo "$times" | awk '{ t[NR] = $1 } END { print NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }')
    echo "| ${names[$i]} | $median | $(echo $times) | $out |"
done
