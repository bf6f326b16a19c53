#!/bin/bash
# Benchmark of the archive step's archiving (archive_probe's walk into our ZIP
# writer, with one deflate worker and with one per core) against Info-ZIP zip
# and pigz with one and two threads, on a mixed tree of about 200 MiB and on
# one large file (the tar of that tree); then the memory of archiving a 5 GiB
# file against a small one.
#
#   scripts/bench_archive.sh [build dir] [work dir] [rounds]
#
# The build dir must hold archive_probe.exe (cmake --build <dir> --target
# archive_probe) and the wine-run wrapper. The rounds are interleaved: each
# runs every contender once, each round starting with another one. Prints a
# Markdown report: median and range over the rounds, and the machine's load
# before and after (the numbers mean little on a busy machine).
set -euo pipefail

build=$(realpath "${1:-build}")
work=$(realpath -m "${2:-/tmp/vlm-bench}")
runs=${3:-5}
probe="${PROBE:-$build/bin/archive_probe.exe}"  # PROBE: another build of it, e.g. with another zlib
wine_run="$build/wine-run"
for tool in zip pigz tar /usr/bin/time /usr/bin/python3; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -x "$wine_run" ] && [ -f "$probe" ] || { echo "build archive_probe in $build first" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
tree="$work/Prog"
winpath() { echo "Z:$(realpath -m "$1" | tr / '\\')"; }

# The tree: program files, help texts, data tables, pictures and archives that
# do not compress, and thousands of small files in nested folders.
/usr/bin/python3 - "$tree" <<'EOF'
import os, random, sys
root = sys.argv[1]
rng = random.Random(1234)
def put(rel, data):
    path = os.path.join(root, rel)
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
    rec = []
    n = 0
    while n < size:
        r = b"%-30s%-20s%08d%6.2f" % (rng.choice(words).encode(), rng.choice(words).encode(),
                                      rng.randrange(10**8), rng.random() * 6)
        rec.append(r)
        n += len(r)
    return b"".join(rec)[:size]
for i in range(8):
    put("Programm/Modul%02d.dll" % i, program(6 * 2**20))
put("Velmora10.EXE", program(12 * 2**20))
for i in range(120):
    put("Hilfe/Kapitel%02d/seite%03d.htm" % (i % 12, i), text(300 * 1024))
for i in range(6):
    put("Daten/Tabelle%d.dbf" % i, table(5 * 2**20))
for i in range(5):
    put("Bilder/foto%d.jpg" % i, rng.randbytes(10 * 2**20))
put("Setup/alt.zip", rng.randbytes(8 * 2**20))
for i in range(4000):
    size = rng.randint(256, 12 * 1024)
    data = text(size) if i % 3 else program(size)
    put("Vorlagen/%s/%s/v%04d.%s" % ("ABCDEFGHIJ"[i % 10], "xyz"[i % 3], i, ("rtf", "ini", "dat")[i % 3]), data)
EOF
tree_bytes=$(du -sb "$tree" | cut -f1)
tree_files=$(find "$tree" -type f | wc -l)
mkdir -p "$work/Gross"
(cd "$work" && tar -cf "$work/Gross/tree.tar" Prog)
cat "$work/Gross/tree.tar" > /dev/null   # everything in the page cache for every contender
load_before=$(uptime)

# A running wineserver for the prefix, so that no run pays for starting it.
eval "$(grep '^export WINEPREFIX=' "$wine_run")"
wineserver -p 60 >/dev/null 2>&1 || true  # already running is as good; never holding our output open

probe_run() {  # tag commands... ; results in $work/<tag>.jsonl
    local tag=$1
    shift
    printf '%s\n' "$@" > "$work/$tag.txt"
    "$wine_run" "$probe" "$(winpath "$work/$tag.txt")" "$(winpath "$work/$tag.jsonl")" >/dev/null 2>&1
}
field() {  # tag line key
    /usr/bin/python3 -c "import json,sys; print(json.loads(open(sys.argv[1]).readlines()[int(sys.argv[2])])[sys.argv[3]])" \
        "$work/$1.jsonl" "$2" "$3"
}
timed() {  # set label command... ; appends "set label wall user sys maxrss_kib" to runs.txt
    local set=$1 label=$2
    shift 2
    /usr/bin/time -f "$set $label %e %U %S %M" -a -o "$work/runs.txt" "$@"
}

# One contender on one set: "tree" is the folder Prog, "file" the folder Gross
# holding only the tar of Prog.
contender() {
    local set=$1 label=$2 dir=Prog
    [ "$set" = file ] && dir=Gross
    local name="$work/$set-$label"
    rm -f "$name.zip" "$name.gz"
    case $label in
        ours1 | oursN)
            local workers=1
            [ "$label" = oursN ] && workers=0
            printf 'zip\t%s\t%s\t0\t%s\n' "$(winpath "$work/$dir")" "$(winpath "$name.zip")" "$workers" > "$name.txt"
            timed "$set" "$label" "$wine_run" "$probe" "$(winpath "$name.txt")" "$(winpath "$name.jsonl")"
            echo "$set $label $(field "$set-$label" 0 workers) $(field "$set-$label" 0 peak_working_set)" >> "$work/inner.txt"
            ;;
        infozip)
            (cd "$work" && timed "$set" "$label" zip -r -6 -q "$name.zip" "$dir")
            ;;
        pigz1 | pigz2)
            # pigz makes one stream: of the tar of the tree, which is also the large file.
            timed "$set" "$label" sh -c "pigz -p${label#pigz} -6 -c '$work/Gross/tree.tar' > '$name.gz'"
            ;;
    esac
}

: > "$work/runs.txt"
: > "$work/inner.txt"
contenders=(ours1 oursN pigz1 pigz2 infozip)
for run in $(seq "$runs"); do
    for set in tree file; do
        for i in "${!contenders[@]}"; do
            contender "$set" "${contenders[$(((i + run) % ${#contenders[@]}))]}"
        done
    done
done

# Where the time goes: reading through Wine, CRC-32, and deflate of the same
# bytes by the Windows build of zlib in one thread, each on the tar of the tree.
tar_win=$(winpath "$work/Gross/tree.tar")
probe_run parts "$(printf 'read\t%s\t1048576\t0' "$tar_win")" "$(printf 'read\t%s\t1048576\t1' "$tar_win")" \
    "$(printf 'deflate\t%s' "$tar_win")"

# Memory: a 5 GiB file (sparse: zeros) against a small one, each in a fresh
# process with every worker.
mkdir -p "$work/mem-big/Gross" "$work/mem-small/Klein"
truncate -s 5G "$work/mem-big/Gross/fuenf.bin"
head -c 100000 "$work/Gross/tree.tar" > "$work/mem-small/Klein/klein.bin"
probe_run mem-small "$(printf 'zip\t%s\t%s' "$(winpath "$work/mem-small/Klein")" "$(winpath "$work/mem-small.zip")")"
probe_run mem-big "$(printf 'zip\t%s\t%s' "$(winpath "$work/mem-big/Gross")" "$(winpath "$work/mem-big.zip")")"
rm -f "$work/mem-big/Gross/fuenf.bin"
load_after=$(uptime)

/usr/bin/python3 "$(dirname "$0")/bench_archive_report.py" "$work" "$tree_bytes" "$tree_files" "$runs" \
    "$load_before" "$load_after"
