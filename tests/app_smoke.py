#!/usr/bin/python3
"""Start-up as a person sees it, on the X display in $DISPLAY.

Default: the program shows its main window; closing it the way a window manager's
close button does (WM_DELETE_WINDOW) ends the process with exit code 0.
  --broken        the bundle's main document cannot load: the process must end by
                  itself with exit code -1 (255) and never map a window
  --log TEXT      TEXT must appear exactly once in the program's output
  --no-log TEXT   TEXT must not appear in the program's output
Exit 77 (skipped) when there is no display."""
import argparse
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


def fail(proc, message):
    if proc.poll() is None:
        proc.kill()
    print("FAIL: " + message)
    print("0 passed, 1 failed")
    return 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("binary")
    parser.add_argument("--broken", action="store_true")
    parser.add_argument("--log", action="append", default=[])
    parser.add_argument("--no-log", action="append", default=[])
    args = parser.parse_args()

    home = tempfile.mkdtemp(prefix="caprello smoke ")
    env = dict(os.environ, HOME=home, QT_QPA_PLATFORM="xcb", QT_FORCE_STDERR_LOGGING="1")
    out = tempfile.TemporaryFile()
    proc = subprocess.Popen([args.binary], env=env, stdout=out, stderr=subprocess.STDOUT)
    d = display.Display()

    window = None
    deadline = time.time() + 30
    while window is None and time.time() < deadline and proc.poll() is None:
        window = find_window(d, proc.pid)
        time.sleep(0.1)

    if args.broken:
        if window is not None:
            return fail(proc, "a window was shown for a document that cannot load")
        try:
            code = proc.wait(timeout=20)
        except subprocess.TimeoutExpired:
            return fail(proc, "still running with a broken main document")
        expected = 255
    else:
        if window is None:
            return fail(proc, "no window appeared (exit code %s)" % proc.poll())
        print("window shown: %r" % window.get_wm_name())
        if not os.path.isdir(os.path.join(home, "Desktop", "ScreenRecordings")):
            return fail(proc, "the recordings folder was not created on start-up")
        protocols = d.intern_atom("WM_PROTOCOLS")
        delete = d.intern_atom("WM_DELETE_WINDOW")
        window.send_event(protocol.event.ClientMessage(
            window=window, client_type=protocols, data=(32, [delete, X.CurrentTime, 0, 0, 0])))
        d.flush()
        try:
            code = proc.wait(timeout=20)
        except subprocess.TimeoutExpired:
            return fail(proc, "still running 20 s after its window was closed")
        expected = 0

    out.seek(0)
    log = out.read().decode("utf-8", "replace")
    print("exit code %d" % code)
    if code != expected:
        print(log)
        return fail(proc, "expected exit code %d" % expected)
    for text in args.log:
        if log.count(text) != 1:
            print(log)
            return fail(proc, "%r appears %d times in the output, expected once" % (text, log.count(text)))
    for text in args.no_log:
        if text in log:
            print(log)
            return fail(proc, "%r appears in the output" % text)
    print("1 passed, 0 failed")
    return 0


sys.exit(main())
