#!/usr/bin/env python3
"""Measures Relayon against other ways of relaying and rewriting lines, side by side.

    python3 bench/run_bench.py [--quick] [--build-dir DIR] [--no-build] [--runs N] [--chart PATH]
                               [--scaling-chart PATH] [--only workloads|scaling] [--compare RELAYON]

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
  S   W1 with 0, 20, 200, 2,000 and 20,000 rules (keys of 3 to 12 letters, a third of them
      sharing a beginning with another; each line holds 0, 1 or 2 of them), Relayon against sed,
      the Python relay and grep -F (search only, from a file), socat's pass-through as the line
      to beat; Relayon's peak resident size and the time to its first line per row; chart in
      bench/rules_scaling.svg. --compare adds another Relayon program (an older build) to W1, W2
      and S.
"""
import argparse
import datetime
import os
import platform
import random
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
# The scaling workload: rule tables of growing size, and lines that hold keys of the smallest


SCALE_COUNTS = [0, 20, 200, 2000, 20000]
SCALE_BLOCK = 1000  # distinct lines, repeated


def scale_keys(count, rng):
    """count distinct keys of 3 to 12 lower-case letters; about a third begin like an earlier one."""
    letters = "abcdefghijklmnopqrstuvwxyz"
    keys, known = [], set()
    while len(keys) < count:
        size = rng.randint(3, 12)
        if keys and rng.random() < 1 / 3:
            base = rng.choice(keys)
            head = base[:rng.randint(2, len(base) - 1)]
            key = head + "".join(rng.choice(letters) for _ in range(max(1, size - len(head))))
        else:
            key = "".join(rng.choice(letters) for _ in range(size))
        if key not in known:
            known.add(key)
            keys.append(key)
    return keys


def holds_key(word, keys):
    """True when a key other than word itself stands in word."""
    return any(word[i:j] in keys for i in range(len(word)) for j in range(i + 3, min(len(word), i + 12) + 1)
               if j - i < len(word))


def scale_workload():
    """(keys, lines): keys[:20] are in every table and are the only keys the lines hold, as
    whole words; line i holds i % 3 of them. Lines are 52 bytes with their line feed."""
    rng = random.Random(21)
    keys = scale_keys(SCALE_COUNTS[-1], rng)
    every = set(keys)
    # Keys of the small tables that hold no other key, so that a line holds the same keys for
    # every table size.
    core = [k for k in keys if not holds_key(k, every)][:SCALE_COUNTS[1]]
    keys = core + [k for k in keys if k not in set(core)]
    letters = "abcdefghijklmnopqrstuvwxyz"
    lines = []
    for i in range(SCALE_BLOCK):
        tokens = rng.sample(core[:10], i % 3)
        text = ""
        while True:
            if tokens:
                token = tokens.pop()
            elif rng.random() < 0.6:
                token = "".join(rng.choice(letters) for _ in range(rng.randint(3, 8)))
                if token in every or holds_key(token, every):
                    continue
            else:
                token = str(rng.randint(1, 99999))
            if len(text) + 1 + len(token) > 45:
                break
            text += (" " if text else "") + token
        text += " " + "".join(rng.choice("0123456789") for _ in range(51 - len(text) - 1))
        lines.append(text.encode() + b"\n")
    return [k.encode() for k in keys], lines


def scale_value(key):
    return key.upper() + b"!"


def translate_with(line, keys):
    """The line after every key of keys that it holds has been replaced, in key order."""
    for key in sorted(k for k in keys if k in line):
        line = line.replace(key, scale_value(key))
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
    """Reads until want line feeds have come (or the end); returns (lines, bytes, the time the
    first bytes came)."""
    lines = size = 0
    first = None
    while lines < want:
        data = os.read(fd, 1 << 20)
        if not data:
            break
        if first is None:
            first = time.perf_counter()
        lines += data.count(b"\n")
        size += len(data)
    return lines, size, first


def read_line(fd):
    """Reads until a line feed has come (or the end); returns what came."""
    data = b""
    while not data.endswith(b"\n"):
        more = os.read(fd, 4096)
        if not more:
            break
        data += more
    return data


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
    def __init__(self, relayon, server, ini, script, folder, compare=None):
        self.relayon, self.server, self.ini, self.script, self.folder = relayon, server, ini, script, folder
        self.compare = compare
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
        if name == "compare":
            return [[self.compare, "/t", self.ini] + server] if self.compare else None
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


def run_one_way(tools, name, server_args, lines, size_wanted):
    """The server's lines through a tool to the client: (seconds, right size, peak KiB of the
    tool, seconds to the first line)."""
    # A relay's server waits for the end of its input, so that the relay stays to be measured;
    # sed writes its last lines only at the end of its input, so its server ends.
    hold = [] if name.startswith("sed") else ["hold"]
    commands = tools.chain(name, server_args + hold, server_first=True)
    start = time.perf_counter()
    chain = Chain(commands)
    got, size, first = read_lines(chain.output, lines)
    elapsed = time.perf_counter() - start
    peak = chain.peak_kib()
    chain.finish()
    return elapsed, got == lines and size == size_wanted, peak, (first or start) - start


def run_w1(tools, name, lines):
    if name == "relayon+log" and os.path.exists(tools.log):
        os.remove(tools.log)
    line = SAMPLE if name == "socat" else translate(SAMPLE)
    elapsed, ok, peak, _ = run_one_way(tools, name, ["emit", str(lines)], lines, lines * len(line))
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
    report = read_line(chain.output)
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
        ok = read_line(chain.output).endswith(b"\n")
        end = time.perf_counter_ns()
        if not ok:
            break
        if i >= trips // 10:
            times.append((end - begin) / 1000.0)
    chain.finish()
    return times if ok and len(times) == trips else None


# ---------------------------------------------------------------------------------------------
# S: the rule tables of growing size


SCALE_NAMES = {"relayon": "Relayon", "compare": "Relayon (compared build)", "sed": "sed",
               "python": "Python relay", "grep": "grep -F (search only)", "socat": "socat pass-through"}


def run_grep(keys_file, lines_file, matching):
    start = time.perf_counter()
    done = subprocess.run(["grep", "-c", "-F", "-f", keys_file, lines_file], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    return elapsed, done.stdout.strip() == str(matching).encode()


def run_counted(tools, name, server_args, lines, size_wanted):
    """The server's lines through a tool to a counting client: (lines per second from the first
    byte to the last line, right size, peak KiB of the tool's first process)."""
    hold = [] if name.startswith("sed") else ["hold"]
    chain = Chain(tools.chain(name, server_args + hold, server_first=True) + [[tools.server, "count", str(lines)]])
    report = read_line(chain.output)
    peak = chain.peak_kib()
    chain.finish()
    fields = report.split()
    if len(fields) != 4 or int(fields[3]) <= 0:
        return None, False, peak
    return (int(fields[1]) - 1) / (int(fields[3]) / 1e9), fields[1:3] == [b"%d" % lines, b"%d" % size_wanted], peak


def run_first_line(tools, name, tries=3):
    """Seconds from the start of a relay in front of the echo server to the answer to one line,
    the least of a few tries."""
    best = None
    for _ in range(tries):
        start = time.perf_counter()
        chain = Chain(tools.relay_commands(name, ["echo"]))
        os.write(chain.input, SAMPLE)
        read_line(chain.output)
        elapsed = time.perf_counter() - start
        chain.finish()
        best = elapsed if best is None else min(best, elapsed)
    return best


def run_scaling(relayon, server, folder, lines, runs, quick, compare):
    """S: every tool at every table size; returns (report lines, goal lines, chart series, socat's
    lines per second)."""
    keys, block = scale_workload()
    block_file = os.path.join(folder, "scale-lines.txt")
    with open(block_file, "wb") as f:
        f.write(b"".join(block))
    grep_file = os.path.join(folder, "scale-grep.txt")
    cycles = lines // len(block)
    with open(grep_file, "wb") as f:
        f.write(b"".join(block) * cycles)

    def size_of(count, n):
        """Bytes of n lines translated with the first count keys."""
        sizes = [len(translate_with(line, keys[:count])) for line in block]
        return sum(sizes) * (n // len(block)) + sum(sizes[:n % len(block)])

    tools, matching = {}, {}
    for count in SCALE_COUNTS:
        table = keys[:count]
        files = {}
        for kind, rows in (("ini", [b"[Server2Client]\n"] + [k + b" := " + scale_value(k) + b"\n" for k in table]),
                           ("sed", [b"s/" + k + b"/" + scale_value(k) + b"/g\n" for k in table]),
                           ("keys", [k + b"\n" for k in table])):
            files[kind] = os.path.join(folder, "scale-%d.%s" % (count, kind))
            with open(files[kind], "wb") as f:
                f.write(b"".join(rows))
        tools[count] = (Tools(relayon, server, files["ini"], files["sed"], folder, compare), files["keys"])
        matching[count] = cycles * sum(1 for line in block if any(k in line for k in table))
    names = ["relayon"] + (["compare"] if compare else []) + [
        t for t in ("sed", "python") if tools[0][0].chain(t, [], True) is not None]

    # The slow tools get as many lines as they relay in about a second at that table size.
    target = 0.3 if quick else 1.0
    counts = {}
    for count in SCALE_COUNTS:
        for name in names:
            counts[(count, name)] = lines
            if name in ("sed", "python"):
                probe = 200
                rate, _, _ = run_counted(tools[count][0], name, ["lines", block_file, str(probe)], probe,
                                         size_of(count, probe))
                counts[(count, name)] = max(probe, min(lines, int((rate or 0) * target)))
    wanted = {key: size_of(key[0], n) for key, n in counts.items()}

    rates, peaks, firsts, wrong = {}, {}, {}, set()
    socat = tools[0][0].socat is not None
    for r in range(runs):
        for count in SCALE_COUNTS:
            t, key_file = tools[count]
            row = names + (["socat"] if socat and count == 0 else [])
            for name in row:
                print("run %d/%d: S %d rules, %s" % (r + 1, runs, count, name), file=sys.stderr, flush=True)
                n = counts.get((count, name), lines)
                rate, ok, peak = run_counted(t, name, ["lines", block_file, str(n)], n,
                                             wanted.get((count, name), size_of(0, n)))
                rates.setdefault((count, name), []).append(rate or 0)
                if not ok:
                    wrong.add((count, name))
                if name in ("relayon", "compare"):
                    peaks.setdefault((count, name), []).append(peak or 0)
                    firsts.setdefault((count, name), []).append(run_first_line(t, name))
            if count > 0:
                elapsed, ok = run_grep(key_file, grep_file, matching[count])
                rates.setdefault((count, "grep"), []).append(cycles * len(block) / elapsed)
                if not ok:
                    wrong.add((count, "grep"))
    rate = {key: statistics.median(v) for key, v in rates.items()}
    shown = names + ["grep"]

    out = ["Lines of %d bytes (%s distinct ones) from the server, through the tool, to a client that counts them: "
           "lines per second from the first byte to the last line; %s lines per run for Relayon and grep, "
           "about %s s of lines for sed and the Python relay; medians of %d runs. First line: from the "
           "start of Relayon to the echo of one line, the least of 3 tries per run." % (len(block[0]), format(len(block), ","),
                                                          format(lines, ","), target, runs), ""]
    out.append("| rules | " + " | ".join(SCALE_NAMES[n] for n in shown) +
               " | Relayon's peak MiB | Relayon's first line, ms |")
    out.append("|---:|" + "---:|" * (len(shown) + 2))
    for count in SCALE_COUNTS:
        cells = [(fmt_rate(rate[(count, n)], 1) + (" (wrong output)" if (count, n) in wrong else ""))
                 if (count, n) in rate else "" for n in shown]
        out.append("| %s | %s | %.2f | %.1f |" % (
            format(count, ","), " | ".join(cells), max(peaks[(count, "relayon")]) / 1024.0,
            statistics.median(firsts[(count, "relayon")]) * 1000))
    if socat:
        out += ["", "socat pass-through, no rules: %s lines/s%s." % (
            fmt_rate(rate[(0, "socat")], 1), " (wrong output)" if (0, "socat") in wrong else "")]
    if compare:
        out += ["", "Compared build, peak MiB / first line ms: " + ", ".join(
            "%s rules %.2f / %.1f" % (format(c, ","), max(peaks[(c, "compare")]) / 1024.0,
                                      statistics.median(firsts[(c, "compare")]) * 1000) for c in SCALE_COUNTS)]

    goals = []
    mine = {c: rate[(c, "relayon")] for c in SCALE_COUNTS}
    for text, value, least in (("20,000 rules / 20 rules", mine[20000] / mine[20], 0.5),
                               ("2,000 rules / 20 rules", mine[2000] / mine[20], 0.6),
                               ("20 rules / no rules", mine[20] / mine[0], 0.5)) + (
            (("no rules / socat pass-through", mine[0] / rate[(0, "socat")], 1.0),) if socat else ()):
        goals.append("S: Relayon's speed, %s %.2f (goal >= %.2f): %s" % (text, value, least,
                                                                         "met" if value >= least else "NOT met"))
    big = max(peaks[(SCALE_COUNTS[-1], "relayon")]) / 1024.0
    goals.append("S: peak resident size with 20,000 rules %.2f MiB (goal <= 25 MB, 23.84 MiB): %s" % (
        big, "met" if big <= 25e6 / 2 ** 20 else "NOT met"))
    if compare:
        a, b = (statistics.median(firsts[(SCALE_COUNTS[-1], n)]) * 1000 for n in ("relayon", "compare"))
        goals.append("S: first line with 20,000 rules %.1f ms, compared build %.1f ms (goal: no slower): %s" % (
            a, b, "met" if a <= b else "NOT met"))
    series = {SCALE_NAMES[n]: [rate.get((c, n)) for c in SCALE_COUNTS] for n in shown}
    return out, goals, series, rate.get((0, "socat"))


def decade_label(value):
    for scale, unit in ((1e6, " M"), (1e3, " k"), (1, "")):
        if value >= scale:
            return "%d%s" % (round(value / scale), unit)
    return "%g" % value


def write_scaling_chart(path, series, ceiling, caption):
    """Writes an SVG chart of lines per second (logarithmic) against the number of rules: one
    line per tool, Relayon's standing out, and the ceiling (socat's pass-through) dashed."""
    import math
    left, top, width, height = 70, 50, 520, 300
    values = [v for vs in series.values() for v in vs if v] + ([ceiling] if ceiling else [])
    low = 10 ** math.floor(math.log10(min(values)))
    high = 10 ** math.ceil(math.log10(max(values)))

    def y(v):
        return top + height * (1 - (math.log10(v) - math.log10(low)) / (math.log10(high) - math.log10(low)))

    def x(i):
        return left + width * i / (len(SCALE_COUNTS) - 1)

    parts = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" font-family="sans-serif" '
             'font-size="13">' % (left + width + 200, top + height + 60),
             '<rect width="100%" height="100%" fill="white"/>',
             '<text x="10" y="22" font-size="15" font-weight="bold">%s</text>' % escape_xml(caption)]
    decade = low
    while decade <= high:
        parts.append('<line x1="%d" x2="%d" y1="%.1f" y2="%.1f" stroke="#dee2e6"/>' % (left, left + width, y(decade),
                                                                                   y(decade)))
        parts.append('<text x="%d" y="%.1f" text-anchor="end">%s</text>' % (left - 6, y(decade) + 4,
                                                                            decade_label(decade)))
        decade *= 10
    for i, count in enumerate(SCALE_COUNTS):
        parts.append('<text x="%.1f" y="%d" text-anchor="middle">%s</text>' % (x(i), top + height + 20,
                                                                             format(count, ",")))
    parts.append('<text x="%d" y="%d" text-anchor="middle">rules</text>' % (left + width // 2, top + height + 42))
    parts.append('<text x="10" y="%d">lines/s</text>' % (top - 10))
    labels = []  # (y, name, colour) at the right end of each line
    if ceiling:
        parts.append('<line x1="%d" x2="%d" y1="%.1f" y2="%.1f" stroke="#212529" stroke-dasharray="6,4"/>' % (
            left, left + width, y(ceiling), y(ceiling)))
        labels.append((y(ceiling) + 4, "socat pass-through", "#212529"))
    colours = iter(["#868e96", "#4dabf7", "#69db7c", "#b197fc"])
    for name, vs in series.items():
        colour = "#d9480f" if name == "Relayon" else next(colours, "#adb5bd")
        points = " ".join("%.1f,%.1f" % (x(i), y(v)) for i, v in enumerate(vs) if v)
        parts.append('<polyline points="%s" fill="none" stroke="%s" stroke-width="%d"/>' % (
            points, colour, 3 if name == "Relayon" else 2))
        labels.append((y([v for v in vs if v][-1]) + 4, name, colour))
    below = 0  # labels are moved down where they would overlap
    for label_y, name, colour in sorted(labels):
        below = max(below + 15, label_y)
        parts.append('<text x="%d" y="%.1f" fill="%s">%s</text>' % (left + width + 10, below, colour,
                                                                   escape_xml(name)))
    parts.append("</svg>")
    with open(path, "w") as f:
        f.write("\n".join(parts) + "\n")


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
    rate = lines / seconds
    if rate >= 1e6:
        return "%.2f M" % (rate / 1e6)
    return "%.1f k" % (rate / 1e3) if rate >= 1e3 else "%.0f" % rate


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
            colour = "#d9480f" if name.startswith("Relayon") and "compared" not in name else "#868e96"
            parts.append('<text x="%d" y="%d" text-anchor="end">%s</text>' % (label_width - 8, y + 14,
                                                                              escape_xml(name)))
            parts.append('<rect x="%d" y="%d" width="%.1f" height="%d" fill="%s"/>' % (label_width, y + 2, length,
                                                                                      row - 6, colour))
            parts.append('<text x="%.1f" y="%d">%.2f M</text>' % (label_width + length + 6, y + 14, rate / 1e6))
            y += row
    parts.append("</svg>")
    with open(path, "w") as f:
        f.write("\n".join(parts) + "\n")


def run_workloads(relayon, server, lines, runs, trips, trip_rounds, chart, compare):
    """W1 to W5: returns (report lines, goal lines, notes)."""
    notes = []
    folder = tempfile.mkdtemp(prefix="relayon-bench-")
    try:
        ini, script = write_files(folder)
        tools = Tools(relayon, server, ini, script, folder, compare)
        if not tools.socat:
            notes.append("socat is not installed: its rows are left out.")
        if not tools.sed:
            notes.append("sed is not installed: its rows are left out.")
        payload = SAMPLE * lines

        # W1, W2 and W4: every tool once per round, the rounds interleaved against drift.
        one_way = ["relayon", "relayon+log", "compare", "socat", "sed", "sed -u", "python"]
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
    names = {"relayon": "Relayon", "relayon+log": "Relayon, log on", "compare": "Relayon, compared build",
             "socat": "socat pass-through",
             "sed": "sed, 20 substitutions", "sed -u": "sed -u, 20 substitutions",
             "python": "Python relay, 20 rules", "direct": "echo server direct"}
    goal_lines = []

    out = []
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
    for w, tool in sorted(wrong):
        notes.append("%s %s: output or count was not as expected." % (w, names.get(tool, tool)))
    groups = [(title, [(names[tool], lines / med[(w, tool)]) for tool in one_way if (w, tool) in med])
              for w, title in (("W1", "W1 server to client"), ("W2", "W2 client to server"))]
    write_chart(chart, groups, "Lines per second, %s lines of %d bytes, median of %d runs" % (
        format(lines, ","), len(SAMPLE), runs))
    print("\nChart: %s" % chart, file=sys.stderr)
    return out, goal_lines, notes



def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fewer lines and runs")
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build-bench"))
    parser.add_argument("--no-build", action="store_true", help="take the build as it is")
    parser.add_argument("--runs", type=int, help="runs per tool and workload")
    parser.add_argument("--chart", default=os.path.join(HERE, "lines_per_second.svg"),
                        help="where to write the SVG chart of lines per second (default: %(default)s)")
    parser.add_argument("--scaling-chart", default=os.path.join(HERE, "rules_scaling.svg"),
                        help="where to write the SVG chart of S (default: %(default)s)")
    parser.add_argument("--only", choices=("workloads", "scaling"), help="run W1 to W5 only, or S only")
    parser.add_argument("--compare", metavar="RELAYON", help="another Relayon program to measure in S")
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

    out = ["Machine: %s. Date: %s. Python %s." % (machine(), datetime.date.today().isoformat(),
                                                 platform.python_version()), ""]
    goal_lines, notes = [], []
    if args.only != "scaling":
        report, goals, more = run_workloads(relayon, server, lines, runs, trips, trip_rounds, args.chart,
                                            args.compare)
        out += report
        goal_lines += goals
        notes += more
    if args.only != "workloads":
        folder = tempfile.mkdtemp(prefix="relayon-scale-")
        try:
            report, goals, series, ceiling = run_scaling(relayon, server, folder, lines, runs, args.quick,
                                                         args.compare)
        finally:
            shutil.rmtree(folder, ignore_errors=True)
        out += (["", ""] if args.only is None else []) + ["S: lines per second by the number of rules", ""] + report
        goal_lines += goals
        write_scaling_chart(args.scaling_chart, series, ceiling,
                            "Lines per second by the number of rules, median of %d runs" % runs)
        print("Chart: %s" % args.scaling_chart, file=sys.stderr)
    out += ["", "Goals:", ""] + ["- " + g for g in goal_lines]
    if notes:
        out.append("")
        out.extend("Note: " + n for n in notes)
    print("\n".join(out))

if __name__ == "__main__":
    main()
