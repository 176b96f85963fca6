#!/usr/bin/env python3
"""Restore speed against tar.

Builds the tree of bench/backup_bench.py, backs it up with tidevault-cli twice
(archived uncompressed, and archived compressed), makes tar archives of the
same tree, then times, side by side in this one run:

  restore NAME --to DIR (uncompressed)   vs  tar -xf  ref.tar -C DIR
  restore NAME --to DIR (compressed)     vs  tar -xzf ref.tgz -C DIR

and prints wall-time ratios (ours / theirs) and our peak memory. Every restore
is compared with the tree once, so a fast wrong answer cannot pass. The work
folder is in /dev/shm unless --work says otherwise (about six times the tree's
size is needed). Usage:

  bench/restore_bench.py [--build BUILD] [--scale 1.0] [--work DIR] [--repeat 5]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from backup_bench import drop_dir, make_tree, timed, write_job  # noqa: E402


def same_tree(a, b):
    p = subprocess.run(["diff", "-rq", a, b], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return p.returncode == 0, p.stdout.decode()[-2000:]


def settle():
    # The previous side's files go to disk (and the removed ones are freed)
    # before the next side is timed, so neither pays for the other's writes.
    subprocess.run(["sync"], check=True)


def warm(paths):
    # Both sides read their archives from the page cache.
    for path in paths:
        subprocess.run("cat %s > /dev/null" % path, shell=True, check=True)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(here, "..", "build"))
    ap.add_argument("--scale", type=float, default=1.0)
    ap.add_argument("--work", default=None)
    ap.add_argument("--repeat", type=int, default=5)
    args = ap.parse_args()
    cli = os.path.abspath(os.path.join(args.build, "tidevault-cli"))
    if not os.path.exists(cli):
        sys.exit("build first: %s is missing" % cli)

    # In memory where possible: a virtual disk that throttles its operations
    # makes file creation cost whatever the throttle says at the moment, and
    # the comparison is about the programs, not the disk.
    shm = "/dev/shm" if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK) else None
    work = os.path.abspath(args.work or tempfile.mkdtemp(prefix="tidevault-restore-bench-",
                                                         dir=shm))
    tree = os.path.join(work, "tree")
    count, total = make_tree(tree, args.scale)
    print("tree: %d files, %.1f MiB" % (count, total / 1048576.0))

    home = os.path.join(work, "home")
    os.makedirs(home, exist_ok=True)
    jobs = {"arch": False, "zip": True}
    with open(os.path.join(home, "backups.ini"), "w") as f:
        f.write("[Backups]\n" + "".join(n + "\n" for n in jobs))
    for name, zipped in jobs.items():
        write_job(home, name, tree, os.path.join(work, "out-" + name), True, zipped, False)
    env = dict(os.environ, TIDEVAULT_HOME=home, LC_ALL="C")
    for name in jobs:
        timed([cli, "run", name], env=env)

    ref_tar = os.path.join(work, "ref.tar")
    ref_tgz = os.path.join(work, "ref.tgz")
    subprocess.run("tar -cf %s -C %s ." % (ref_tar, tree), shell=True, check=True)
    subprocess.run("tar -cf - -C %s . | gzip -9 > %s" % (tree, ref_tgz), shell=True, check=True)

    results = []
    peak = 0

    def compare(label, job, their_flags, reference):
        nonlocal peak
        ours_dir = os.path.join(work, "restored-" + job)
        theirs_dir = os.path.join(work, "untarred-" + job)
        warm([os.path.join(work, "out-" + job, "*"), reference])
        best_ours, best_theirs = None, None
        for attempt in range(args.repeat):
            drop_dir(ours_dir)
            os.makedirs(theirs_dir)
            settle()
            t_theirs, _ = timed(["tar", their_flags, reference, "-C", theirs_dir])
            drop_dir(theirs_dir)
            settle()
            t_ours, rss = timed([cli, "restore", job, "--to", ours_dir], env=env)
            peak = max(peak, rss)
            if attempt == 0:
                ok, diff = same_tree(tree, ours_dir + tree)
                if not ok:
                    sys.exit("restore of %s differs from the tree:\n%s" % (job, diff))
            best_ours = t_ours if best_ours is None else min(best_ours, t_ours)
            best_theirs = t_theirs if best_theirs is None else min(best_theirs, t_theirs)
        drop_dir(ours_dir)
        results.append((label, best_ours, best_theirs))

    compare("restore, uncompressed vs tar -xf", "arch", "-xf", ref_tar)
    compare("restore, compressed vs tar -xzf", "zip", "-xzf", ref_tgz)

    print()
    print("%-46s %9s %9s %7s" % ("comparison", "ours s", "theirs s", "ratio"))
    for label, o, t in results:
        print("%-46s %9.2f %9.2f %6.2fx" % (label, o, t, o / t))
    print("peak memory of tidevault-cli restores: %.1f MiB" % (peak / 1024.0))
    if not args.work:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
