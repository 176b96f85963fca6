#!/usr/bin/env python3
"""Backup speed against the tools a user would reach for instead.

Builds a tree of about 20,000 files (mostly small, some of megabytes, a few of
hundreds of megabytes, text and incompressible data mixed), then times, side
by side in this one run:

  archived, uncompressed     vs  tar -cf
  archived, compressed       vs  tar -cf - | gzip -9  and  tar -cf - | pigz -9
  plain copy                 vs  cp -a, and cp -a; sync -f (our run ends on disk)
  incremental, nothing new   vs  find DIR -type f -newer X

and prints wall-time ratios (ours / theirs) and our peak memory. Usage:

  bench/backup_bench.py [--build BUILD] [--scale 1.0] [--work DIR] [--repeat 3]
                        [--only arch,zip,copy,incr]
"""
import argparse
import os
import random
import resource
import shutil
import subprocess
import sys
import tempfile
import time

WORDS = ("backup restore archive volume index session folder file schedule "
         "incremental compressed split destination source mask tidevault "
         "monday tuesday report invoice letter photo music project").split()


def make_tree(root, scale):
    rnd = random.Random(1234)
    small = int(20000 * scale)
    os.makedirs(root, exist_ok=True)
    count = 0
    total = 0
    # Mostly small files in a few hundred folders, text and random bytes.
    for i in range(small):
        folder = os.path.join(root, "d%02d" % (i % 40), "s%03d" % (i % 400))
        os.makedirs(folder, exist_ok=True)
        size = rnd.choice((0, 100, 700, 1500, 3000, 6000, 12000, 30000))
        path = os.path.join(folder, "f%05d.%s" % (i, "txt" if i % 2 else "bin"))
        with open(path, "wb") as f:
            if i % 2:
                text = " ".join(rnd.choice(WORDS) for _ in range(size // 6 + 1))
                f.write(text.encode()[:size])
            else:
                f.write(os.urandom(size))
        count += 1
        total += size
    # Some files of megabytes.
    mb_dir = os.path.join(root, "media")
    os.makedirs(mb_dir, exist_ok=True)
    for i in range(max(1, int(60 * scale))):
        size = rnd.randint(1, 5) * 1024 * 1024
        with open(os.path.join(mb_dir, "m%03d.dat" % i), "wb") as f:
            if i % 3:
                f.write(os.urandom(size))
            else:
                line = (" ".join(rnd.choice(WORDS) for _ in range(12)) + "\n").encode()
                f.write((line * (size // len(line) + 1))[:size])
        count += 1
        total += size
    # A few of hundreds of megabytes.
    big_dir = os.path.join(root, "big")
    os.makedirs(big_dir, exist_ok=True)
    for i, size_mb in enumerate((120, 150)):
        size = int(size_mb * 1024 * 1024 * scale) or 1024 * 1024
        with open(os.path.join(big_dir, "big%d.img" % i), "wb") as f:
            chunk = os.urandom(1 << 20) if i == 0 else (
                " ".join(rnd.choice(WORDS) for _ in range(200000)).encode()[: 1 << 20])
            written = 0
            while written < size:
                n = min(len(chunk), size - written)
                f.write(chunk[:n])
                written += n
        count += 1
        total += size
    return count, total


def write_job(home, name, tree, dest, archived, zipped, incremental):
    with open(os.path.join(home, "backups.ini"), "a") as f:
        f.write("[%s]\nStorage=LOC\nDestination=%s\nType=%s\nCompress=%s\n"
                "Status=0\nArchived=%s\nSplit=0\nSchedule=0\nDir0001=%s\n" % (
                    name, dest, "INCR" if incremental else "FULL",
                    "ZIP" if zipped else "NOT", "yes" if archived else "no", tree))


def timed(cmd, shell=False, env=None):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    p = subprocess.run(cmd, shell=shell, env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if p.returncode != 0:
        sys.exit("command failed (%d): %s\n%s" % (p.returncode, cmd, p.stderr.decode()[-2000:]))
    return elapsed, after.ru_maxrss


def drop_dir(path):
    shutil.rmtree(path, ignore_errors=True)


def set_aside(path, trash):
    # Removing thousands of files just before a timed run slows that run's
    # file creation down (ext4 without a journal skips recently freed inodes),
    # so earlier results are moved out of the way and removed after the timing.
    if os.path.exists(path):
        os.makedirs(trash, exist_ok=True)
        os.rename(path, os.path.join(trash, str(len(os.listdir(trash)))))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(here, "..", "build"))
    ap.add_argument("--scale", type=float, default=1.0)
    ap.add_argument("--work", default=None)
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--only", default="arch,zip,copy,incr",
                    help="comparisons to run, by job name")
    args = ap.parse_args()
    cli = os.path.abspath(os.path.join(args.build, "tidevault-cli"))
    if not os.path.exists(cli):
        sys.exit("build first: %s is missing" % cli)

    work = args.work or tempfile.mkdtemp(prefix="tidevault-bench-")
    tree = os.path.join(work, "tree")
    count, total = make_tree(tree, args.scale)
    print("tree: %d files, %.1f MiB" % (count, total / 1048576.0))
    home = os.path.join(work, "home")
    os.makedirs(home, exist_ok=True)
    jobs = {"arch": (True, False, False), "zip": (True, True, False),
            "copy": (False, False, False), "incr": (True, False, True)}
    with open(os.path.join(home, "backups.ini"), "w") as f:
        f.write("[Backups]\n" + "".join(n + "\n" for n in jobs))
    for name, (archived, zipped, incremental) in jobs.items():
        write_job(home, name, tree, os.path.join(work, "out-" + name), archived, zipped,
                  incremental)
    env = dict(os.environ, TIDEVAULT_HOME=home, LC_ALL="C")
    ours = lambda name: timed([cli, "run", name], env=env)

    # Warm the page cache so both sides read from memory.
    subprocess.run(["tar", "-cf", "/dev/null", tree], check=True)

    results = []
    unsteady = []
    peak = 0
    trash = os.path.join(work, "trash")

    only = set(args.only.split(","))

    # `theirs` is a list of (label, command); each gets a row against our run.
    def compare(our_name, theirs, cleanup):
        nonlocal peak
        if our_name not in only:
            return
        best_ours, best_theirs = None, [None] * len(theirs)
        worst_theirs = [0.0] * len(theirs)
        for _ in range(args.repeat):
            for i, (_, their_cmd) in enumerate(theirs):
                # Each side starts with nothing of the other's still being written.
                cleanup()
                subprocess.run(["sync"])
                t_theirs, _ = timed(their_cmd, shell=True)
                best_theirs[i] = t_theirs if best_theirs[i] is None else min(best_theirs[i],
                                                                             t_theirs)
                worst_theirs[i] = max(worst_theirs[i], t_theirs)
            cleanup()
            subprocess.run(["sync"])
            t_ours, rss = ours(our_name)
            peak = max(peak, rss)
            best_ours = t_ours if best_ours is None else min(best_ours, t_ours)
        for (label, _), t, worst in zip(theirs, best_theirs, worst_theirs):
            results.append((label, best_ours, t))
            if worst > 1.5 * t:
                # The same command taking far longer once means the disk was
                # busy (a mount with "discard" trims freed trees for a while).
                unsteady.append("%s: theirs took %.2f s to %.2f s" % (label, t, worst))
        drop_dir(trash)

    out_tar = os.path.join(work, "ref.tar")
    compare("arch", [("archived, uncompressed vs tar -cf", "tar -cf %s -C %s ." % (out_tar, tree))],
            lambda: (drop_dir(os.path.join(work, "out-arch")),
                     os.path.exists(out_tar) and os.remove(out_tar)))
    out_tgz = os.path.join(work, "ref.tgz")
    if "zip" in only and shutil.which("pigz") is None:
        sys.exit("pigz is missing: tools/install-deps.sh installs it")
    compare("zip", [("archived, compressed vs tar | gzip -9",
                     "tar -cf - -C %s . | gzip -9 > %s" % (tree, out_tgz)),
                    ("archived, compressed vs tar | pigz -9",
                     "tar -cf - -C %s . | pigz -9 > %s" % (tree, out_tgz))],
            lambda: (drop_dir(os.path.join(work, "out-zip")),
                     os.path.exists(out_tgz) and os.remove(out_tgz)))
    out_cp = os.path.join(work, "ref-copy")
    # Our run ends with its files on the disk; cp -a leaves them to the kernel.
    compare("copy", [("plain copy vs cp -a", "cp -a %s %s" % (tree, out_cp)),
                     ("plain copy vs cp -a; sync -f",
                      "cp -a %s %s && sync -f %s" % (tree, out_cp, out_cp))],
            lambda: (set_aside(os.path.join(work, "out-copy"), trash), set_aside(out_cp, trash)))

    # Incremental with nothing changed: one real run first, then only the check.
    if "incr" in only:
        ours("incr")
        marker = os.path.join(work, "marker")
        open(marker, "w").close()
        best_ours, best_theirs = None, None
        for _ in range(max(args.repeat, 3)):
            t_theirs, _ = timed("find %s -type f -newer %s" % (tree, marker), shell=True)
            t_ours, rss = ours("incr")
            peak = max(peak, rss)
            best_ours = t_ours if best_ours is None else min(best_ours, t_ours)
            best_theirs = t_theirs if best_theirs is None else min(best_theirs, t_theirs)
        results.append(("incremental, nothing changed vs find -newer", best_ours, best_theirs))

    print()
    print("%-46s %9s %9s %7s" % ("comparison", "ours s", "theirs s", "ratio"))
    for label, o, t in results:
        print("%-46s %9.2f %9.2f %6.2fx" % (label, o, t, o / t))
    print("peak memory of tidevault-cli runs: %.1f MiB" % (peak / 1024.0))
    for line in unsteady:
        print("unsteady, ratio not to be trusted (%s)" % line)
    if not args.work:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
