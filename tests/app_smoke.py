#!/usr/bin/python3
"""Starts the program on the X display in $DISPLAY, waits for its main window to be
mapped, closes it the way a window manager's close button does (WM_DELETE_WINDOW)
and checks that the process exits with code 0.

Usage: app_smoke.py PATH-TO-caprello.  Exit 77 (skipped) when there is no display."""
import os
import subprocess
import sys
import tempfile
import time

if not os.environ.get("DISPLAY"):
    print("no DISPLAY: skipped")
    sys.exit(77)

from Xlib import X, display, protocol  # noqa: E402  (python3-xlib)


def find_window(d, pid):
    pid_atom = d.intern_atom("_NET_WM_PID")
    pending = [d.screen().root]
    while pending:
        w = pending.pop()
        try:
            attrs = w.get_attributes()
            prop = w.get_full_property(pid_atom, X.AnyPropertyType)
            if prop and prop.value[0] == pid and attrs.map_state == X.IsViewable and w.get_wm_name():
                return w
            pending.extend(w.query_tree().children)
        except Exception:  # windows come and go while we walk the tree
            pass
    return None


def main():
    home = tempfile.mkdtemp(prefix="caprello smoke ")
    env = dict(os.environ, HOME=home, QT_QPA_PLATFORM="xcb")
    proc = subprocess.Popen([sys.argv[1]], env=env)
    d = display.Display()
    window = None
    deadline = time.time() + 30
    while window is None and time.time() < deadline and proc.poll() is None:
        window = find_window(d, proc.pid)
        time.sleep(0.2)
    if window is None:
        proc.kill()
        print("FAIL: no window appeared (exit code %s)" % proc.poll())
        return 1
    print("window shown: %r" % window.get_wm_name())

    if not os.path.isdir(os.path.join(home, "Desktop", "ScreenRecordings")):
        print("FAIL: the recordings folder was not created on start-up")
        proc.kill()
        return 1

    protocols = d.intern_atom("WM_PROTOCOLS")
    delete = d.intern_atom("WM_DELETE_WINDOW")
    event = protocol.event.ClientMessage(window=window, client_type=protocols,
                                         data=(32, [delete, X.CurrentTime, 0, 0, 0]))
    window.send_event(event)
    d.flush()
    try:
        code = proc.wait(timeout=20)
    except subprocess.TimeoutExpired:
        proc.kill()
        print("FAIL: still running 20 s after its window was closed")
        return 1
    print("exit code %d" % code)
    if code != 0:
        print("FAIL: expected exit code 0")
        return 1
    print("1 passed, 0 failed")
    return 0


sys.exit(main())
