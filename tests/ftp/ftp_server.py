#!/usr/bin/env python3
"""ftp_server.py pyftpdlib|pure-ftpd ROOT USER PASSWORD: a real FTP server on a
free port of 127.0.0.1 serving ROOT to USER. Prints "READY <port> <process
group>" once it accepts connections, "MISSING <reason>" when it cannot run."""
import os, random, shutil, signal, socket, subprocess, sys, tempfile, time

kind, root, user, password = sys.argv[1:5]
os.setsid()
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
say = lambda text: print(text, flush=True)

if kind == "pyftpdlib":
    try:
        from pyftpdlib import handlers, servers, authorizers
    except ImportError:
        sys.exit(say("MISSING python3-pyftpdlib is not installed"))
    import logging
    logging.basicConfig(level=logging.ERROR)
    handler = handlers.FTPHandler
    handler.authorizer = authorizers.DummyAuthorizer()
    handler.authorizer.add_user(user, password, root, perm="elradfmwMT")
    handler.auth_failed_timeout = 0  # its brute-force delay only slows the tests
    # FTP_PORT: the port of a server that went away, to stand in for it after a restart.
    server = servers.FTPServer(("127.0.0.1", int(os.environ.get("FTP_PORT", "0"))), handler)
    say("READY %d %d" % (server.address[1], os.getpgrp()))
    sys.exit(server.serve_forever(handle_exit=True))

tools = {t: shutil.which(t, path=os.environ["PATH"] + ":/usr/sbin") for t in ("pure-ftpd", "pure-pw", "openssl")}
for tool in (t for t, found in tools.items() if not found):
    sys.exit(say("MISSING %s is not installed" % tool))
if os.geteuid() != 0:
    sys.exit(say("MISSING pure-ftpd needs root"))
# Users come from a puredb file; `openssl passwd -6` makes a hash that checks
# fast. The server drops to the user's uid, so ROOT is handed to nobody.
work, server = tempfile.mkdtemp(), None
try:
    digest = subprocess.run([tools["openssl"], "passwd", "-6", "-stdin"], input=password,
                            capture_output=True, text=True, check=True).stdout.strip()
    with open(work + "/passwd", "w") as f:
        f.write("%s:%s:65534:65534::%s/./::::::::::::\n" % (user, digest, root))
    subprocess.run([tools["pure-pw"], "mkdb", work + "/pdb", "-f", work + "/passwd"], check=True)
    os.chown(root, 65534, 65534)
    for attempt in range(3):
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        low = random.randrange(61000, 64800)  # passive ports clear of the ephemeral range
        server = subprocess.Popen(
            [tools["pure-ftpd"], "-4", "-H", "-A", "-P", "127.0.0.1", "-p", "%d:%d" % (low, low + 100),
             "-l", "puredb:" + work + "/pdb", "-S", "127.0.0.1,%d" % port],
            stdout=subprocess.DEVNULL, stderr=open(work + "/stderr", "w"))
        for wait in range(750):
            if server.poll() is not None:
                break
            try:
                socket.create_connection(("127.0.0.1", port)).close()
                say("READY %d %d" % (port, os.getpgrp()))
                sys.exit(server.wait())
            except OSError:
                time.sleep(0.02)
        server.kill()
    say("pure-ftpd did not come up: " + open(work + "/stderr").read())
finally:
    if server:  # it takes SIGTERM for a graceful end that waits for its sessions
        server.kill()
    shutil.rmtree(work, ignore_errors=True)
