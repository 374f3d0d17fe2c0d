#!/usr/bin/env python3
"""Measures Relayon against other ways of relaying and rewriting lines, side by side.

    python3 bench/run_bench.py [--quick] [--build-dir DIR] [--no-build] [--runs N] [--chart PATH]

Builds a Release Relayon and the benchmark line server (bench_server) in build-bench/ unless
told otherwise, then runs every workload with Relayon and with each peer that is installed
(socat, GNU sed, and the hand-written Python relay in bench/py_relay.py), interleaved, and
prints a Markdown table of medians and ratios, and draws the lines per second as an SVG bar
chart (bench/lines_per_second.svg, or --chart PATH). Nothing here is part of the tests.

Workloads (lines of 52 bytes; the same 20 rules everywhere, 2 of which match every line):
  W1  the server emits the lines, the client reads them all
  W2  the client sends the lines to a server that counts them
  W3  the client sends one line and waits for its echo, many times
  W4  W1 with Relayon's log on
  W5  Relayon's peak resident size over W1, with N and 4 N lines
"""
import argparse
import datetime
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

# Keys never found in the benchmark lines, and the two found in every one.
MISSING = [b"alert", b"busy", b"crash", b"debug", b"error", b"fatal", b"halt", b"info", b"kill",
           b"mode", b"notice", b"panic", b"quit", b"retry", b"sync", b"timeout", b"warn", b"zone"]
RULES = sorted([(k, k.upper() + b"!") for k in MISSING] +
               [(b"score", b"points"), (b"state ok", b"state good")])
SAMPLE = b"status id 12 score 34 nodes 123456 load 75 state ok\n"

GOALS = {"sed": 1.5, "python": 3.0, "socat": 0.25}


def translate(line):
    for key, value in RULES:
        line = line.replace(key, value)
    return line


# ---------------------------------------------------------------------------------------------
# Building and the files the tools read


def build(build_dir):
    configure = ["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                 "-DRELAYON_TESTS=OFF"]
    if not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
        subprocess.run(configure, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "-j2", "--target", "relayon", "bench_server"],
                   check=True, stdout=subprocess.DEVNULL)


def write_files(folder):
    ini = os.path.join(folder, "bench.ini")
    with open(ini, "wb") as f:
        for section in (b"Client2Server", b"Server2Client"):
            f.write(b"[" + section + b"]\n")
            for key, value in RULES:
                f.write(key + b" := " + value + b"\n")
    script = os.path.join(folder, "bench.sed")
    with open(script, "wb") as f:
        for key, value in RULES:
            f.write(b"s/" + key + b"/" + value + b"/g\n")
    return ini, script


# ---------------------------------------------------------------------------------------------
# Running a chain of processes: the client writes into the first and reads from the last


class Chain:
    def __init__(self, commands):
        self.procs = []
        stdin = subprocess.PIPE
        for i, command in enumerate(commands):
            p = subprocess.Popen(command, stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            if i > 0:
                self.procs[-1].stdout.close()  # the next process holds it now
            self.procs.append(p)
            stdin = p.stdout
        self.input = self.procs[0].stdin.fileno()
        self.output = self.procs[-1].stdout.fileno()

    def close_input(self):
        if not self.procs[0].stdin.closed:
            self.procs[0].stdin.close()

    def peak_kib(self):
        """The first process's peak resident size so far (VmHWM), in KiB; None when unknown.

        Not the rusage of wait4: Linux counts in it the memory of the forking Python process
        that the child was before it started the program."""
        try:
            with open("/proc/%d/status" % self.procs[0].pid) as f:
                for row in f:
                    if row.startswith("VmHWM:"):
                        return int(row.split()[1])
        except (OSError, ValueError):
            pass
        return None

    def finish(self, timeout=60):
        """Closes the input and waits for every process to end."""
        self.close_input()
        for p in self.procs:
            try:
                p.wait(timeout)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
            p.stdout.close()


def read_lines(fd, want):
    """Reads until want line feeds have come (or the end); returns (lines, bytes)."""
    lines = size = 0
    while lines < want:
        data = os.read(fd, 1 << 20)
        if not data:
            break
        lines += data.count(b"\n")
        size += len(data)
    return lines, size


def write_all(fd, data, chain):
    view = memoryview(data)
    try:
        while view:
            n = os.write(fd, view[:1 << 20])
            view = view[n:]
    except BrokenPipeError:
        pass
    chain.close_input()


# ---------------------------------------------------------------------------------------------
# The tools


class Tools:
    def __init__(self, relayon, server, ini, script, folder):
        self.relayon, self.server, self.ini, self.script, self.folder = relayon, server, ini, script, folder
        self.socat = shutil.which("socat")
        self.sed = shutil.which("sed")
        self.log = os.path.join(folder, "bench.log")

    def relay_commands(self, name, server_args):
        """The chain for a relaying tool in front of the server; None when not installed."""
        server = [self.server] + server_args
        if name == "relayon":
            return [[self.relayon, "/t", self.ini] + server]
        if name == "relayon+log":
            return [[self.relayon, "/t", self.ini, "/l", self.log] + server]
        if name == "socat":
            return [[self.socat, "-", "EXEC:" + " ".join(server)]] if self.socat else None
        if name == "python":
            return [[sys.executable, os.path.join(HERE, "py_relay.py"), self.ini] + server]
        if name == "direct":
            return [server]
        return None

    def chain(self, name, server_args, server_first):
        """Like relay_commands, with sed as a one-way filter after (W1) or before (W2) the server."""
        if name in ("sed", "sed -u"):
            if not self.sed:
                return None
            sed = [self.sed] + (["-u"] if name == "sed -u" else []) + ["-f", self.script]
            server = [self.server] + server_args
            return [server, sed] if server_first else [sed, server]
        return self.relay_commands(name, server_args)


def run_w1(tools, name, lines):
    # A relay's server waits for the end of its input, so that the relay stays to be measured;
    # sed writes its last lines only at the end of its input, so its server ends.
    hold = [] if name.startswith("sed") else ["hold"]
    commands = tools.chain(name, ["emit", str(lines)] + hold, server_first=True)
    if name == "relayon+log" and os.path.exists(tools.log):
        os.remove(tools.log)
    start = time.perf_counter()
    chain = Chain(commands)
    got, size = read_lines(chain.output, lines)
    elapsed = time.perf_counter() - start
    peak = chain.peak_kib()
    chain.finish()
    line = SAMPLE if name == "socat" else translate(SAMPLE)
    ok = got == lines and size == lines * len(line)
    if name == "relayon+log":
        with open(tools.log, "rb") as f:
            ok = ok and f.read().count(b": < status id ") == lines
    return elapsed, ok, peak


def run_w2(tools, name, lines, payload):
    commands = tools.chain(name, ["sink"], server_first=False)
    start = time.perf_counter()
    chain = Chain(commands)
    writer = threading.Thread(target=write_all, args=(chain.input, payload, chain))
    writer.start()
    report = b""
    while not report.endswith(b"\n"):
        data = os.read(chain.output, 4096)
        if not data:
            break
        report += data
    elapsed = time.perf_counter() - start
    writer.join()
    chain.finish()
    return elapsed, report.strip() == b"sink %d" % lines, None


def run_w3(tools, name, trips):
    """Round trips of one line; returns the list of their times in microseconds."""
    chain = Chain(tools.relay_commands(name, ["echo"]))
    line = SAMPLE
    times = []
    ok = True
    for i in range(trips + trips // 10):  # the first tenth warms up and is not counted
        begin = time.perf_counter_ns()
        os.write(chain.input, line)
        answer = b""
        while not answer.endswith(b"\n"):
            data = os.read(chain.output, 4096)
            if not data:
                ok = False
                break
            answer += data
        end = time.perf_counter_ns()
        if not ok:
            break
        if i >= trips // 10:
            times.append((end - begin) / 1000.0)
    chain.finish()
    return times if ok and len(times) == trips else None


# ---------------------------------------------------------------------------------------------
# Reporting


def machine():
    model = platform.processor() or platform.machine()
    try:
        with open("/proc/cpuinfo") as f:
            for row in f:
                if row.startswith("model name"):
                    model = row.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return "%s, %d cores, %s %s" % (model, os.cpu_count() or 0, platform.system(), platform.release())


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(fraction * (len(ordered) - 1))))]


def fmt_rate(lines, seconds):
    return "%.2f M" % (lines / seconds / 1e6)


def escape_xml(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def write_chart(path, groups, caption):
    """Writes an SVG bar chart of lines per second: groups is a list of (workload title,
    [(tool name, lines per second)]), one bar per tool; Relayon's bars stand out."""
    label_width, bar_space, row, gap = 220, 420, 22, 34
    width = label_width + bar_space + 90
    top = max((rate for _, bars in groups for _, rate in bars), default=1.0) or 1.0
    height = 40 + sum(gap + row * len(bars) for _, bars in groups) + 10
    parts = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" font-family="sans-serif" '
             'font-size="13">' % (width, height),
             '<rect width="100%" height="100%" fill="white"/>',
             '<text x="10" y="22" font-size="15" font-weight="bold">%s</text>' % escape_xml(caption)]
    y = 40
    for title, bars in groups:
        y += gap
        parts.append('<text x="10" y="%d" font-weight="bold">%s</text>' % (y - 10, escape_xml(title)))
        for name, rate in bars:
            length = max(1.0, bar_space * rate / top)
            colour = "#d9480f" if name.startswith("Relayon") else "#868e96"
            parts.append('<text x="%d" y="%d" text-anchor="end">%s</text>' % (label_width - 8, y + 14,
                                                                              escape_xml(name)))
            parts.append('<rect x="%d" y="%d" width="%.1f" height="%d" fill="%s"/>' % (label_width, y + 2, length,
                                                                                      row - 6, colour))
            parts.append('<text x="%.1f" y="%d">%.2f M</text>' % (label_width + length + 6, y + 14, rate / 1e6))
            y += row
    parts.append("</svg>")
    with open(path, "w") as f:
        f.write("\n".join(parts) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fewer lines and runs")
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build-bench"))
    parser.add_argument("--no-build", action="store_true", help="take the build as it is")
    parser.add_argument("--runs", type=int, help="runs per tool and workload")
    parser.add_argument("--chart", default=os.path.join(HERE, "lines_per_second.svg"),
                        help="where to write the SVG chart of lines per second (default: %(default)s)")
    args = parser.parse_args()

    lines = 200_000 if args.quick else 1_000_000
    runs = args.runs or (3 if args.quick else 5)
    trips = 2_000 if args.quick else 10_000
    trip_rounds = 4 if args.quick else 8

    if not args.no_build:
        build(args.build_dir)
    relayon = os.path.join(args.build_dir, "relayon")
    server = os.path.join(args.build_dir, "bench", "bench_server")
    for program in (relayon, server):
        if not os.path.exists(program):
            sys.exit("missing %s: build it, or leave out --no-build" % program)

    folder = tempfile.mkdtemp(prefix="relayon-bench-")
    notes = []
    try:
        ini, script = write_files(folder)
        tools = Tools(relayon, server, ini, script, folder)
        if not tools.socat:
            notes.append("socat is not installed: its rows are left out.")
        if not tools.sed:
            notes.append("sed is not installed: its rows are left out.")
        payload = SAMPLE * lines

        # W1, W2 and W4: every tool once per round, the rounds interleaved against drift.
        one_way = ["relayon", "relayon+log", "socat", "sed", "sed -u", "python"]
        one_way = [t for t in one_way if tools.chain(t, [], True) is not None]
        times = {(w, t): [] for w in ("W1", "W2") for t in one_way}
        wrong = set()
        peaks = {lines: [], 4 * lines: []}
        for r in range(runs):
            for tool in one_way:
                print("run %d/%d: W1 %s" % (r + 1, runs, tool), file=sys.stderr, flush=True)
                elapsed, ok, peak = run_w1(tools, tool, lines)
                times[("W1", tool)].append(elapsed)
                if not ok:
                    wrong.add(("W1", tool))
                if tool == "relayon" and peak:
                    peaks[lines].append(peak)
                if tool == "relayon+log":
                    continue  # W2 does not log
                print("run %d/%d: W2 %s" % (r + 1, runs, tool), file=sys.stderr, flush=True)
                elapsed, ok, _ = run_w2(tools, tool, lines, payload)
                times[("W2", tool)].append(elapsed)
                if not ok:
                    wrong.add(("W2", tool))
        for r in range(max(1, runs // 2)):
            print("W5 %d lines" % (4 * lines), file=sys.stderr, flush=True)
            _, ok, peak = run_w1(tools, "relayon", 4 * lines)
            if peak and ok:
                peaks[4 * lines].append(peak)

        # W3: the round trips, direct to the echo server and through each relay. Each round
        # runs every tool once, in an order turned by one each round; what a relay adds is
        # taken within its round, against that round's direct run.
        relays = [t for t in ("direct", "relayon", "socat", "python") if tools.relay_commands(t, []) is not None]
        trip_stats = {t: [] for t in relays}
        trip_added = {t: [] for t in relays}
        for r in range(trip_rounds):
            order = relays[r % len(relays):] + relays[:r % len(relays)]
            this_round = {}
            for tool in order:
                print("round %d/%d: W3 %s" % (r + 1, trip_rounds, tool), file=sys.stderr, flush=True)
                result = run_w3(tools, tool, trips)
                if result is None:
                    wrong.add(("W3", tool))
                    continue
                this_round[tool] = (statistics.median(result), percentile(result, 0.99))
                trip_stats[tool].append(this_round[tool])
            if "direct" in this_round:
                for tool, (m, p) in this_round.items():
                    trip_added[tool].append((m - this_round["direct"][0], p - this_round["direct"][1]))
    finally:
        shutil.rmtree(folder, ignore_errors=True)

    med = {key: statistics.median(v) for key, v in times.items() if v}
    names = {"relayon": "Relayon", "relayon+log": "Relayon, log on", "socat": "socat pass-through",
             "sed": "sed, 20 substitutions", "sed -u": "sed -u, 20 substitutions",
             "python": "Python relay, 20 rules", "direct": "echo server direct"}
    goal_lines = []

    out = []
    out.append("Machine: %s. Date: %s. Python %s." % (machine(), datetime.date.today().isoformat(),
                                                     platform.python_version()))
    out.append("")
    out.append("Lines of %d bytes, %s per run, 20 rules (2 match every line); medians of %d runs." %
               (len(SAMPLE), format(lines, ","), runs))
    out.append("")
    out.append("| workload | tool | median s | lines/s | Relayon's speed over it |")
    out.append("|---|---|---:|---:|---:|")
    for w, title in (("W1", "W1 server to client"), ("W2", "W2 client to server")):
        base = med.get((w, "relayon"))
        for tool in one_way:
            if (w, tool) not in med:
                continue
            m = med[(w, tool)]
            ratio = "" if tool.startswith("relayon") else "%.2f" % (m / base)
            flag = " (wrong output)" if (w, tool) in wrong else ""
            out.append("| %s | %s%s | %.3f | %s | %s |" % (title, names[tool], flag, m, fmt_rate(lines, m), ratio))
            goal = GOALS.get(tool.split()[0] if tool != "sed -u" else "")
            if goal is not None and base:
                goal_lines.append("%s: Relayon %.2f x %s (goal >= %.2f): %s" % (
                    w, m / base, names[tool], goal, "met" if m / base >= goal else "NOT met"))
    if ("W1", "relayon+log") in med and ("W1", "relayon") in med:
        ratio = med[("W1", "relayon+log")] / med[("W1", "relayon")]
        goal_lines.append("W4: log on / log off time %.2f (goal <= 2.50): %s" % (ratio, "met" if ratio <= 2.5 else "NOT met"))
    out.append("")
    out.append("| W3 round trip, %s trips, %d rounds | median us | p99 us | added median us | added p99 us |" % (
        format(trips, ","), trip_rounds))
    out.append("|---|---:|---:|---:|---:|")
    added = {}
    for tool in relays:
        if not trip_stats[tool]:
            continue
        m = statistics.median(s[0] for s in trip_stats[tool])
        p = statistics.median(s[1] for s in trip_stats[tool])
        cells = ("", "")
        if tool != "direct" and trip_added[tool]:
            added[tool] = (statistics.median(a[0] for a in trip_added[tool]),
                           statistics.median(a[1] for a in trip_added[tool]))
            cells = ("%.1f" % added[tool][0], "%.1f" % added[tool][1])
        out.append("| %s | %.1f | %.1f | %s | %s |" % (names[tool], m, p, cells[0], cells[1]))
    out.append("")
    out.append("Median and p99 are medians over the rounds; what a relay adds is measured against the "
               "direct run of its own round.")
    if "relayon" in added and "socat" in added:
        (rm, rp), (sm, sp) = added["relayon"], added["socat"]
        goal_lines.append("W3: added round trip, median / p99, Relayon %.1f / %.1f us, socat %.1f / %.1f us "
                          "(goal: Relayon <= socat): %s" % (rm, rp, sm, sp, "met" if rm <= sm else "NOT met"))
    out.append("")
    out.append("| W5 peak resident size of Relayon | MiB |")
    out.append("|---|---:|")
    peak_values = {}
    for n, values in peaks.items():
        if values:
            peak_values[n] = max(values) / 1024.0
            out.append("| W1, %s lines | %.2f |" % (format(n, ","), peak_values[n]))
    if len(peak_values) == 2:
        small, large = peak_values[lines], peak_values[4 * lines]
        goal_lines.append("W5: peak %.2f MiB and %.2f MiB (goal < 8 MiB, the same for both): %s" % (
            small, large, "met" if max(small, large) < 8 and large - small < 0.5 else "NOT met"))
    out.append("")
    out.append("Goals:")
    out.append("")
    out.extend("- " + g for g in goal_lines)
    for w, tool in sorted(wrong):
        notes.append("%s %s: output or count was not as expected." % (w, names.get(tool, tool)))
    if notes:
        out.append("")
        out.extend("Note: " + n for n in notes)
    print("\n".join(out))
    groups = [(title, [(names[tool], lines / med[(w, tool)]) for tool in one_way if (w, tool) in med])
              for w, title in (("W1", "W1 server to client"), ("W2", "W2 client to server"))]
    write_chart(args.chart, groups, "Lines per second, %s lines of %d bytes, median of %d runs" % (
        format(lines, ","), len(SAMPLE), runs))
    print("\nChart: %s" % args.chart, file=sys.stderr)


if __name__ == "__main__":
    main()
