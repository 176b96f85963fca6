#!/usr/bin/env python3
"""pyftpd_server.py ROOT USER PASSWORD [--anonymous] [--port PORT]

A pyftpdlib server on 127.0.0.1 for the FTP tests and the benchmark: serves
ROOT to USER (all rights) and, with --anonymous, to the anonymous user (read
only). Prints "READY <port>" once it listens (port 0: a free one).
"""
import argparse
import logging

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

parser = argparse.ArgumentParser()
for name in ("root", "user", "password"):
    parser.add_argument(name)
parser.add_argument("--anonymous", action="store_true")
parser.add_argument("--port", type=int, default=0)
args = parser.parse_args()
logging.basicConfig(level=logging.ERROR)
authorizer = DummyAuthorizer()
authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
if args.anonymous:
    authorizer.add_anonymous(args.root, perm="elr")
FTPHandler.authorizer = authorizer
FTPHandler.banner = "pyftpdlib ready."
FTPHandler.auth_failed_timeout = 0  # its brute-force delay only slows the tests
server = FTPServer(("127.0.0.1", args.port), FTPHandler)
print("READY %d" % server.address[1], flush=True)
server.serve_forever(handle_exit=True)
