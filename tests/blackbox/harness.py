"""Runs the built Relayon (native, or the Windows build under Wine) as a client would, with the
tests' own line server. CTest passes in the environment RELAYON_EXE (the program),
RELAYON_TEST_SERVER (the line server, built for the same platform), RELAYON_RUNNER (empty
natively; for Windows "wine-run.sh;PREFIX") and RELAYON_PLATFORM (posix or win32).
"""
import collections
import os
import shutil
import subprocess
import tempfile
import threading
import time
import unittest

EXE = os.environ.get("RELAYON_EXE", "")
TEST_SERVER = os.environ.get("RELAYON_TEST_SERVER", "")
RUNNER = [p for p in os.environ.get("RELAYON_RUNNER", "").split(";") if p]
WINDOWS = os.environ.get("RELAYON_PLATFORM", "posix") == "win32"
EOL = b"\r\n" if WINDOWS else b"\n"  # how the usage text ends its lines


def host_path(path):
    """A path as the program under test sees it (Wine maps / to drive Z:)."""
    path = os.path.abspath(path)
    return "Z:" + path.replace("/", "\\") if WINDOWS else path


def command(program, *args):
    """The argument vector that starts a built program of the platform under test."""
    return RUNNER + [program] + list(args)


def server_command(*args, server=TEST_SERVER):
    """A server command line for Relayon that starts the test server with these arguments."""
    return " ".join([host_path(server)] + list(args))


def run(args, input=b"", cwd=None, timeout=60, program=None, **popen):
    """Runs Relayon to its end and returns the CompletedProcess (stdout and stderr as bytes)."""
    return subprocess.run(command(program or EXE, *args), input=input, cwd=cwd, capture_output=True,
                          timeout=timeout, **popen)


def copy_program(source, directory, name):
    """Copies a built program under another name (".exe" added on Windows); returns its path."""
    target = os.path.join(directory, name + (".exe" if WINDOWS and not name.endswith(".exe") else ""))
    shutil.copy2(source, target)
    return target


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def read_log(path):
    """The log's entries as (seconds, kind, text) tuples; entries are CR LF terminated."""
    entries = []
    for raw in read_bytes(path).split(b"\r\n")[:-1]:
        stamp, _, rest = raw.partition(b": ")
        if rest[:1] in (b">", b"<", b"-") and rest[1:2] == b" " and b"." in stamp:
            entries.append((float(stamp), rest[:1].decode(), rest[2:]))
        elif entries:
            entries[-1] = entries[-1][:2] + (entries[-1][2] + b"\n" + raw,)
    return entries


Process = collections.namedtuple("Process", "pid ppid state name")


def processes():
    """Every process of this (Linux) machine as (pid, parent pid, state letter, name), from /proc.
    The name is the executable's file name (at most 15 bytes), which a zombie keeps too."""
    found = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            name, _, rest = read_bytes("/proc/%s/stat" % entry).partition(b"(")[2].rpartition(b")")
        except OSError:
            continue  # ended meanwhile
        state, parent = rest.split()[:2]
        found.append(Process(int(entry), int(parent), state.decode(), name.decode(errors="replace")))
    return found


class Output:
    """Collects a stream (a process's standard output) on a thread, in data."""

    def __init__(self, stream):
        self.data = bytearray()
        self.ended = False
        self._changed = threading.Condition()
        self._thread = threading.Thread(target=self._read, args=(stream,), daemon=True)
        self._thread.start()

    def _read(self, stream):
        while not self.ended:
            try:
                chunk = stream.read1(1 << 20)
            except (OSError, ValueError):  # closed by the test
                chunk = b""
            with self._changed:
                self.data += chunk
                self.ended = not chunk
                self._changed.notify_all()

    def wait(self, predicate, timeout, what):
        """Waits until predicate(data) holds; fails at the end of the stream or after timeout."""
        deadline = time.monotonic() + timeout
        with self._changed:
            while not predicate(self.data):
                if self.ended or time.monotonic() > deadline:
                    raise AssertionError("no %s in %d bytes of output ending %r" % (
                        what, len(self.data), bytes(self.data[-200:])))
                self._changed.wait(max(0.0, deadline - time.monotonic()))

    def finish(self, timeout):
        """All the output, once the stream has ended."""
        self._thread.join(timeout)
        if self._thread.is_alive():
            raise AssertionError("output did not end within %d s" % timeout)
        return bytes(self.data)


def feed(process, data):
    """Writes data to Relayon's input on a thread of its own; returns the thread."""
    def write():
        try:
            for at in range(0, len(data), 1 << 20):
                process.stdin.write(data[at:at + (1 << 20)])
            process.stdin.flush()
        except (BrokenPipeError, ValueError):
            pass
    thread = threading.Thread(target=write, daemon=True)
    thread.start()
    return thread


class RelayonTestCase(unittest.TestCase):
    """A test case with a fresh temporary directory in self.dir, where Relayon runs with
    relay.ini and the test server (self.server)."""

    def setUp(self):
        self.assertTrue(EXE and os.path.exists(EXE), "RELAYON_EXE is not set to a built program")
        self.dir = self.enterContext(tempfile.TemporaryDirectory(prefix="relayon-test-"))
        self.server = TEST_SERVER

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode())
        return path

    def read(self, name):
        return read_bytes(os.path.join(self.dir, name))

    def arguments(self, ini, server_args=(), log="relay.log", extra=()):
        self.write("relay.ini", ini)
        return ["/t", "relay.ini"] + (["/l", log] if log else []) + list(extra) + \
            [server_command(*server_args, server=self.server)]

    def start(self, ini, server_args=(), log="relay.log", extra=(), read=True, ready=True, **popen):
        """Starts Relayon, killed and its pipes closed when the test ends; returns it and an
        Output of its standard output (None when not read), after the server's "ready" if asked."""
        popen.setdefault("stdin", subprocess.PIPE)
        process = subprocess.Popen(command(EXE, *self.arguments(ini, server_args, log, extra)), cwd=self.dir,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, **popen)
        self.addCleanup(process.__exit__, None, None, None)  # closes its pipes and waits for it
        self.addCleanup(lambda: process.poll() is None and process.kill())
        output = Output(process.stdout) if read else None
        if read and ready:
            output.wait(lambda d: b"ready" in d, 30, "ready")
        return process, output

    def send(self, process, output, lines, answer=None):
        """Writes lines to Relayon and waits for its output to end with answer."""
        process.stdin.write(lines)
        process.stdin.flush()
        if answer is not None:
            output.wait(lambda d: d.endswith(answer), 30, repr(answer))

    def end(self, process, output=None):
        """Closes Relayon's input; returns all its output once it has ended with 0."""
        process.stdin.close()
        self.assertEqual(process.wait(timeout=60), 0)
        return output.finish(30) if output else None

    def wait_until(self, predicate, what, timeout=30):
        deadline = time.monotonic() + timeout
        while not predicate():
            self.assertLess(time.monotonic(), deadline, "no " + what)
            time.sleep(0.01)

    def entries(self, kind="-"):
        """The texts of the log's entries of one kind (notes by default)."""
        return [text for _, k, text in read_log(os.path.join(self.dir, "relay.log")) if k == kind]

    def assert_clean_end(self, first):
        """The log's last notes: first, then the orderly stop; returns all notes."""
        notes = self.entries()
        self.assertEqual(notes[-3:], [first, b"Stopping server communication", b"Closing log"])
        return notes
