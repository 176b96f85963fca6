#!/usr/bin/env python3
"""usage: real_display_test.py BUILD_DIR -- starts tidevault hidden on Xvfb, waits for its main
window, starts it again and expects the first window back, then ends it with SIGTERM. Exit 77
(skipped) only when Xvfb or the X utilities are missing, and then not under CI."""
import os, shutil, signal, subprocess, sys, tempfile, time

build = sys.argv[1]
missing = [tool for tool in ("Xvfb", "xwininfo", "xprop") if not shutil.which(tool)]
if missing:
    print("skipped: no X server to start on;", ", ".join(missing), "missing "
          "(tools/install-deps.sh installs xvfb and x11-utils)")
    sys.exit(1 if os.environ.get("CI") else 77)

# -displayfd picks a free display and tells us its number.
read_end, write_end = os.pipe()
xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                         "-nolisten", "tcp"], pass_fds=(write_end,), stderr=subprocess.DEVNULL)
os.close(write_end)
home = tempfile.mkdtemp(prefix="tidevault-x11-")
env = dict(os.environ, DISPLAY=":" + os.read(read_end, 16).decode().strip(),
           TIDEVAULT_HOME=home, QT_QPA_PLATFORM="xcb", LC_ALL="C")
for name in ("INVOCATION_ID", "NOTIFY_SOCKET", "WAYLAND_DISPLAY"):
    env.pop(name, None)
shutil.copytree(os.path.join(build, "Languages"), os.path.join(home, "Languages"))
# Xvfb has no tray: the hidden start minimizes, which X shows as the iconic state.
with open(os.path.join(home, "settings.ini"), "w") as settings:
    settings.write("[Backup\\General Settings]\nHideWindowOnStart=1\n")


def x(*command):
    return subprocess.run(command, env=env, capture_output=True, text=True, timeout=10).stdout


def state():  # the main window's state as its X hints give it, None while there is none
    tree = x("xwininfo", "-root", "-tree").splitlines()
    window = next((l.split()[0] for l in tree if '"Tidevault-ver1.0 rev. ' in l), None)
    hints = x("xprop", "-id", window, "WM_HINTS") if window else ""
    return next((s for s in ("Iconic", "Normal") if f"{s} State" in hints), None)


def comes(wanted):
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline and program.poll() is None:
        if state() == wanted:
            return True
        time.sleep(0.1)
    return False


program = subprocess.Popen([os.path.join(build, "tidevault")], env=env)
failure = None
try:
    if not comes("Iconic"):
        failure = f"no hidden main window appeared; state {state()}, exit {program.poll()}"
    elif subprocess.run([os.path.join(build, "tidevault")], env=env, timeout=30).returncode:
        failure = "the second start failed"
    elif not comes("Normal"):
        failure = "the second start did not bring the first window back"
    else:
        program.send_signal(signal.SIGTERM)
        if program.wait(20) != 0:
            failure = f"SIGTERM ended the program with {program.returncode}"
except subprocess.TimeoutExpired as timeout:
    failure = f"no answer: {timeout}"
finally:
    if program.poll() is None:
        program.kill()
        program.wait()
    xvfb.terminate()
    xvfb.wait()
    shutil.rmtree(home, ignore_errors=True)
if failure:
    sys.exit(failure)
print("main window hidden at start, back on the second start, ended on SIGTERM")
