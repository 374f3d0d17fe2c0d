"""Runs the built Relayon (native, or the Windows build under Wine) as a client would.

CTest passes the programs in the environment:
  RELAYON_EXE          the relayon program
  RELAYON_TEST_SERVER  the tests' own line server, built for the same platform
  RELAYON_RUNNER       empty natively; for Windows "wine-run.sh;PREFIX"
  RELAYON_PLATFORM     posix or win32
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
PLATFORM = os.environ.get("RELAYON_PLATFORM", "posix")
WINDOWS = PLATFORM == "win32"
EOL = b"\r\n" if WINDOWS else b"\n"  # how the usage text ends its lines


def host_path(path):
    """A path as the program under test sees it (Wine maps / to drive Z:)."""
    path = os.path.abspath(path)
    if WINDOWS:
        return "Z:" + path.replace("/", "\\")
    return path


def command(program, *args):
    """The argument vector that starts a built program of the platform under test."""
    return RUNNER + [program] + list(args)


def server_command(*args):
    """A server command line for Relayon that starts the test server with these arguments."""
    return " ".join([host_path(TEST_SERVER)] + list(args))


def ini_escape(text):
    """A text as a translation file value that decodes to it (backslashes doubled)."""
    return text.replace("\\", "\\\\")


def run(args, input=b"", cwd=None, timeout=60, program=None, env=None):
    """Runs Relayon to its end and returns the CompletedProcess (stdout and stderr as bytes)."""
    return subprocess.run(command(program or EXE, *args), input=input, cwd=cwd, capture_output=True,
                          timeout=timeout, env=env)


def start(args, cwd=None, program=None, env=None, **kwargs):
    """Starts Relayon with pipes on its standard handles and returns the Popen."""
    return subprocess.Popen(command(program or EXE, *args), cwd=cwd, stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, **kwargs)


def copy_program(source, directory, name):
    """Copies a built program under another name (".exe" added on Windows); returns its path."""
    if WINDOWS and not name.endswith(".exe"):
        name += ".exe"
    target = os.path.join(directory, name)
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
            kind = entries[-1]
            entries[-1] = (kind[0], kind[1], kind[2] + b"\n" + raw)
    return entries


Process = collections.namedtuple("Process", "pid ppid state name")


def processes():
    """Every process of this (Linux) machine as (pid, parent pid, state letter, name), from /proc.
    The name is the executable's file name (at most 15 bytes), which a zombie keeps too."""
    found = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/stat" % entry, "rb") as f:
                stat = f.read()
        except OSError:
            continue  # ended meanwhile
        fields = stat[stat.rindex(b")") + 2:].split()
        name = stat[stat.index(b"(") + 1:stat.rindex(b")")].decode(errors="replace")
        found.append(Process(int(entry), int(fields[1]), fields[0].decode(), name))
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


class RelayonTestCase(unittest.TestCase):
    """A test case with a fresh temporary directory in self.dir."""

    def setUp(self):
        self.assertTrue(EXE and os.path.exists(EXE), "RELAYON_EXE is not set to a built program")
        self._tmp = tempfile.TemporaryDirectory(prefix="relayon-test-")
        self.dir = self._tmp.name

    def tearDown(self):
        self._tmp.cleanup()

    def release_at_end(self, process):
        """Kills the process if it still runs when the test ends, and closes its pipes."""
        def release():
            if process.poll() is None:
                process.kill()
                process.wait()
            for stream in (process.stdin, process.stdout, process.stderr):
                if stream:
                    stream.close()
        self.addCleanup(release)
        return process

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode())
        return path
