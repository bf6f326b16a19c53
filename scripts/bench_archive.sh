#!/bin/bash
# Benchmark of the whole archive step (archive, place, empty) inside a real run
# of the directory updater: the run on a sample installation whose program
# folder also holds a tree, minus the run on the sample alone. Two trees:
# about 200 MiB in 180 files (program libraries, help, data, pictures), and the
# same plus 4,000 small files (256 B to 12 KiB) in nested folders. Beside it,
# on the same trees: Info-ZIP 'zip -r -6' followed by 'rm -rf', and pigz -p1
# and -p2 -6 of the tree's tar (one stream of the same bytes, no per-file cost).
# Also the archiving alone (archive_probe's walk into the writer, inside the
# process), deflate in memory in one thread, and the memory of archiving a
# 5 GiB file against a small one.
#
#   scripts/bench_archive.sh [build dir] [work dir] [rounds] [--small]
#
# The build dir must hold bench_run.exe and archive_probe.exe (cmake --build
# <dir> --target bench_run archive_probe) and the wine-run wrapper. The rounds
# are interleaved: each runs every contender once, each round starting with
# another one. --small makes trees of a tenth of the size (to check the
# harness, not to measure). Prints a Markdown report with the medians and
# ranges, and the machine's load; numbers taken on a busy machine mean little.
set -euo pipefail

build=$(realpath "${1:-build}")
work=$(realpath -m "${2:-/tmp/vlm-bench}")
runs=${3:-5}
scale=1
[ "${4:-}" = --small ] && scale=10
wine_run="$build/wine-run"
here=$(cd "$(dirname "$0")" && pwd)
for tool in zip pigz tar /usr/bin/python3; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
for exe in bench_run archive_probe VLMUpdaterP2_11; do
    [ -f "$build/bin/$exe.exe" ] || { echo "build $exe in $build first" >&2; exit 1; }
done
[ -x "$wine_run" ] || { echo "no wine-run in $build" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work/trees" "$work/run"
winpath() { echo "Z:$(realpath -m "$1" | tr / '\\')"; }

# The trees: "gross" holds the large files; "viele" is the same plus the small
# ones. Nothing named like the sample's own files.
/usr/bin/python3 - "$work/trees" "$scale" <<'EOF'
import os, random, sys
root, scale = sys.argv[1], int(sys.argv[2])
rng = random.Random(1234)
def put(tree, rel, data):
    path = os.path.join(root, tree, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
pool = [rng.randbytes(rng.randint(4, 40)) for _ in range(3000)] + [bytes(rng.randint(8, 64))] * 300
def program(size):
    out, n = [], 0
    while n < size:
        piece = rng.choice(pool) if rng.random() < 0.85 else rng.randbytes(rng.randint(16, 200))
        out.append(piece)
        n += len(piece)
    return b"".join(out)[:size]
words = ("Zeugnis Schüler Klasse Note Fach Halbjahr Bemerkung Versetzung Deutsch Mathematik Englisch "
         "Biologie Sport gut befriedigend ausreichend sehr <p> </p> <td> </td> = [Setup] \r\n").split(" ")
def text(size):
    out, n = [], 0
    while n < size:
        w = rng.choice(words) + rng.choice((" ", " ", " ", "\r\n"))
        out.append(w)
        n += len(w)
    return "".join(out).encode()[:size]
def table(size):
    rec, n = [], 0
    while n < size:
        r = b"%-30s%-20s%08d%6.2f" % (rng.choice(words).encode(), rng.choice(words).encode(),
                                      rng.randrange(10**8), rng.random() * 6)
        rec.append(r)
        n += len(r)
    return b"".join(rec)[:size]
MiB = 2**20 // scale
# 180 files, about 200 MiB: compressible program code, help pages, tables,
# and pictures and an archive that do not compress.
for i in range(8):
    put("gross", "Programm/Modul%02d.dll" % i, program(6 * MiB))
put("gross", "Programm/VelmKern.dll", program(12 * MiB))
for i in range(158):
    put("gross", "Hilfe/Kapitel%02d/seite%03d.htm" % (i % 12, i), text(300 * MiB // 1024))
for i in range(6):
    put("gross", "Daten/Tabelle%d.dbf" % i, table(5 * MiB))
for i in range(6):
    put("gross", "Bilder/foto%d.jpg" % i, rng.randbytes(10 * MiB))
put("gross", "Setup/alt.zip", rng.randbytes(8 * MiB))
for i in range(4000 // scale):
    size = rng.randint(256, 12 * 1024)
    data = text(size) if i % 3 else program(size)
    put("klein", "Vorlagen/%s/%s/v%04d.%s" % ("ABCDEFGHIJ"[i % 10], "xyz"[i % 3], i, ("rtf", "ini", "dat")[i % 3]), data)
EOF
mkdir -p "$work/trees/viele"
cp -a "$work/trees/gross/." "$work/trees/viele/"
cp -a "$work/trees/klein/." "$work/trees/viele/"
rm -rf "$work/trees/klein"
for set in gross viele; do
    (cd "$work/trees" && tar -cf "$work/trees/$set.tar" "$set")
    echo "$set $(du -sb "$work/trees/$set" | cut -f1) $(find "$work/trees/$set" -type f | wc -l)" >> "$work/trees.txt"
done
cat "$work/trees"/*.tar > /dev/null  # in the page cache for every contender

# A running wineserver and the prefix's system processes, held up by a process
# of ours until the end, so that no timed run pays for starting them.
eval "$(grep '^export WINEPREFIX=' "$wine_run")"
wineserver -p 60 >/dev/null 2>&1 || true
touch "$work/hold"
"$wine_run" "$build/bin/bench_run.exe" hold "$(winpath "$work/hold")" >/dev/null 2>&1 &
trap 'rm -f "$work/hold"' EXIT
sleep 2
load_before=$(uptime)

measure() {  # tag command... ; one line in runs.jsonl
    /usr/bin/python3 "$here/bench_measure.py" "$work/runs.jsonl" "$1" --prefix "$WINEPREFIX" -- "${@:2}" ||
        echo "failed: $1" >&2
}
size() { echo "$1 $(stat -c %s "$2")" >> "$work/sizes.txt"; }

# One contender on one tree; every copy and layout is made before the clock runs.
contender() {
    local set=$1 label=$2 run="$work/run/$1-$2"
    rm -rf "$run"
    case $label in
        small | ours)
            "$wine_run" "$build/bin/bench_run.exe" layout "$(winpath "$run")" >/dev/null 2>&1
            [ "$label" = ours ] && cp -a "$work/trees/$set/." "$run/Programm/"
            measure "$set $label" "$wine_run" "$build/bin/bench_run.exe" run "$(winpath "$run")"
            size "$set $label" "$run/Programm/vlmaltinst.zip"
            ;;
        alone)  # the archiving alone: the walk into the writer, inside the process, every worker
            mkdir -p "$run"
            cp -a "$work/trees/$set" "$run/Prog"
            printf 'zip\t%s\t%s\n' "$(winpath "$run/Prog")" "$(winpath "$run/out.zip")" > "$run/commands.txt"
            measure "$set $label" "$wine_run" "$build/bin/archive_probe.exe" \
                "$(winpath "$run/commands.txt")" "$(winpath "$run/inner.jsonl")"
            echo "{\"tree\": \"$set\", \"probe\": $(head -n1 "$run/inner.jsonl")}" >> "$work/alone.jsonl"
            ;;
        infozip)
            mkdir -p "$run"
            cp -a "$work/trees/$set" "$run/Prog"
            measure "$set $label" sh -c "cd '$run' && zip -r -6 -q out.zip Prog && rm -rf Prog"
            size "$set $label" "$run/out.zip"
            ;;
        pigz1 | pigz2)
            mkdir -p "$run"
            measure "$set $label" sh -c "pigz -p${label#pigz} -6 -c '$work/trees/$set.tar' > '$run/out.gz'"
            size "$set $label" "$run/out.gz"
            ;;
    esac
    # The archive of the last round stays for the report; the copies go.
    [ "$label" = ours ] && mv "$run/Programm/vlmaltinst.zip" "$work/$set-ours.zip"
    rm -rf "$run"
}

: > "$work/runs.jsonl"
: > "$work/sizes.txt"
: > "$work/alone.jsonl"
contenders=(small ours infozip pigz1 pigz2 alone)
for round in $(seq "$runs"); do
    for set in gross viele; do
        for i in "${!contenders[@]}"; do
            contender "$set" "${contenders[$(((i + round) % ${#contenders[@]}))]}"
        done
    done
done

# Deflate of the many-files tree's tar in memory, one thread, by the program's zlib.
probe_run() {  # tag commands... ; results in $work/<tag>.jsonl
    local tag=$1
    shift
    printf '%s\n' "$@" > "$work/$tag.txt"
    "$wine_run" "$build/bin/archive_probe.exe" "$(winpath "$work/$tag.txt")" "$(winpath "$work/$tag.jsonl")" \
        >/dev/null 2>&1
}
tar_win=$(winpath "$work/trees/viele.tar")
probe_run parts "$(printf 'read\t%s\t1048576\t1' "$tar_win")" "$(printf 'deflate\t%s' "$tar_win")"

# Memory: a 5 GiB file (sparse: zeros) against a small one, each in a fresh
# process with every worker.
mkdir -p "$work/mem-big/Gross" "$work/mem-small/Klein"
truncate -s $((5 * 1024 / scale))M "$work/mem-big/Gross/fuenf.bin"
head -c 100000 "$work/trees/viele.tar" > "$work/mem-small/Klein/klein.bin"
probe_run mem-small "$(printf 'zip\t%s\t%s' "$(winpath "$work/mem-small/Klein")" "$(winpath "$work/mem-small.zip")")"
probe_run mem-big "$(printf 'zip\t%s\t%s' "$(winpath "$work/mem-big/Gross")" "$(winpath "$work/mem-big.zip")")"
stat -c %s "$work/mem-big/Gross/fuenf.bin" > "$work/mem-big.txt"
rm -rf "$work/mem-big" "$work/mem-big.zip"
load_after=$(uptime)
rm -f "$work/hold"

/usr/bin/python3 "$here/bench_archive_report.py" "$work" "$runs" "$load_before" "$load_after"
