"""Relayon end to end, driven as a client would, with the tests' own line server.

The test server writes "ready" when it starts and then echoes every line it reads, so a client
line comes back through both rule tables.
"""
import os
import queue
import re
import signal
import threading
import time
import unittest

import harness
from harness import RelayonTestCase

ENTRY = re.compile(rb"^\d+\.\d{3}: [<>-] ")


class Session:
    """A running Relayon with a thread collecting its standard output."""

    def __init__(self, process):
        self.process = process
        self.output = b""
        self.chunks = queue.Queue()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        while True:
            data = self.process.stdout.read1(65536)
            if not data:
                self.chunks.put(None)
                return
            self.chunks.put(data)

    def send(self, text):
        self.process.stdin.write(text if isinstance(text, bytes) else text.encode())
        self.process.stdin.flush()

    def wait_for(self, expected, timeout=20):
        """Collects output until it contains expected; returns all output so far."""
        deadline = time.time() + timeout
        while expected not in self.output:
            left = deadline - time.time()
            if left <= 0:
                raise AssertionError("no %r in output %r" % (expected, self.output))
            try:
                data = self.chunks.get(timeout=left)
            except queue.Empty:
                continue
            if data is None:
                raise AssertionError("output ended without %r: %r" % (expected, self.output))
            self.output += data
        return self.output

    def close(self, timeout=30):
        """Closes Relayon's input, waits for its end; returns (exit code, all output)."""
        if not self.process.stdin.closed:
            self.process.stdin.close()
        code = self.process.wait(timeout=timeout)
        self.reader.join(timeout)
        while True:
            data = self.chunks.get_nowait() if not self.chunks.empty() else None
            if data is None:
                break
            self.output += data
        return code, self.output


class RelayTestCase(RelayonTestCase):
    def relay(self, ini, input=b"", server_args=(), extra=(), timeout=60):
        """Runs Relayon to its end with the translation file and input; returns the output."""
        args = self.arguments(ini, server_args, extra)
        done = harness.run(args, input=input, cwd=self.dir, timeout=timeout)
        self.assertEqual(done.returncode, 0, done.stderr)
        return done.stdout

    def session(self, ini, server_args=(), extra=()):
        return self.watch(harness.start(self.arguments(ini, server_args, extra), cwd=self.dir))

    def watch(self, process):
        """A session over the process, which is ended and released when the test ends."""
        self.release_at_end(process)
        return Session(process)


    def arguments(self, ini, server_args=(), extra=()):
        self.write("relay.ini", ini)
        return ["/t", "relay.ini", "/l", "relay.log"] + list(extra) + \
            [harness.server_command(*server_args)]

    def log(self):
        return harness.read_log(os.path.join(self.dir, "relay.log"))

    def notes(self):
        return [text for _, kind, text in self.log() if kind == "-"]

    def received(self, kind):
        return [text for _, k, text in self.log() if k == kind]


class TranslationTest(RelayTestCase):
    def test_rules_apply_in_key_order_both_ways(self):
        out = self.relay(
            "[Client2Server]\n"
            "abc := never\n"          # visited after 'ab', which has changed the line
            "ab := X\n"
            "drop :=\n"
            "hello := hi there\n"
            "[Server2Client]\n"
            "hi := HI\n"
            "X := x\n",
            b"abc\ndrop\n\nhello\n")
        self.assertEqual(out, b"ready\nxc\n\nHI there\n")
        # The log shows every line as received, before any rule; the emptied line went nowhere.
        self.assertEqual(self.received(">"), [b"abc", b"drop", b"", b"hello"])
        self.assertEqual(self.received("<"), [b"ready", b"Xc", b"", b"hi there"])

    def test_templates_delete_and_readfile(self):
        self.write("lines.txt", "one\n\n;c\n two \n")
        out = self.relay(
            "[Client2Server]\n"
            "set := use <string2>-<string3> (<string>) <string7>\n"
            "del := a b <delete> 2 c d e\n"
            "file := <readfile> lines.txt\n"
            "missing := <readfile> nothere.txt\n",
            b"set alpha beta\ndel\nfile\nmissing\n<string1> stays\n")
        self.assertEqual(out, b"ready\nuse alpha-beta (set alpha beta) \na b e\none\ntwo\n<string1> stays\n")
        notes = self.notes()
        self.assertIn(b"Open file:  lines.txt", notes)
        self.assertIn(b"Open file:  nothere.txt", notes)
        errors = [n for n in notes if n.startswith(b"Error opening file: ")]
        self.assertEqual(len(errors), 1)
        self.assertGreater(len(errors[0]), len(b"Error opening file: "))

    def test_reply_tables_answer_the_sender(self):
        s = self.session(
            "[Client2Client]\n"
            "ping := pong\n"
            "two := first\\nsecond\n"
            "[Server2Server]\n"
            "question := answer\n")
        s.wait_for(b"ready\n")
        s.send("ping\nPING\ntwo\nquestion\n")
        # 'ping' is answered by Relayon; 'PING' differs in case and reaches the server. The
        # server's echo 'question' is answered back to it, and its echo of that reaches us.
        s.wait_for(b"answer\n")
        code, out = s.close()
        self.assertEqual(out, b"ready\npong\nfirst\nsecond\nPING\nanswer\n")
        self.assertEqual(self.received("<"), [b"ready", b"PING", b"question", b"answer"])

    def test_multi_line_values_and_line_ends(self):
        out = self.relay(
            "[Relayon]\n"
            "EndLineClient :=\n"
            "[Client2Server]\n"
            "both := first\\n\\nsecond\\n\n",
            b"both\n")
        # Each piece of the value goes to the server on its own; the client's line end is empty.
        self.assertEqual(out, b"readyfirstsecond")

    def test_end_line_server_reaches_the_server(self):
        out = self.relay("[Relayon]\nEndLineServer := \\r\\n\n", b"x\n\n", server_args=["hex"])
        self.assertEqual(out, b"ready\nhex 780d0a\nhex 0d0a\n")


class ActionTest(RelayTestCase):
    def test_stop_then_start_brings_up_a_new_server(self):
        s = self.session("[Client2Server]\nhalt := <stop>\ngo := <start>\n")
        s.wait_for(b"ready\n")
        s.send("one\n")
        s.wait_for(b"one\n")
        s.send("halt\n")
        s.send("lost\n")   # the server is stopped: the line goes nowhere
        time.sleep(1.0)
        s.send("go\n")
        s.wait_for(b"one\nready\n")
        s.send("<START>\n")  # the server runs: nothing happens
        s.send("two\n")
        s.wait_for(b"two\n")
        code, out = s.close()
        self.assertEqual(code, 0)
        self.assertEqual(out, b"ready\none\nready\ntwo\n")
        notes = self.notes()
        self.assertEqual(notes.count(b"Server closed"), 2)
        self.assertEqual(notes[-3:], [b"Client closed", b"Stopping server communication", b"Closing log"])

    def test_copy_copies_and_sends_nothing(self):
        self.write("a.txt", "content\n")
        out = self.relay("", b"<copy> b.txt a.txt\n<COPY> c.txt missing.txt\nafter\n")
        self.assertEqual(out, b"ready\nafter\n")
        with open(os.path.join(self.dir, "b.txt"), "rb") as f:
            self.assertEqual(f.read(), b"content\n")
        self.assertFalse(os.path.exists(os.path.join(self.dir, "c.txt")))


class LifecycleTest(RelayTestCase):
    def test_log_format_reports_and_shutdown_order(self):
        self.relay("[Relayon]\nTerminateHard := on\n", b"x\n")
        with open(os.path.join(self.dir, "relay.log"), "rb") as f:
            raw = f.read()
        self.assertTrue(raw.endswith(b"\r\n"))
        for line in raw.split(b"\r\n")[:-1]:
            self.assertRegex(line, ENTRY)
        notes = self.notes()
        self.assertTrue(notes[0].startswith(b"Starting server: "))
        self.assertTrue(notes[1].startswith(b"Priority class set to "))
        self.assertTrue(notes[2].startswith(b"Thread priority set to "))
        self.assertEqual(notes[-3:], [b"Client closed", b"Stopping server (hard)", b"Closing log"])
        stamps = [t for t, _, _ in self.log()]
        self.assertEqual(stamps, sorted(stamps))

    def test_server_ending_by_itself_ends_the_relay(self):
        s = self.session("")
        s.wait_for(b"ready\n")
        s.send("exit\n")
        code = s.process.wait(timeout=30)
        self.assertEqual(code, 0)
        self.assertEqual(self.notes()[-3:], [b"Server closed", b"Stopping server communication", b"Closing log"])

    def test_server_that_cannot_start(self):
        self.write("relay.ini", "")
        done = harness.run(["/t", "relay.ini", "/l", "relay.log", harness.host_path(
            os.path.join(self.dir, "no-such-server"))], cwd=self.dir, timeout=60)
        self.assertEqual(done.returncode, 0)
        self.assertEqual(done.stdout, b"Error starting server program." + harness.EOL)
        self.assertEqual(self.notes()[-1], b"Error starting server program.")

    def test_server_path_with_a_blank_starts_the_program_found(self):
        # The system's own search would try the planted ...\Srv.exe before ...\Srv Dir\srv.exe.
        os.mkdir(os.path.join(self.dir, "Srv Dir"))
        server = harness.copy_program(harness.TEST_SERVER, os.path.join(self.dir, "Srv Dir"), "srv")
        harness.copy_program(harness.TEST_SERVER, self.dir, "Srv")
        self.write("relay.ini", "")
        done = harness.run(["/t", "relay.ini", harness.host_path(server) + " cwd"], input=b"program\n",
                           cwd=self.dir)
        self.assertIn(("program " + harness.host_path(server) + "\n").lower().encode(), done.stdout.lower())

    def test_log_appends_to_earlier_runs(self):
        self.write("relay.log", "earlier\r\n")
        self.relay("", b"x\n")
        with open(os.path.join(self.dir, "relay.log"), "rb") as f:
            self.assertTrue(f.read().startswith(b"earlier\r\n0.0"))


class LoadTest(RelayTestCase):
    def test_many_lines_both_ways_arrive_whole_and_in_order(self):
        count = 100000
        lines = [b"client %d payload" % i for i in range(count)]
        out = self.relay("[Client2Server]\npayload := load\n[Server2Client]\nclient := server\n",
                         b"\n".join(lines) + b"\n", timeout=300)
        expected = [b"ready"] + [b"server %d load" % i for i in range(count)]
        self.assertEqual(out.split(b"\n")[:-1], expected)
        self.assertEqual(self.received(">"), lines)
        self.assertEqual(self.received("<"), [b"ready"] + [b"client %d load" % i for i in range(count)])

    def test_answers_and_server_lines_written_at_once_stay_whole(self):
        # Both readers write to the client at the same time: Relayon's answers to 'ping' and the
        # server's echoes of the other lines. The client reads slowly, so that the pipe is often
        # full and a write that did not wait for the other one would be cut by it.
        count = 50000
        lines = [b"line %d goes to the server and comes back" % i for i in range(count)]
        process = harness.start(self.arguments("[Client2Client]\nping := pong\n"), cwd=self.dir)
        self.release_at_end(process)
        text = b"".join(b"ping\n" + line + b"\n" for line in lines)
        feeder = threading.Thread(target=lambda: (process.stdin.write(text), process.stdin.flush()))
        feeder.start()
        chunks = []
        seen = 0
        while seen < 2 * count + 1:
            data = process.stdout.read1(4096)
            if not data:
                break
            chunks.append(data)
            seen += data.count(b"\n")
            time.sleep(0.0005)
        feeder.join()
        process.stdin.close()
        self.assertEqual(process.wait(timeout=60), 0)
        got = b"".join(chunks).split(b"\n")[:-1]
        self.assertEqual(got.count(b"pong"), count)
        self.assertEqual([line for line in got if line != b"pong"], [b"ready"] + lines)


class ControlSignalTest(RelayTestCase):
    def test_sigint_reaches_the_server_and_relayon_goes_on(self):
        console = os.path.join(self.dir, "console.txt")
        env = dict(os.environ, RELAYON_CONSOLE=console)
        self.write("relay.ini", "")
        process = harness.start(["/t", "relay.ini", "/l", "relay.log", "/d", "1",
                                 harness.server_command("signals")], cwd=self.dir, env=env)
        s = self.watch(process)
        s.wait_for(b"ready\n")
        process.send_signal(signal.SIGINT)
        s.wait_for(b"control 0\n")
        s.send("still here\n")
        s.wait_for(b"still here\n")
        code, _ = s.close()
        self.assertEqual(code, 0)
        self.assertIn(b"Control signal CTRL-C", self.notes())
        if not harness.WINDOWS:
            with open(console, "rb") as f:
                self.assertIn(b"Control signal CTRL-C\n", f.read())


if __name__ == "__main__":
    unittest.main()
