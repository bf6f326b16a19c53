#!/usr/bin/python3
"""Kills the archive step (SIGKILL of its Wine process, as a power loss or the
task manager would end it) at moments spread over its run, then checks that
every file of the program folder still exists complete: in its place, or in
a complete archive inside the folder (Python's zipfile, nested archives
included). Then the step runs again to its end, and the same must hold.

    check_kill.py --wine-run W --probe P --work DIR
"""
import argparse
import io
import os
import random
import shutil
import signal
import subprocess
import sys
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_archives import Tree, check, failures, program_bytes, text_bytes, win  # noqa: E402

TOP = "Prog"


def lay_out(root):
    """A folder like an old installation, large enough that the step takes a
    few seconds: many small files, some large ones, an archive of an earlier
    run and a start ini."""
    rng = random.Random(4711)
    tree = Tree(os.path.join(root, TOP))
    tree.file("Velmora10.EXE", program_bytes(rng, 3_000_000))
    tree.file("VelmStart.ini", b"[Setup]\r\nIniPfad=C:\\ProgramData\\Brellix\\Velmora\\\r\n")
    for i in range(12):
        tree.file("Daten/gross%02d.bin" % i, rng.randbytes(1_500_000))
    for i in range(900):
        tree.file("Hilfe/Seite%03d/index%03d.htm" % (i // 30, i), text_bytes(rng, rng.randrange(500, 30_000)))
    earlier = io.BytesIO()
    with zipfile.ZipFile(earlier, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr(TOP + "/alt.txt", b"from the run before")
    tree.file("vlmaltinst.zip", earlier.getvalue())
    return tree


def archived(path, depth=0):
    """(relative path, content) of every file a complete archive holds, the
    archives nested in it included; nothing for an incomplete one."""
    found = set()
    try:
        with zipfile.ZipFile(path) as z:
            if z.testzip() is not None:
                return found
            for name in z.namelist():
                if not name.startswith(TOP + "/"):
                    continue
                data = z.read(name)
                rel = name[len(TOP) + 1:]
                found.add((rel, data))
                if rel == "vlmaltinst.zip" and depth < 8:
                    found |= archived(io.BytesIO(data), depth + 1)
    except (zipfile.BadZipFile, OSError, EOFError):
        pass
    return found


def check_nothing_lost(tree, what):
    folder = tree.root
    safe = archived(os.path.join(folder, "vlmaltinst.zip"))
    lost = []
    for rel, content in tree.files.items():
        path = os.path.join(folder, rel)
        in_place = os.path.isfile(path) and open(path, "rb").read() == content
        if not in_place and (rel, content) not in safe:
            lost.append(rel)
    check(not lost, "%s: %d files exist nowhere complete, e.g. %s" % (what, len(lost), lost[:3]))


def probe(args, commands, work, tag, kill_after=None):
    cmd_file = os.path.join(work, tag + ".commands.txt")
    with open(cmd_file, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(commands) + "\n")
    started = time.time()
    p = subprocess.Popen([args.wine_run, args.probe, win(cmd_file), win(os.path.join(work, tag + ".jsonl"))],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if kill_after is None:
        p.wait()
        return time.time() - started
    try:
        p.wait(timeout=kill_after)
    except subprocess.TimeoutExpired:
        os.kill(p.pid, signal.SIGKILL)
        p.wait()
    return time.time() - started


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--wine-run", required=True)
    ap.add_argument("--probe", required=True)
    ap.add_argument("--work", required=True)
    args = ap.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)

    def case(name):
        root = os.path.join(args.work, name)
        tree = lay_out(root)
        temp = os.path.join(root, "temp")
        os.makedirs(temp)
        return tree, ["temp\t" + win(temp) + "\\", "save\t" + win(tree.root)]

    # How long the whole step takes here, start-up included.
    tree, commands = case("whole")
    whole = probe(args, commands, args.work, "whole")
    print("the step runs %.1f s uninterrupted" % whole, flush=True)
    check_nothing_lost(tree, "uninterrupted")
    # The step alone leaves the in-progress mark: only the end of a run removes it.
    check(sorted(os.listdir(tree.root)) == ["VelmStart.ini", "vlmaltinst.lauf", "vlmaltinst.zip"],
          "uninterrupted: the folder holds %s" % sorted(os.listdir(tree.root)))

    for fraction in (0.15, 0.3, 0.45, 0.6, 0.7, 0.8, 0.9, 0.97):
        name = "kill-%02d" % round(fraction * 100)
        tree, commands = case(name)
        probe(args, commands, args.work, name, kill_after=fraction * whole)
        left = len(os.listdir(tree.root))
        print("%s: killed after %.1f s, %d entries left in the folder" % (name, fraction * whole, left), flush=True)
        check_nothing_lost(tree, name + " after the kill")
        probe(args, commands, args.work, name + "-again")
        check_nothing_lost(tree, name + " after the run again")
        check({"VelmStart.ini", "vlmaltinst.zip"} <= set(os.listdir(tree.root)),
              "%s: the run again leaves %s" % (name, sorted(os.listdir(tree.root))))
        shutil.rmtree(os.path.join(args.work, name), ignore_errors=True)

    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
