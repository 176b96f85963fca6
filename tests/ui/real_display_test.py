#!/usr/bin/env python3
"""usage: real_display_test.py BUILD_DIR -- tidevault on Xvfb: hidden at start, back on a second
start, ended by SIGTERM. Exit 77 (skipped) only without Xvfb or x11-utils, and not under CI."""
import os, shutil, signal, subprocess, sys, tempfile, time

build = sys.argv[1]
missing = [tool for tool in ("Xvfb", "xwininfo", "xprop") if not shutil.which(tool)]
if missing:
    print("skipped: no X server to start on;", ", ".join(missing), "missing (tools/install-deps.sh)")
    sys.exit(1 if os.environ.get("CI") else 77)

# -displayfd picks a free display and tells us its number.
read_end, write_end = os.pipe()
xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                         "-nolisten", "tcp"], pass_fds=(write_end,), stderr=subprocess.DEVNULL)
os.close(write_end)
home = tempfile.mkdtemp(prefix="tidevault-x11-")
env = {k: v for k, v in os.environ.items() if k not in ("INVOCATION_ID", "NOTIFY_SOCKET")}
env.update(DISPLAY=":" + os.read(read_end, 16).decode().strip(), TIDEVAULT_HOME=home,
           QT_QPA_PLATFORM="xcb", WAYLAND_DISPLAY="", LC_ALL="C")
shutil.copytree(os.path.join(build, "Languages"), os.path.join(home, "Languages"))
# Xvfb has no tray: the hidden start minimizes, which X shows as the iconic state.
with open(os.path.join(home, "settings.ini"), "w") as settings:
    settings.write("[Backup\\General Settings]\nHideWindowOnStart=1\n")


def comes(wanted):  # the main window in the wanted state within 20 s
    def x(*command):
        return subprocess.run(command, env=env, capture_output=True, text=True, timeout=10).stdout
    for _ in range(200):
        tree = x("xwininfo", "-root", "-tree").splitlines()
        window = next((l.split()[0] for l in tree if '"Tidevault-ver1.0 rev. ' in l), None)
        if window and f"{wanted} State" in x("xprop", "-id", window, "WM_HINTS"):
            return True
        if program.poll() is not None:
            return False
        time.sleep(0.1)
    return False


program = subprocess.Popen([os.path.join(build, "tidevault")], env=env)
failure = None
try:
    if not comes("Iconic"):
        failure = f"no hidden main window appeared (exit status {program.poll()})"
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
sys.exit(failure)
