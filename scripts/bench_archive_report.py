#!/usr/bin/python3
"""The Markdown report of scripts/bench_archive.sh, from what it left in its
work folder: trees.txt, runs.jsonl (one line per timed process, from
bench_measure.py), sizes.txt, alone.jsonl, the last round's archives,
parts.jsonl and mem-*.jsonl."""
import json
import os
import statistics
import sys
import zipfile

work, runs, load_before, load_after = sys.argv[1:]


def jsonl(name):
    with open(os.path.join(work, name)) as f:
        return [json.loads(line) for line in f if line.strip()]


def med(values):
    return statistics.median(values) if values else float("nan")


def spread(values):
    return "%.2f (%.2f–%.2f)" % (med(values), min(values), max(values)) if values else "–"


def updater_rss(record):
    """Peak RSS of the updater's own process, in MiB."""
    rss = [p["maxrss_kib"] for p in record["procs"] if p["name"].startswith("VLMUpdaterP2_11")]
    return max(rss) / 1024 if rss else float("nan")


trees = {}
for line in open(os.path.join(work, "trees.txt")):
    name, size, files = line.split()
    trees[name] = (int(size), int(files))
rows = {}
problems = []
for r in jsonl("runs.jsonl"):
    tree, label = r["tag"].split()
    rows.setdefault((tree, label), []).append(r)
    if r["exit"] != 0:
        problems.append("%s: exit %s" % (r["tag"], r["exit"]))
    if label in ("small", "ours"):
        inner = r["inner"] or {}
        # After a complete run the program folder holds the start ini and the archive only.
        if inner.get("exit") != 0 or inner.get("left") != 2:
            problems.append("%s: the run ended with %s" % (r["tag"], json.dumps(inner)))
sizes = {}
for line in open(os.path.join(work, "sizes.txt")):
    tree, label, size = line.split()
    sizes[(tree, label)] = int(size)

print("Load before: `%s`  \nLoad after: `%s`  " % (load_before.strip(), load_after.strip()))
loads = [r["load"] for r in jsonl("runs.jsonl")]
print("One-minute load at the start of the timed runs: median %.2f, %.2f–%.2f, on %d cores.\n"
      % (med(loads), min(loads), max(loads), os.cpu_count()))
print("%s interleaved rounds: median (lowest–highest). Wall: the whole process, Wine's start included. "
      "CPU: user + system of every process the command started, plus the prefix's wineserver.\n" % runs)
if problems:
    print("**Runs that did not end as they should:** %s\n" % "; ".join(problems))

titles = {"gross": "Large files", "viele": "Large files plus {:,} small files".format(
    trees["viele"][1] - trees["gross"][1])}
summary = []
for tree in ("gross", "viele"):
    size, files = trees[tree]
    get = lambda label, f: [f(r) for r in rows.get((tree, label), [])]
    wall = {label: get(label, lambda r: r["wall"]) for label in ("small", "ours", "infozip", "pigz1", "pigz2", "alone")}
    cpu = {label: get(label, lambda r: r["cpu"] + r["server_cpu"]) for label in wall}
    server = {label: get(label, lambda r: r["server_cpu"]) for label in wall}
    p_wall, p_cpu = med(wall["pigz1"]), med(cpu["pigz1"])
    step_wall = med(wall["ours"]) - med(wall["small"])
    step_cpu = med(cpu["ours"]) - med(cpu["small"])
    rss_small = med(get("small", updater_rss))
    rss_ours = med(get("ours", updater_rss))
    print("#### %s: %.1f MiB in %d files\n" % (titles[tree], size / 2**20, files))
    print("| contender | wall s | CPU s | of which wineserver | peak RSS of the updater MiB | output MiB | wall / pigz -p1 | CPU / pigz -p1 |")
    print("| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: |")

    entries = [
        ("**archive step** (run on the tree − run on the sample)", None, "%.2f" % step_wall, "%.2f" % step_cpu,
         "", "+%.1f (growth)" % (rss_ours - rss_small), step_wall, step_cpu),
        ("run on the sample with the tree", "ours", None, None, None, None, None, None),
        ("run on the sample alone", "small", None, None, None, None, None, None),
        ("archiving alone (the walk into the writer, in the probe)", "alone", None, None, None, None, None, None),
        ("Info-ZIP zip -r -6, then rm -rf", "infozip", None, None, None, None, None, None),
        ("pigz -p1 -6 of the tar", "pigz1", None, None, None, None, None, None),
        ("pigz -p2 -6 of the tar", "pigz2", None, None, None, None, None, None),
    ]
    for name, label, w, c, s, rss, mw, mc in entries:
        if label:
            w, c, s = spread(wall[label]), spread(cpu[label]), "%.2f" % med(server[label])
            mw, mc = med(wall[label]), med(cpu[label])
            # The tools' own peak would include what their process inherited
            # from the harness before it started them: left out.
            rss = {"ours": "%.1f" % rss_ours, "small": "%.1f" % rss_small}.get(label, "")
        out = sizes.get((tree, label)) if label in ("ours", "infozip", "pigz1", "pigz2") else None
        print("| %s | %s | %s | %s | %s | %s | %.2f | %.2f |" % (
            name, w, c, s, rss, "%.2f" % (out / 2**20) if out else "", mw / p_wall, mc / p_cpu))
    print()
    summary.append((titles[tree], step_wall / p_wall, step_cpu / p_cpu, rss_ours - rss_small,
                    med(wall["infozip"]) / p_wall))
    archive = os.path.join(work, "%s-ours.zip" % tree)
    if os.path.exists(archive):
        with zipfile.ZipFile(archive) as z:
            names = [i.filename for i in z.infolist()]
        print("The archive of the last round: %d entries (the tree's %d files and the sample's own).\n"
              % (len(names), files))

print("Summary (medians): the archive step against pigz -p1 -6 of the same bytes.\n")
print("| tree | wall / pigz -p1 | CPU / pigz -p1 | memory growth of the updater MiB | Info-ZIP + rm -rf, wall / pigz -p1 |")
print("| --- | ---: | ---: | ---: | ---: |")
for title, w, c, m, z in summary:
    print("| %s | %.2f | %.2f | %+.1f | %.2f |" % (title, w, c, m, z))
print()

alone = jsonl("alone.jsonl")
if alone:
    print("Archiving alone, inside the probe (all workers; the walk, the reading and the writer, without Wine's "
          "start): median %.2f s for the large files, %.2f s with the small files.\n" % tuple(
              med([a["probe"]["seconds"] for a in alone if a["tree"] == tree]) for tree in ("gross", "viele")))
parts = jsonl("parts.jsonl")
print("On the tar of the many-files tree, inside a Wine process: read + CRC-32 in 1 MiB chunks %.2f s wall "
      "(%.2f s CPU); deflate in memory in one thread by the program's zlib %.2f s wall (%.2f s CPU).\n"
      % (parts[0]["seconds"], parts[0]["cpu"], parts[1]["seconds"], parts[1]["cpu"]))
small, big = jsonl("mem-small.jsonl")[0], jsonl("mem-big.jsonl")[0]
big_bytes = int(open(os.path.join(work, "mem-big.txt")).read().split()[0])
print("Memory, archiving alone: peak working set for one small file %.1f MiB; for one file of %.1f GiB of zeros "
      "%.1f MiB (%.1f s); growth %.2f MiB." % (
          small["peak_working_set"] / 2**20, big_bytes / 2**30, big["peak_working_set"] / 2**20, big["seconds"],
          (big["peak_working_set"] - small["peak_working_set"]) / 2**20))
