#!/usr/bin/env python3
"""fake_ftp_server.py FOLDER [PORT]: plays the one session of FOLDER/script on
127.0.0.1. Prints "READY <port> <process group>"; once the client has hung up
(after one QUIT unless the script hung up), how it strayed from the script,
then "END". Script steps, "|" between: "COMMAND=ACTION;ACTION;..." waits for
the line COMMAND ("" for none), then acts: a reply line, or one of
  @raw TEXT      TEXT without a line end     @pause MS   (ended early by SIGTERM)
  @close         hang up                     @signal     create FOLDER/signalled
  @pasv [ADDR]   227 with a real port, naming ADDR (default 127,0,0,1)
  @closepasv     close that port again       @accept     take the data connection
  @send BLOB     send FOLDER/blob-BLOB, or BLOB itself when there is no such file
  @data BLOB     @accept, @send, @eof        @eof, @reset   close it, or reset it
  @recv [N]      read until the client closes, or N bytes, onto FOLDER/uploaded
  @connect FROM  active mode: connect from address FROM to 127.0.0.1:14135
  @trickle TEXT  send TEXT byte by byte for ever
  @next          take the client's next control connection (after @close)
"""
import os, socket, struct, sys, time

folder = sys.argv[1]
os.setsid()
script = open(os.path.join(folder, "script"), encoding="latin-1", newline="").read()
listener = socket.create_server(("127.0.0.1", int(sys.argv[2]) if len(sys.argv) > 2 else 0))
print("READY %d %d" % (listener.getsockname()[1], os.getpgrp()), flush=True)
listener.settimeout(20)  # only keeps a broken client from hanging the suite
control, passive, data, pending, problems = listener.accept()[0], None, None, b"", []


def read_line():
    global pending
    while b"\r\n" not in pending:
        try:
            chunk = control.recv(4096)
        except (OSError, AttributeError):  # reset, or hung up by the script
            return None
        if not chunk:
            return None
        pending += chunk
    line, pending = pending.split(b"\r\n", 1)
    return line.decode("latin-1")


def act(action):
    global control, passive, data, pending
    verb, _, arg = action.partition(" ") if action.startswith("@") else ("", "", action)
    if verb in ("", "@raw"):
        control.sendall(arg.encode("latin-1") + (b"" if verb else b"\r\n"))
    elif verb == "@pause":
        time.sleep(int(arg) / 1000)
    elif verb == "@close":
        control = control.close()
    elif verb == "@signal":
        open(os.path.join(folder, "signalled"), "w").close()
    elif verb == "@pasv":
        passive = socket.create_server(("127.0.0.1", 0))
        port = passive.getsockname()[1]
        control.sendall(b"227 Entering Passive Mode (%s,%d,%d).\r\n"
                        % ((arg or "127,0,0,1").encode(), port // 256, port % 256))
    elif verb == "@closepasv":
        passive = passive.close()
    elif verb in ("@accept", "@data"):
        passive.settimeout(20)
        data = passive.accept()[0]
        passive = passive.close()
    elif verb == "@next":
        control, pending = listener.accept()[0], b""
    elif verb == "@connect":
        data = socket.create_connection(("127.0.0.1", 55 * 256 + 55), source_address=(arg, 0))
    elif verb == "@recv":
        limit = int(arg) if arg else 1 << 62
        with open(os.path.join(folder, "uploaded"), "ab") as f:
            while limit > 0 and (chunk := data.recv(min(65536, limit))):
                limit -= f.write(chunk)
    elif verb == "@trickle":
        try:
            for i in range(1 << 30):  # until the client gives up
                control.sendall(arg[i % len(arg)].encode())
                time.sleep(0.02)
        except OSError:
            pass
    elif verb not in ("@send", "@eof", "@reset"):
        problems.append("unknown action " + action)
    if verb in ("@send", "@data"):
        path = os.path.join(folder, "blob-" + arg)
        data.sendall(open(path, "rb").read() if arg and os.path.exists(path) else arg.encode("latin-1"))
    if verb in ("@eof", "@reset", "@data"):
        if verb == "@reset":  # linger 0: the close sends a reset, as a crashed server would
            data.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        data = data.close()


try:
    for step in script.split("|"):
        expect, _, actions = step.partition("=")
        line = read_line() if expect else ""
        if line != expect:
            problems.append("expected %s, got %s" % (expect, line or "a hang-up"))
            break
        for action in filter(None, actions.split(";")):
            act(action)
except OSError as error:  # the client hung up while the script still talked
    problems.append("the fake failed: %s" % error)
quits = 0
while (line := read_line()) is not None:
    quits += line == "QUIT"
    if line != "QUIT" or quits > 1:
        problems.append("after the script: " + line)
if control and not quits:
    problems.append("the client left without QUIT")
print("\n".join(problems + ["END"]), flush=True)
