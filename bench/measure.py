#!/usr/bin/env python3
"""Times the tool against its floors on the benchmark inputs.

Every round runs each program once, in the same order (tool, library floor,
byte floor, then the optional reference tool), so the tool and its floors
alternate A B A B; the ratio tool / floor is taken round by round and its
median quoted. Wall time is measured around each process; peak resident
memory is the maximum resident set size that GNU time (/usr/bin/time -f %M)
reports. (Python's own wait4 would count the forked Python before the exec.)
Outputs go to a scratch folder on tmpfs (/dev/shm) where there is one, so
that the disk's write-back does not time in.
The tool answers from a redirected standard input and runs in a new session
without a controlling terminal, so its final key wait returns at once.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "data")


GNU_TIME = "/usr/bin/time"


def run(argv, stdin_path, stdout_path, scratch):
    """Runs argv; returns (wall seconds, peak RSS in KiB)."""
    peak_file = os.path.join(scratch, "peak.txt")
    with open(stdin_path, "rb") as stdin, open(stdout_path, "wb") as stdout:
        start = time.perf_counter()
        subprocess.run([GNU_TIME, "-f", "%M", "-o", peak_file] + argv, stdin=stdin,
                       stdout=stdout, stderr=subprocess.DEVNULL, start_new_session=True)
        wall = time.perf_counter() - start
    with open(peak_file) as f:
        peak = int(f.read().split()[-1])
    return wall, peak


def input_path(style, points):
    path = os.path.join(DATA, "%s-%d.txt" % (style, points))
    if not os.path.exists(path):
        os.makedirs(DATA, exist_ok=True)
        print("generating %s" % path, file=sys.stderr)
        subprocess.run([sys.executable, os.path.join(HERE, "generate.py"), style,
                        str(points), path + ".part"], check=True)
        os.replace(path + ".part", path)
    return path


def answers_path(scratch, name, data_in, data_out, sigma):
    path = os.path.join(scratch, "answers-%s.txt" % name)
    with open(path, "w") as f:
        f.write("%s\n%s\n%s\n" % (data_in, data_out, sigma))
    return path


def same_bytes(a, b):
    with open(a, "rb") as fa, open(b, "rb") as fb:
        while True:
            x, y = fa.read(1 << 20), fb.read(1 << 20)
            if x != y:
                return False
            if not x:
                return True


def fmt_ms(seconds):
    return "%.0f" % (seconds * 1000) if seconds >= 0.1 else "%.1f" % (seconds * 1000)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--floor", required=True)
    parser.add_argument("--reference", help="another build of the tool, timed alongside; "
                        "its output must be byte for byte the tool's")
    parser.add_argument("--sizes", default="1000,100000,1000000,5000000")
    parser.add_argument("--styles", default="plain,tool")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--sigma", default="0.05")
    parser.add_argument("--scratch", help="folder for the outputs (default: a folder in "
                        "/dev/shm, else bench/data)")
    args = parser.parse_args()
    if not os.path.exists(GNU_TIME):
        sys.exit("GNU time is needed: apt-get install time")
    scratch = args.scratch or (os.path.join("/dev/shm", "brellum-bench")
                               if os.path.isdir("/dev/shm") else DATA)
    os.makedirs(scratch, exist_ok=True)

    rows = []
    for style in args.styles.split(","):
        for points in [int(s) for s in args.sizes.split(",")]:
            data_in = input_path(style, points)
            out = {k: os.path.join(scratch, "out-%s.txt" % k) for k in ("tool", "floor", "cat", "ref")}
            programs = [
                ("tool", [args.tool], answers_path(scratch, "tool", data_in, out["tool"], args.sigma),
                 os.devnull),
                ("floor", [args.floor, data_in, out["floor"]], os.devnull, os.devnull),
                ("cat", ["cat"], data_in, out["cat"]),
            ]
            if args.reference:
                programs.append(("ref", [args.reference],
                                 answers_path(scratch, "ref", data_in, out["ref"], args.sigma), os.devnull))
            # One untimed round warms the page cache and the binaries.
            for _, argv, stdin_path, stdout_path in programs:
                run(argv, stdin_path, stdout_path, scratch)
            walls = {p[0]: [] for p in programs}
            peaks = {p[0]: [] for p in programs}
            for _ in range(args.rounds):
                for name, argv, stdin_path, stdout_path in programs:
                    wall, peak = run(argv, stdin_path, stdout_path, scratch)
                    walls[name].append(wall)
                    peaks[name].append(peak)
            if args.reference and not same_bytes(out["tool"], out["ref"]):
                print("OUTPUT DIFFERS from the reference on %s" % data_in, file=sys.stderr)
                sys.exit(1)
            ratio = lambda a, b: statistics.median(x / y for x, y in zip(walls[a], walls[b]))
            row = {
                "style": style, "points": points,
                "in_mb": os.path.getsize(data_in) / 1e6,
                "tool": statistics.median(walls["tool"]),
                "floor": statistics.median(walls["floor"]),
                "cat": statistics.median(walls["cat"]),
                "tool/floor": ratio("tool", "floor"),
                "tool/cat": ratio("tool", "cat"),
                "rss_tool": max(peaks["tool"]) / 1024, "rss_floor": max(peaks["floor"]) / 1024,
            }
            if args.reference:
                row["ref"] = statistics.median(walls["ref"])
                row["tool/ref"] = ratio("tool", "ref")
                row["rss_ref"] = max(peaks["ref"]) / 1024
            rows.append(row)
            for path in out.values():
                if os.path.exists(path):
                    os.remove(path)
            print("done %s %d" % (style, points), file=sys.stderr)

    head = ["input", "points", "MB in", "tool ms", "library floor ms", "cat ms",
            "tool / library floor", "tool / cat", "tool peak MiB", "floor peak MiB"]
    if args.reference:
        head += ["reference ms", "tool / reference", "reference peak MiB"]
    print("| " + " | ".join(head) + " |")
    print("|" + "---|" * len(head))
    for r in rows:
        cells = [r["style"], "{:,}".format(r["points"]), "%.1f" % r["in_mb"], fmt_ms(r["tool"]),
                 fmt_ms(r["floor"]), fmt_ms(r["cat"]), "%.2f" % r["tool/floor"],
                 "%.1f" % r["tool/cat"], "%.1f" % r["rss_tool"], "%.1f" % r["rss_floor"]]
        if args.reference:
            cells += [fmt_ms(r["ref"]), "%.2f" % r["tool/ref"], "%.1f" % r["rss_ref"]]
        print("| " + " | ".join(cells) + " |")
    print("\n%d timed rounds per input after one warm-up round; medians; ratios taken round by round."
          % args.rounds)


if __name__ == "__main__":
    main()
