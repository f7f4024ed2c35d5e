#!/usr/bin/python3
"""usage: startup.py PROGRAM REFERENCE [--runs N]
6. Start-up and memory of the program next to a minimal Qt Quick window; exit code 1 when a goal is missed."""
# Alike on $DISPLAY, HOME kept over the runs; a warm-up run each (it fills the QML cache), then alternated.
# First frame: the window's top-left 8x8 pixels (read back from X) first show what they show once settled.
import os, statistics, subprocess, sys, tempfile, time

from Xlib import X, display, error  # python3-xlib

GOAL, SETTLE_S, POLL_S = 1.3, 3.0, 0.002


def one_run(program, home, d, pid_of):
    env = {k: v for k, v in os.environ.items() if k not in ("XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME")}
    t0, proc = time.monotonic(), subprocess.Popen([program], env=dict(env, HOME=home, QT_QPA_PLATFORM="xcb"),
                                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    window = mapped = None
    samples = []  # (s since the start, corner pixels)
    try:
        while time.monotonic() - t0 < SETTLE_S:
            if proc.poll() is not None:
                raise RuntimeError("%s exited with %s" % (program, proc.returncode))
            try:  # no window manager: the top-level windows are the root window's children
                window = window or next((w for w in d.screen().root.query_tree().children if w.get_attributes().map_state
                                         == X.IsViewable and pid_of(w) == proc.pid), None)
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
    return [first * 1000, rss / 1024.0, mapped * 1000]


def main(program, reference, runs=5):
    d = display.Display()
    pid_atom = d.intern_atom("_NET_WM_PID")
    pid_of = lambda w: getattr(w.get_full_property(pid_atom, X.AnyPropertyType), "value", [0])[0]
    both = [(p, tempfile.TemporaryDirectory(prefix="caprello-bench-startup-")) for p in (program, reference)]
    for p, home in both:
        one_run(p, home.name, d, pid_of)
    results = list(zip(*[[one_run(p, home.name, d, pid_of) for p, home in both] for _ in range(runs)]))
    med = [[statistics.median(column) for column in zip(*side)] for side in results]
    rows, misses = [], 0
    for i, (what, unit) in enumerate((("process start -> first frame", "ms"),
                                      ("resident memory (VmRSS) %.0f s after the start" % SETTLE_S, "MiB"))):
        a, b = med[0][i], med[1][i]
        misses += a / b > GOAL
        rows.append(["%s, median of %d" % (what, runs), "%.1f %s (x%.2f; %s)" % (a, unit, a / b, spread(results[0], i)),
                     "%.1f %s (%s)" % (b, unit, spread(results[1], i)), "at most x%.1f" % GOAL,
                     "MISS" if a / b > GOAL else "PASS"])
    rows.append(["of which: start -> window mapped; mapped -> first frame, medians"]
                + ["%.1f ms; %.1f ms" % (m[2], statistics.median(r[0] - r[2] for r in side))
                   for m, side in zip(med, results)] + ["-", "-"])
    header = ["Measure", "Caprello (%s)" % os.path.basename(program),
              "Minimal window (%s)" % os.path.basename(reference), "Goal", "Result"]
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(5)]
    print("\n### 6. Start-up and memory: the program next to a minimal Qt Quick Controls window\n")
    for r in [header, ["-" * w for w in widths]] + rows:
        print("| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |")
    return 1 if misses else 0


def spread(side, i):
    return "%.0f-%.0f" % (min(r[i] for r in side), max(r[i] for r in side))


if __name__ == "__main__":
    if len(sys.argv) not in (3, 5) or (len(sys.argv) == 5 and sys.argv[3] != "--runs"):
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2], *[int(n) for n in sys.argv[4:]]))
