"""Relayon under load and faults: floods both ways at once, servers that end or die in the middle
of their output, a client that stops reading or has no input, many stop and start cycles, a very
long line.

Each test runs its own copy of the test server under a name of its own, finds it in /proc by that
name and checks at the end that none was left behind, running, stopped or as a zombie. Under Wine
a Windows process is a Linux process of that name (with ".exe") but not Relayon's child, so the
checks of Relayon's children, descriptors and threads are native only, and the count marked WINE
is cut: a server there takes seconds to write what takes milliseconds natively.
"""
import os
import secrets
import signal
import subprocess
import threading
import time
import unittest
import zlib

import harness
from harness import RelayonTestCase

POSIX = not harness.WINDOWS


def difference(got, expected):
    """Where two long byte strings part, for a failure message."""
    at = next((i for i in range(0, max(len(got), len(expected)), 4096)
               if got[i:i + 4096] != expected[i:i + 4096]), 0)
    return "%d bytes, %d expected; the 4 KiB from %d differ: %r" % (
        len(got), len(expected), at, bytes(got[at:at + 80]))


class FaultTest(RelayonTestCase):
    def setUp(self):
        super().setUp()
        self.server_name = "srv" + secrets.token_hex(4)
        self.server = harness.copy_program(harness.TEST_SERVER, self.dir, self.server_name)

    def arguments(self, ini, server_args=(), log="relay.log"):
        self.write("relay.ini", ini)
        return ["/t", "relay.ini"] + (["/l", log] if log else []) + \
            [" ".join([harness.host_path(self.server)] + list(server_args))]

    def start(self, ini, server_args=(), log="relay.log", read=True):
        """Starts Relayon, killed when the test ends if it still runs; returns it and an Output
        that reads its standard output (None when not read)."""
        process = self.release_at_end(harness.start(self.arguments(ini, server_args, log), cwd=self.dir))
        return process, harness.Output(process.stdout) if read else None

    def feed(self, process, data):
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

    def end_input(self, process):
        process.stdin.close()
        self.assertEqual(process.wait(timeout=60), 0)

    def assert_clean_end(self, first):
        notes = [t for _, kind, t in harness.read_log(os.path.join(self.dir, "relay.log")) if kind == "-"]
        self.assertEqual(notes[-3:], [first, b"Stopping server communication", b"Closing log"])
        return notes

    def servers(self):
        return [p for p in harness.processes() if p.name in (self.server_name, self.server_name + ".exe")]

    def assert_nothing_left(self, relayon=None):
        """No server of this test remains, and (POSIX) no child of Relayon is a zombie or stopped.
        Ended servers are given a moment to be reaped."""
        deadline = time.monotonic() + 5
        while True:
            left = self.servers() + [p for p in harness.processes() if POSIX and relayon is not None
                                     and p.ppid == relayon.pid and p.state in "ZT"]
            if not left or time.monotonic() > deadline:
                break
            time.sleep(0.05)
        self.assertEqual(left, [], "processes left behind")

    def test_both_directions_flood_at_once(self):
        count = (64 << 20) // 64
        payload = b"".join(b"client %07d %s\n" % (n, b"y" * 48) for n in range(1, count + 1))
        flood = b"".join(b"flood %07d %s\n" % (n, b"0" * 49) for n in range(1, count + 1))
        process, output = self.start("", ["flood", str(count)], log=None)
        writer = self.feed(process, payload + b"sum\n")
        # The server answers sum after its last flood line, once it has read all of ours.
        output.wait(lambda d: d.endswith(b"\n") and b"\nsum " in d[-100:], 300, "sum line")
        writer.join(60)
        self.end_input(process)
        expected = b"ready\n" + flood + b"sum %d %d %d\n" % (count, len(payload), zlib.adler32(payload))
        got = output.finish(30)
        self.assertTrue(got == expected, difference(got, expected))
        self.assert_nothing_left(process)

    def test_server_ending_right_after_its_lines(self):
        expected = b"".join(b"line %d\n" % n for n in range(1, 100001))
        for run in range(10 if harness.WINDOWS else 100):  # WINE: 10 runs
            # The input stays open: the server's end alone ends Relayon.
            process, output = self.start("", ["lines", "100000"], log=None)
            got = output.finish(60)
            self.assertEqual(process.wait(timeout=30), 0)
            self.assertTrue(got == expected, "run %d: %s" % (run, difference(got, expected)))
            self.assert_nothing_left(process)

    def test_long_line_relayed_whole(self):
        body = b"".join(b"%08x" % n for n in range(2 << 20))  # 16 MiB, no two blocks alike
        process, output = self.start("[Server2Client]\nEND := end\n", log=None)
        writer = self.feed(process, body + b"END\n")
        output.wait(lambda d: d.endswith(b"end\n"), 240, "the long line")
        writer.join(60)
        self.end_input(process)
        got = output.finish(30)
        self.assertTrue(got == b"ready\n" + body + b"end\n", difference(got, b"ready\n" + body + b"end\n"))
        self.assert_nothing_left(process)

    def test_client_that_stops_reading(self):
        # Throttled, so that the server is also stopped and continued while it waits in a write.
        process, _ = self.start("[Relayon]\nCpuPower := 50\n", read=False)
        lines = b"".join(b"echo %06d %s\n" % (n, b"z" * 88) for n in range(40000))  # 4 MB
        writer = self.feed(process, lines + b"last\n")
        # Nobody reads: the pipes fill up and every side waits in a write, until the client's
        # end goes away and Relayon's writes to it fail.
        time.sleep(1.0)
        process.stdout.close()
        writer.join(120)
        self.assertFalse(writer.is_alive(), "Relayon stopped reading its input")
        deadline = time.monotonic() + 120
        while b": < last\r\n" not in harness.read_bytes(os.path.join(self.dir, "relay.log")):
            self.assertLess(time.monotonic(), deadline, "the server's last line was not relayed")
            time.sleep(0.1)
        self.end_input(process)
        self.assert_clean_end(b"Client closed")
        self.assert_nothing_left(process)

    def test_closed_or_null_standard_input_is_an_ended_client(self):
        # No descriptor Relayon opens may take the missing input's place and be read as it; the
        # null device is a character device like a console, but reads as an ended input.
        for name, how in (("closed", dict(preexec_fn=lambda: os.close(0))),
                          ("null device", dict(stdin=subprocess.DEVNULL))):
            with self.subTest(name):
                done = subprocess.run(harness.command(harness.EXE, *self.arguments("")), cwd=self.dir,
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30, **how)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assert_clean_end(b"Client closed")
                self.assert_nothing_left()

    def test_server_dying_mid_line(self):
        def die(process):
            process.stdin.write(b"die\n")
            process.stdin.flush()

        def kill(process):
            servers = self.servers()
            self.assertEqual(len(servers), 1)
            os.kill(servers[0].pid, signal.SIGKILL)
        for end in (die, kill):
            with self.subTest(end.__name__):
                process, output = self.start("", ["partial", "cut-off"])
                output.wait(lambda d: d == b"ready\n", 30, "ready")
                end(process)
                # The bytes after the last line feed are dropped.
                self.assertEqual(process.wait(timeout=30), 0)
                self.assertEqual(output.finish(30), b"ready\n")
                self.assert_clean_end(b"Server closed")
                self.assert_nothing_left(process)

    def test_stop_start_cycles_release_everything(self):
        process, output = self.start("")

        def resources():  # descriptors, threads, and for each child whether it runs
            if not POSIX:
                return None
            children = [p.state not in "ZT" for p in harness.processes() if p.ppid == process.pid]
            return (len(os.listdir("/proc/%d/fd" % process.pid)),
                    len(os.listdir("/proc/%d/task" % process.pid)), children)

        process.stdin.write(b"echo start\n")
        process.stdin.flush()
        output.wait(lambda d: d.endswith(b"echo start\n"), 30, "first echo")
        before = resources()
        for n in range(200):
            process.stdin.write(b"<stop>\n<start>\necho %d\n" % n)
            process.stdin.flush()
            output.wait(lambda d: d.endswith(b"ready\necho %d\n" % n), 30, "echo %d from a new server" % n)
        deadline = time.monotonic() + 5  # the last hand-over may still be settling
        while resources() != before and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual(resources(), before)
        self.end_input(process)
        self.assertEqual(self.assert_clean_end(b"Client closed").count(b"Server closed"), 400)
        self.assert_nothing_left(process)


if __name__ == "__main__":
    unittest.main()
