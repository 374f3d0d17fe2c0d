"""Runs the built Relayon (native, or the Windows build under Wine) as a client would, with the
tests' own line server. CTest sets RELAYON_EXE, RELAYON_TEST_SERVER (built for the same platform),
RELAYON_RUNNER (empty natively; "wine-run.sh;PREFIX" for Windows) and RELAYON_PLATFORM."""
import contextlib, os, pathlib, re, shutil, subprocess, tempfile, threading, time, unittest

EXE = os.environ.get("RELAYON_EXE", "")
TEST_SERVER = os.environ.get("RELAYON_TEST_SERVER", "")
RUNNER = [p for p in os.environ.get("RELAYON_RUNNER", "").split(";") if p]
WINDOWS = os.environ.get("RELAYON_PLATFORM", "posix") == "win32"
# Wine and the thread sanitizer run Relayon many times slower: the heaviest loads are cut there.
THREAD_SANITIZER = os.environ.get("RELAYON_SANITIZE") == "thread"
SLOW = WINDOWS or THREAD_SANITIZER
EOL = b"\r\n" if WINDOWS else b"\n"  # how the usage text ends its lines


def host_path(path):
    """A path as the program under test sees it (Wine maps / to drive Z:)."""
    path = os.path.abspath(path)
    return "Z:" + path.replace("/", "\\") if WINDOWS else path


def server_command(*args, server=TEST_SERVER):
    return " ".join([host_path(server)] + list(args))


def run(args, input=b"", cwd=None, program=None, **popen):
    """Runs Relayon to its end; returns the CompletedProcess, its output as bytes."""
    return subprocess.run(RUNNER + [program or EXE] + args, input=input, cwd=cwd, capture_output=True,
                          timeout=60, **popen)


def copy_program(source, directory, name):
    """Copies a built program under another name (".exe" added on Windows); returns its path."""
    return shutil.copy2(source, os.path.join(directory, name + (".exe" if WINDOWS else "")))


class Output:
    """Collects a process's standard output on a thread, in data."""

    def __init__(self, stream):
        self.data = bytearray()
        self._thread = threading.Thread(target=self._read, args=(stream,), daemon=True)
        self._thread.start()

    def _read(self, stream):
        with contextlib.suppress(OSError, ValueError):  # closed by the test
            while chunk := stream.read1(1 << 20):
                self.data += chunk

    def wait(self, predicate, timeout, what):
        """Waits until predicate(data) holds; fails at the end of the stream or after timeout."""
        deadline = time.monotonic() + timeout
        while True:
            ended = not self._thread.is_alive()  # before the last look at the data
            if predicate(self.data):
                return
            if ended or time.monotonic() > deadline:
                raise AssertionError("no %s in %d bytes of output ending %r" % (
                    what, len(self.data), bytes(self.data[-200:])))
            time.sleep(0.002)

    def finish(self, timeout):
        self._thread.join(timeout)
        if self._thread.is_alive():
            raise AssertionError("output did not end within %d s" % timeout)
        return bytes(self.data)


def feed(process, data):
    """Writes data to Relayon's input on a thread; returns the thread."""
    def write():
        with contextlib.suppress(BrokenPipeError, ValueError):  # Relayon or the test has closed it
            process.stdin.write(data), process.stdin.flush()
    thread = threading.Thread(target=write, daemon=True)
    thread.start()
    return thread


class RelayonTestCase(unittest.TestCase):
    """Runs Relayon in a fresh temporary directory, self.dir, with relay.ini and self.server."""

    def setUp(self):
        self.assertTrue(EXE and os.path.exists(EXE), "RELAYON_EXE is not set to a built program")
        self.dir = self.enterContext(tempfile.TemporaryDirectory(prefix="relayon-test-"))
        self.server = TEST_SERVER

    def write(self, name, data):
        pathlib.Path(self.dir, name).write_bytes(data if isinstance(data, bytes) else data.encode())

    def read(self, name):
        return pathlib.Path(self.dir, name).read_bytes()

    def arguments(self, ini, server_args=(), log="relay.log", extra=()):
        self.write("relay.ini", ini)
        return ["/t", "relay.ini"] + (["/l", log] if log else []) + list(extra) + \
            [server_command(*server_args, server=self.server)]

    def start(self, ini, server_args=(), log="relay.log", extra=(), read=True, ready=True, program=None, **popen):
        """Starts Relayon (or a copy, program), killed and its pipes closed when the test ends; returns
        it and an Output of its standard output (None when not read), after the server's "ready" if asked."""
        popen = {**dict.fromkeys(("stdin", "stdout", "stderr"), subprocess.PIPE), **popen}
        process = subprocess.Popen(RUNNER + [program or EXE] + self.arguments(ini, server_args, log, extra), cwd=self.dir,
                                   **popen)
        self.addCleanup(process.__exit__, None, None, None)  # closes its pipes and waits for it
        self.addCleanup(lambda: process.poll() is None and process.kill())
        output = Output(process.stdout) if read else None
        if read and ready:
            output.wait(lambda d: b"ready" in d, 30, "ready")
        return process, output

    def send(self, process, output, lines, answer=None):
        """Writes lines to Relayon and waits for its output to end with answer."""
        process.stdin.write(lines), process.stdin.flush()
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
        """The texts of the log's entries of one kind (notes by default); an entry ends with CR LF."""
        log = re.findall(rb"(?ms)^\d+\.\d{3}: ([<>-]) (.*?)\r\n", self.read("relay.log"))
        return [text for k, text in log if k == kind.encode()]

    def assert_clean_end(self, first):
        """The log's last notes: first, then the orderly stop (a server left running aside)."""
        notes = [note for note in self.entries() if b"is left running" not in note]
        self.assertEqual(notes[-3:], [first, b"Stopping server communication", b"Closing log"])
        return notes
