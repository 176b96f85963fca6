#!/usr/bin/env python3
"""A pyftpdlib server on the loopback address for the FTP tests and the benchmark.

Serves ROOT to USER/PASSWORD (all rights) and, with --anonymous, also to the
anonymous user (read only). Binds 127.0.0.1 on PORT (0: a free port chosen by
the system) and prints "READY <port>" on stdout once it accepts connections.
"""
import argparse
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--anonymous", action="store_true")
    args = parser.parse_args()

    logging.basicConfig(level=logging.ERROR, stream=sys.stderr)
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    if args.anonymous:
        authorizer.add_anonymous(args.root, perm="elr")

    handler = FTPHandler
    handler.authorizer = authorizer
    handler.banner = "pyftpdlib ready."
    server = FTPServer(("127.0.0.1", args.port), handler)
    print("READY %d" % server.address[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
