#!/usr/bin/python3
"""6. Start-up and memory of the program next to a minimal Qt Quick window.

    startup.py PROGRAM REFERENCE [--runs N]

Both started alike on $DISPLAY (xcb, HOME a temporary folder of each one's own, kept over
its runs as a user's is); one unmeasured warm-up run each (it fills the QML cache), then
they alternate. Per run: start -> window mapped; start -> first frame (the window's top-left
8x8 pixels, read back from X every 2 ms, first show what they show once it has settled);
VmRSS 3 s after the start. Prints a table; exit code 1 when a goal is missed."""
import argparse, os, re, shutil, statistics, subprocess, sys, tempfile, time

from Xlib import X, display, error  # python3-xlib

GOAL, SETTLE_S, POLL_S = 1.3, 3.0, 0.002


def start(program, home, stderr=subprocess.DEVNULL, **env):
    env = dict(os.environ, HOME=home, QT_QPA_PLATFORM="xcb", **env)
    for name in ("XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"):
        env.pop(name, None)
    return time.monotonic(), subprocess.Popen([program], env=env, stdout=subprocess.DEVNULL, stderr=stderr, text=True)


def shown(w, pid, pid_atom):
    prop = w.get_full_property(pid_atom, X.AnyPropertyType)
    return prop and prop.value[0] == pid and w.get_attributes().map_state == X.IsViewable


def one_run(program, home, d, pid_atom):
    t0, proc = start(program, home)
    window = mapped = None
    samples = []  # (s since the start, corner pixels)
    try:
        while time.monotonic() - t0 < SETTLE_S:
            if proc.poll() is not None:
                raise RuntimeError("%s exited with %s" % (program, proc.returncode))
            try:
                # No window manager: the top-level windows are the root window's children.
                window = window or next((w for w in d.screen().root.query_tree().children
                                         if shown(w, proc.pid, pid_atom)), None)
                mapped = mapped or (window and time.monotonic() - t0)
                if window:
                    samples.append((time.monotonic() - t0, window.get_image(0, 0, 8, 8, X.ZPixmap, 0xFFFFFFFF).data))
            except error.XError:
                pass
            time.sleep(POLL_S)
        with open("/proc/%d/status" % proc.pid) as f:
            rss = next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
    finally:
        proc.terminate()
        proc.wait(timeout=10)
    if not samples:
        raise RuntimeError("%s showed no window within %.0f s" % (program, SETTLE_S))
    first = next(t for t, pixels in samples if pixels == samples[-1][1])
    return {"mapped": mapped * 1000, "frame": first * 1000, "rss": rss / 1024.0}


def logged_run(program, home):
    """Qt's scene-graph timing log, stamped on CLOCK_MONOTONIC (the clock of time.monotonic()):
    start -> the window exposed (first polishAndSync), and the first frame's sync/render/swap."""
    t0, proc = start(program, home, subprocess.PIPE, QT_FORCE_STDERR_LOGGING="1", QT_MESSAGE_PATTERN="%{time boot} %{message}",
                     QT_LOGGING_RULES="qt.scenegraph.time.renderloop=true")
    try:
        out = proc.communicate(timeout=1.5)[1]
    except subprocess.TimeoutExpired:
        proc.terminate()
        out = proc.communicate()[1]
    ready = re.search(r"^\s*([0-9.]+) .*polishAndSync: start", out, re.M)
    frame = re.search(r"frame rendered in [1-9]\d*ms, sync=(\d+), render=(\d+), swap=(\d+)", out)
    return ready and frame and [(float(ready.group(1)) - t0) * 1000] + [int(g) for g in frame.groups()]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("reference")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    both = (args.program, args.reference)
    d = display.Display()
    pid_atom = d.intern_atom("_NET_WM_PID")
    homes = {p: tempfile.mkdtemp(prefix="caprello-bench-startup-") for p in both}
    try:
        cold = [one_run(p, homes[p], d, pid_atom) for p in both]
        runs = list(zip(*[[one_run(p, homes[p], d, pid_atom) for p in both] for _ in range(args.runs)]))
        logged = [[r for r in (logged_run(p, homes[p]) for _ in range(2)) if r] for p in both]
    finally:
        for h in homes.values():
            shutil.rmtree(h, ignore_errors=True)

    rows, misses = [], 0
    for key, what, unit in (("frame", "process start -> first frame", "ms"),
                            ("rss", "resident memory (VmRSS) %.0f s after the start" % SETTLE_S, "MiB")):
        (a, sa), (b, sb) = [(statistics.median(v), "%.0f-%.0f" % (min(v), max(v)))
                            for v in ([r[key] for r in side] for side in runs)]
        misses += a / b > GOAL
        rows.append(["%s, median of %d" % (what, args.runs), "%.1f %s (x%.2f; %s)" % (a, unit, a / b, sa),
                     "%.1f %s (%s)" % (b, unit, sb), "at most x%.1f" % GOAL, "MISS" if a / b > GOAL else "PASS"])
    rows.append(["process start -> window mapped, median"]
                + ["%.1f ms" % statistics.median(r["mapped"] for r in side) for side in runs] + ["-", "-"])
    rows.append(["first start with an empty HOME (no QML cache): first frame / VmRSS"]
                + ["%.1f ms / %.1f MiB" % (c["frame"], c["rss"]) for c in cold] + ["-", "-"])
    med = [[statistics.median(col) for col in zip(*side)] if side else [float("nan")] * 4 for side in logged]
    rows.append(["of which: start -> window exposed (first polishAndSync), Qt's log"]
                + ["%.0f ms" % m[0] for m in med] + ["-", "-"])
    rows.append(["of which: the first frame's sync / render / swap (ms), Qt's log"]
                + [" / ".join("%.0f" % x for x in m[1:]) for m in med] + ["-", "-"])

    header = ["Measure", "Caprello (%s)" % os.path.basename(args.program),
              "Minimal window (%s)" % os.path.basename(args.reference), "Goal", "Result"]
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(5)]
    print("\n### 6. Start-up and memory: the program next to a minimal Qt Quick Controls window\n")
    for r in [header, ["-" * w for w in widths]] + rows:
        print("| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |")
    print("\n- Warm-up, then %d alternated runs each, one HOME each; X read back every %.0f ms. The 'of which' "
          "rows: medians of 2 further runs each with Qt's qt.scenegraph.time.renderloop log on (llvmpipe "
          "rasterises, and compiles its shaders, in the swap)." % (args.runs, POLL_S * 1000))
    sys.stdout.flush()
    return 1 if misses else 0


if __name__ == "__main__":
    sys.exit(main())
