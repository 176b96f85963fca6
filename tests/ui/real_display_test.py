#!/usr/bin/env python3
"""usage: real_display_test.py BUILD_DIR -- starts tidevault on Xvfb, waits for its main window,
starts it a second time and expects the first to bring its window back. Exit 77 (skipped) only
when Xvfb or the X utilities are missing, and then not under CI."""
import os, shutil, signal, subprocess, sys, tempfile, time

build = sys.argv[1]
missing = [tool for tool in ("Xvfb", "xwininfo", "xprop") if not shutil.which(tool)]
if missing:
    print("skipped: no real X server to start on;", ", ".join(missing), "not installed "
          "(tools/install-deps.sh installs xvfb and x11-utils)")
    sys.exit(1 if os.environ.get("CI") else 77)


def wait_for(check, program, seconds=20):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        found = check()
        if found or program.poll() is not None:
            return found
        time.sleep(0.1)
    return None


# -displayfd picks a free display and tells us its number.
read_end, write_end = os.pipe()
xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                         "-nolisten", "tcp"], pass_fds=(write_end,), stderr=subprocess.DEVNULL)
os.close(write_end)
home = tempfile.mkdtemp(prefix="tidevault-x11-")
program = None
failure = None
try:
    display = ":" + os.read(read_end, 16).decode().strip()
    env = dict(os.environ, DISPLAY=display, TIDEVAULT_HOME=home, QT_QPA_PLATFORM="xcb",
               LC_ALL="C")
    for name in ("INVOCATION_ID", "NOTIFY_SOCKET", "WAYLAND_DISPLAY"):
        env.pop(name, None)
    shutil.copytree(os.path.join(build, "Languages"), os.path.join(home, "Languages"))
    # Hidden at start: Xvfb has no tray, so the window is minimized (iconic).
    with open(os.path.join(home, "settings.ini"), "w") as settings:
        settings.write("[Backup\\General Settings]\nHideWindowOnStart=1\n")

    def x(*command):
        return subprocess.run(command, env=env, capture_output=True, text=True,
                              timeout=10).stdout

    def main_window():
        return next((line.split()[0] for line in x("xwininfo", "-root", "-tree").splitlines()
                     if '"Tidevault-ver1.0 rev. ' in line), None)

    def state(window):
        hints = x("xprop", "-id", window, "WM_HINTS")
        return next((s for s in ("Iconic", "Normal") if f"{s} State" in hints), None)

    program = subprocess.Popen([os.path.join(build, "tidevault")], env=env)
    window = wait_for(main_window, program)
    if not window:
        failure = f"no main window appeared on {display}; exit status {program.poll()}"
    elif not wait_for(lambda: state(window) == "Iconic", program):
        failure = f"HideWindowOnStart=1 did not minimize the window: {state(window)}"
    else:
        second = subprocess.run([os.path.join(build, "tidevault")], env=env, timeout=30)
        if second.returncode != 0:
            failure = f"the second start ended with {second.returncode}"
        elif not wait_for(lambda: state(window) == "Normal", program):
            failure = "the second start did not bring the first window back"
    if not failure and program.poll() is not None:
        failure = f"the program ended by itself with {program.returncode}"
    if not failure:
        # The quit sequence on SIGTERM: the program ends cleanly.
        program.send_signal(signal.SIGTERM)
        try:
            if program.wait(20) != 0:
                failure = f"SIGTERM ended the program with {program.returncode}"
        except subprocess.TimeoutExpired:
            failure = "the program did not end on SIGTERM"
finally:
    if program and program.poll() is None:
        program.kill()
        program.wait()
    xvfb.terminate()
    xvfb.wait()
    shutil.rmtree(home, ignore_errors=True)
if failure:
    sys.exit(failure)
print("main window came, hid, came back on the second start and ended on SIGTERM")
