#!/usr/bin/env python3
"""FTP transfer speed against curl, through pyftpdlib on the loopback address.

Side by side in this one run, each timed as the median of --repeat runs:

  upload of one large file     ours (ftp_transfer put)     vs  curl -T
  download of one large file   ours (ftp_transfer get)     vs  curl -o
  upload of a folder of small  ours (ftp_transfer putdir)  vs  curl -T "{a,b,...}"
  files, one login each                                     (and, as a check, one
                                                            curl per file)

Both sides use passive mode (PASV; curl with --disable-epsv) and binary
transfers. Prints wall-time ratios (ours / curl) and checks every transferred
file byte for byte.

Then how fast refusals come back to our client from the scripted server of
the tests (tests/ftp/fake_ftp_server.py), which answers at once: a wrong
password, a refused change of folder and a refused new folder (ftp_transfer
refused). A client that waited for the expected code would take its whole
reply time-out (5 s) for each.

  bench/ftp_bench.py [--build BUILD] [--size-mb 200] [--small 200] [--repeat 5]
"""
import argparse
import hashlib
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SERVERS = os.path.join(HERE, "..", "tests", "ftp")
USER, PASSWORD = "bench", "bench pw"
REFUSING = ("=220 ready|USER bench=331 Password|pass bench pw-wrong=530 Login incorrect.|"
            "USER bench=331 Password|pass bench pw=230 Logged in|"
            "CWD /missing=550 No such folder|MKD /missing=550 Cannot create folder")


def python_with_pyftpdlib():
    for candidate in ("/usr/bin/python3", shutil.which("python3"), sys.executable):
        if candidate and subprocess.run([candidate, "-c", "import pyftpdlib"],
                                        capture_output=True).returncode == 0:
            return candidate
    sys.exit("pyftpdlib is not installed (Debian: python3-pyftpdlib)")


def start_server(script, *args):
    server = subprocess.Popen([python_with_pyftpdlib(), os.path.join(SERVERS, script)] + list(args),
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = server.stdout.readline()
    if not line.startswith("READY "):
        server.kill()
        server.wait()
        sys.exit("%s did not start: %s" % (script, line))
    return server, int(line.split()[1])


def refusal_times(driver, env, work):
    """Milliseconds per kind of refusal, as ftp_transfer measured them."""
    folder = os.path.join(work, "refusing")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "script"), "w") as f:
        f.write(REFUSING)
    server, port = start_server("fake_ftp_server.py", folder)
    try:
        result = subprocess.run([driver, "refused", "127.0.0.1", str(port), USER, PASSWORD,
                                 "/missing"], env=env, capture_output=True, text=True)
    finally:
        server.terminate()
        server.wait()
    if result.returncode != 0:
        sys.exit("ftp_transfer refused failed:\n" + result.stdout + result.stderr)
    return {line.rsplit(" ", 2)[0]: float(line.split()[-2]) for line in result.stdout.splitlines()}


def digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def timed(command, env=None):
    start = time.perf_counter()
    result = subprocess.run(command, env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True)
    elapsed = time.perf_counter() - start
    if result.returncode != 0:
        sys.exit("failed (%d): %s\n%s" % (result.returncode, " ".join(command), result.stderr))
    return elapsed


def make_files(work, size_mb, small_count):
    big = os.path.join(work, "big.bin")
    with open(big, "wb") as f:
        for _ in range(size_mb):
            f.write(os.urandom(1 << 20))
    small = os.path.join(work, "small")
    os.makedirs(small)
    rnd = random.Random(4321)
    for i in range(small_count):
        with open(os.path.join(small, "f%03d.dat" % i), "wb") as f:
            f.write(os.urandom(rnd.choice((0, 120, 900, 4000, 15000, 60000))))
    return big, small


def fresh(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(HERE, "..", "build"))
    parser.add_argument("--size-mb", type=int, default=200)
    parser.add_argument("--small", type=int, default=200)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--work", default=None)
    args = parser.parse_args()

    driver = os.path.join(args.build, "ftp_transfer")
    if not os.access(driver, os.X_OK):
        sys.exit("build the ftp_transfer target first: %s" % driver)
    curl = shutil.which("curl") or sys.exit("curl is not installed")

    work = tempfile.mkdtemp(prefix="ftp-bench-", dir=args.work)
    served = os.path.join(work, "served")
    local = os.path.join(work, "local")
    home = os.path.join(work, "home")
    for folder in (served, local, home):
        os.makedirs(folder)
    env = dict(os.environ, TIDEVAULT_HOME=home)
    server, port = start_server("ftp_server.py", "pyftpdlib", served, USER, PASSWORD)
    try:
        print("Making %d MB and %d small files ..." % (args.size_mb, args.small), flush=True)
        big, small = make_files(work, args.size_mb, args.small)
        names = sorted(os.listdir(small))
        big_digest = digest(big)
        base = "ftp://127.0.0.1:%d" % port
        auth = ["--user", "%s:%s" % (USER, PASSWORD), "--disable-epsv", "-sS"]
        ftp = [driver]

        times = {k: [] for k in ("up_ours", "up_curl", "down_ours", "down_curl",
                                 "small_ours", "small_curl", "small_curl_each")}
        refusals = {}
        for _ in range(args.repeat):
            for kind, ms in refusal_times(driver, env, work).items():
                refusals.setdefault(kind, []).append(ms)
            for side in ("ours", "curl"):
                target = os.path.join(served, "up_" + side)
                fresh(target)
                if side == "ours":
                    t = timed(ftp + ["put", "127.0.0.1", str(port), USER, PASSWORD, big,
                                     "/up_ours"], env)
                else:
                    t = timed([curl] + auth + ["-T", big, base + "/up_curl/"])
                times["up_" + side].append(t)
                assert digest(os.path.join(target, "big.bin")) == big_digest, side

            shutil.copy(big, os.path.join(served, "big.bin"))
            for side in ("ours", "curl"):
                copy = os.path.join(local, "big_%s.bin" % side)
                if os.path.exists(copy):
                    os.remove(copy)
                if side == "ours":
                    t = timed(ftp + ["get", "127.0.0.1", str(port), USER, PASSWORD, "/big.bin",
                                     copy], env)
                else:
                    t = timed([curl] + auth + ["-o", copy, base + "/big.bin"])
                times["down_" + side].append(t)
                assert digest(copy) == big_digest, side

            for side in ("ours", "curl"):
                target = os.path.join(served, "small_" + side)
                fresh(target)
                if side == "ours":
                    t = timed(ftp + ["putdir", "127.0.0.1", str(port), USER, PASSWORD, small,
                                     "/small_" + side], env)
                else:
                    listed = "{" + ",".join(os.path.join(small, n) for n in names) + "}"
                    t = timed([curl] + auth + ["-T", listed, base + "/small_curl/"])
                times["small_" + side].append(t)
                if side == "curl":
                    # curl 7.x often waits a whole second before the data
                    # connection of a later file in one invocation; one curl
                    # per file (a login each) is shown beside it as a check.
                    start = time.perf_counter()
                    for n in names:
                        timed([curl] + auth + ["-T", os.path.join(small, n),
                                               base + "/small_curl/"])
                    times["small_curl_each"].append(time.perf_counter() - start)
                for n in names:
                    with open(os.path.join(small, n), "rb") as a, \
                            open(os.path.join(target, n), "rb") as b:
                        assert a.read() == b.read(), (side, n)

        med = {k: statistics.median(v) for k, v in times.items()}
        rows = [("upload %d MB" % args.size_mb, "up", 1.5),
                ("download %d MB" % args.size_mb, "down", 1.2),
                ("upload %d small files" % args.small, "small", 3.0)]
        print()
        print("%-26s %10s %10s %8s %8s" % ("transfer", "ours s", "curl s", "ratio", "target"))
        for label, key, target in rows:
            ours, theirs = med[key + "_ours"], med[key + "_curl"]
            print("%-26s %10.2f %10.2f %7.2fx %7.1fx" % (label, ours, theirs, ours / theirs, target))
        print("%-26s %10.2f %10.2f %7.2fx   (curl started once per file)"
              % ("  small files, curl each", med["small_ours"], med["small_curl_each"],
                 med["small_ours"] / med["small_curl_each"]))
        print()
        print("Refusals from the scripted server, as our client sees them (median ms):")
        for kind, values in refusals.items():
            print("  %-24s %8.2f ms" % (kind, statistics.median(values)))
        print()
        print("Every transferred file was checked byte for byte; times are medians of %d runs."
              % args.repeat)
    finally:
        server.terminate()
        server.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
