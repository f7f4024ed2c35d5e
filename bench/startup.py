#!/usr/bin/python3
"""6. Start-up and memory of the program next to a minimal Qt Quick window.

    startup.py PROGRAM REFERENCE [--runs N]

Both are started alike on the X display in $DISPLAY (xcb platform, HOME a temporary
folder of each program's own, kept across its runs as a user's is). Measured per run:
  - process start -> window mapped (viewable) per X;
  - process start -> first frame: the window's top-left 8x8 pixels show what they
    show once the window has settled (read back from the X server every 2 ms);
  - VmRSS 3 s after the start.
One unmeasured warm-up run each (it also fills the QML cache), then the programs
alternate. Prints a table; exit code 1 when a goal is missed."""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from Xlib import X, display, error  # python3-xlib

GOAL_RATIO = 1.3
SETTLE_S = 3.0
POLL_S = 0.002


def find_window(d, pid, pid_atom):
    # No window manager: top-level windows are children of the root window.
    for w in d.screen().root.query_tree().children:
        try:
            prop = w.get_full_property(pid_atom, X.AnyPropertyType)
            if prop and prop.value[0] == pid and w.get_attributes().map_state == X.IsViewable:
                return w
        except error.XError:
            pass
    return None


def corner(window):
    try:
        return window.get_image(0, 0, 8, 8, X.ZPixmap, 0xFFFFFFFF).data
    except error.XError:
        return None


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return -1


def one_run(program, home, d, pid_atom):
    env = dict(os.environ, HOME=home, QT_QPA_PLATFORM="xcb")
    for name in ("XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"):
        env.pop(name, None)
    t0 = time.monotonic()
    proc = subprocess.Popen([program], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    window = None
    mapped = None
    samples = []  # (seconds since start, corner pixels)
    try:
        while time.monotonic() - t0 < SETTLE_S:
            if proc.poll() is not None:
                raise RuntimeError("%s exited with %s" % (program, proc.returncode))
            if window is None:
                window = find_window(d, proc.pid, pid_atom)
                if window is not None:
                    mapped = time.monotonic() - t0
            if window is not None:
                pixels = corner(window)
                if pixels is not None:
                    samples.append((time.monotonic() - t0, pixels))
            time.sleep(POLL_S)
        rss = rss_kib(proc.pid)
    finally:
        proc.terminate()
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    if mapped is None or not samples:
        raise RuntimeError("%s showed no window within %.0f s" % (program, SETTLE_S))
    settled = samples[-1][1]
    first_frame = next(t for t, pixels in samples if pixels == settled)
    before = samples[0][1] != settled
    return {"mapped": mapped * 1000, "frame": first_frame * 1000, "rss": rss / 1024.0, "seen_before": before}


def logged_run(program, home):
    """One run with Qt's scene-graph timing logs on, stamped with CLOCK_MONOTONIC
    (%{time boot}, the clock of time.monotonic()): where the time to the first frame goes."""
    env = dict(os.environ, HOME=home, QT_QPA_PLATFORM="xcb", QT_FORCE_STDERR_LOGGING="1",
               QT_MESSAGE_PATTERN="%{time boot} %{category}: %{message}",
               QT_LOGGING_RULES="qt.scenegraph.time.renderloop=true")
    for name in ("XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"):
        env.pop(name, None)
    t0 = time.monotonic()
    proc = subprocess.Popen([program], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    try:
        _, out = proc.communicate(timeout=1.5)
    except subprocess.TimeoutExpired:
        proc.terminate()
        _, out = proc.communicate()
    first_sync = frame = None
    for line in out.splitlines():
        m = re.match(r"\s*([0-9.]+) ", line)
        if not m:
            continue
        t = (float(m.group(1)) - t0) * 1000
        if first_sync is None and "polishAndSync: start" in line:
            first_sync = t
        f = re.search(r"frame rendered in (\d+)ms, sync=(\d+), render=(\d+), swap=(\d+)", line)
        if frame is None and f and int(f.group(1)) > 0:
            frame = (t, int(f.group(2)), int(f.group(3)), int(f.group(4)))
    if first_sync is None or frame is None:
        return None
    return {"ready": first_sync, "frame": frame[0], "sync": frame[1], "render": frame[2], "swap": frame[3]}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("reference")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()

    d = display.Display()
    pid_atom = d.intern_atom("_NET_WM_PID")
    homes = {p: tempfile.mkdtemp(prefix="caprello-bench-startup-") for p in (args.program, args.reference)}
    results = {args.program: [], args.reference: []}
    cold = {}
    try:
        for p in (args.program, args.reference):
            cold[p] = one_run(p, homes[p], d, pid_atom)
        for _ in range(args.runs):
            for p in (args.program, args.reference):
                results[p].append(one_run(p, homes[p], d, pid_atom))
        logged = {p: [r for r in (logged_run(p, homes[p]) for _ in range(2)) if r] for p in results}
    finally:
        for h in homes.values():
            shutil.rmtree(h, ignore_errors=True)

    def med(p, key):
        return statistics.median(r[key] for r in results[p])

    def spread(p, key):
        values = [r[key] for r in results[p]]
        return "%.0f-%.0f" % (min(values), max(values))

    rows = []
    misses = 0
    for key, label, unit in (("frame", "process start -> first frame", "ms"),
                             ("rss", "resident memory (VmRSS) %.0f s after start" % SETTLE_S, "MiB")):
        a, b = med(args.program, key), med(args.reference, key)
        ratio = a / b if b else float("inf")
        met = ratio <= GOAL_RATIO
        misses += not met
        rows.append(["%s, median of %d" % (label, args.runs),
                     "%.1f %s (x%.2f; %s)" % (a, unit, ratio, spread(args.program, key)),
                     "%.1f %s (%s)" % (b, unit, spread(args.reference, key)),
                     "at most x%.1f" % GOAL_RATIO, "PASS" if met else "MISS"])
    rows.append(["process start -> window mapped, median",
                 "%.1f ms" % med(args.program, "mapped"), "%.1f ms" % med(args.reference, "mapped"), "-", "-"])
    rows.append(["first start with an empty HOME (no QML cache): first frame / VmRSS",
                 "%.1f ms / %.1f MiB" % (cold[args.program]["frame"], cold[args.program]["rss"]),
                 "%.1f ms / %.1f MiB" % (cold[args.reference]["frame"], cold[args.reference]["rss"]), "-", "-"])

    def logged_med(p, key):
        values = [r[key] for r in logged[p]]
        return statistics.median(values) if values else float("nan")

    rows.append(["of which: start -> window shown and exposed (first polishAndSync), Qt's log",
                 "%.0f ms" % logged_med(args.program, "ready"), "%.0f ms" % logged_med(args.reference, "ready"),
                 "-", "-"])
    rows.append(["of which: the first frame's own work: sync / render / swap (ms), Qt's log",
                 " / ".join("%.0f" % logged_med(args.program, k) for k in ("sync", "render", "swap")),
                 " / ".join("%.0f" % logged_med(args.reference, k) for k in ("sync", "render", "swap")), "-", "-"])

    header = ["Measure", "Caprello (%s)" % os.path.basename(args.program),
              "Minimal window (%s)" % os.path.basename(args.reference), "Goal", "Result"]
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(len(header))]

    def line(cells):
        return "| " + " | ".join(c.ljust(w) for c, w in zip(cells, widths)) + " |"

    print("\n### 6. Start-up and memory: the program next to a minimal Qt Quick Controls window\n")
    print(line(header))
    print(line(["-" * w for w in widths]))
    for r in rows:
        print(line(r))
    unseen = [p for p in results if not all(r["seen_before"] for r in results[p])]
    print()
    print("- Both started by this script on the Xvfb display, xcb platform, Fusion style; one HOME each, kept over "
          "its runs (the warm-up run fills the QML cache); warm-up then %d alternated runs each; X read back "
          "every %.0f ms." % (args.runs, POLL_S * 1000))
    print("- The two 'of which' rows come from 2 further runs each with Qt's logging category "
          "qt.scenegraph.time.renderloop on (medians); llvmpipe rasterises (and compiles its shaders) in the swap.")
    print("- First frame: the first read-back in which the window's top-left 8x8 pixels equal those of the "
          "settled window (%.0f s).%s" % (SETTLE_S, "" if not unseen else
                                           " In some runs the window already showed its settled pixels at its "
                                           "first read-back: first frame = mapped there."))
    sys.stdout.flush()
    return 1 if misses else 0


if __name__ == "__main__":
    sys.exit(main())
