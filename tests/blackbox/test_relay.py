"""Relayon end to end, driven as a client would. The test server writes "ready", then echoes every
line it reads (with "hex", the bytes it read), so a client line comes back through both rule tables."""
import os, pathlib, re, time, unittest

import harness


class RelayTest(harness.RelayonTestCase):
    def ask_priority(self, process, output, answer):
        """Asks the server for its priorities until it gives answer: the main loop applies them
        at its first time-out, after 2 s, and follows Relayon's own every 2 s."""
        deadline = time.monotonic() + 10
        while not output.data.endswith(answer):
            self.assertLess(time.monotonic(), deadline, bytes(output.data))
            self.send(process, output, b"priority\n")
            time.sleep(0.25)

    @unittest.skipIf(harness.WINDOWS, "Wine gives no way to lower Relayon's priority from outside")
    def test_server_follows_relayons_priorities_where_none_was_asked_for(self):
        for extra, steps in (([], [(10, b"priority 16384 0\n"), (19, b"priority 64 0\n")]),
                             (["/h", "lowest"], [(0, b"priority 32 -2\n")])):
            process, output = self.start("", extra=extra, log=None)
            for nice, answer in steps:  # Relayon's own class changes while it runs
                os.setpriority(os.PRIO_PROCESS, process.pid, nice)
                self.ask_priority(process, output, answer)
            self.end(process)

    @unittest.skipIf(harness.WINDOWS, "the debug display is a console screen buffer there")
    def test_debug_display_shows_the_sides_asked_for_in_their_colours(self):
        # Blue (94) what goes to the server, red (91) what goes to the client: on the client's
        # side as received and sent, on the server's side as sent and received; in the order they
        # went, an answer after the line that asked for it.
        for debug, shown in ((1, [b"91 ready", b"94 q", b"91 R"]), (2, [b"91 ready", b"94 Q", b"91 Q"]),
                             (3, [b"91 ready", b"94 Q", b"91 R"])):
            display = os.path.join(self.dir, "display%d" % debug)
            process, output = self.start("[Client2Server]\nq := Q\n[Server2Client]\nQ := R\n", extra=["/d", str(debug)],
                                         env=dict(os.environ, RELAYON_CONSOLE=display))
            self.send(process, output, b"q\n", b"R\n")
            self.end(process)
            # Texts of one colour that waited together are shown in one sequence, so each line
            # takes the colour last set before it.
            colour, lines = b"", []
            for part in re.split(rb"(\x1b\[[0-9;]*m)", pathlib.Path(display).read_bytes()):
                if part.startswith(b"\x1b["):
                    colour = part[2:-1]
                else:
                    lines += [colour + b" " + line for line in part.split(b"\n")[:-1] if colour in (b"91", b"94")]
            self.assertEqual(lines, shown, debug)
        # NO_COLOR: no colour, a mark that begins each line instead.
        process, output = self.start("[Client2Server]\nq := Q\n", extra=["/d", "3"], log=None,
                                     env=dict(os.environ, RELAYON_CONSOLE=display, NO_COLOR="1"))
        self.send(process, output, b"q\n", b"Q\n")
        self.end(process)
        shown = pathlib.Path(display).read_bytes().rpartition(b"\x1b[0m")[2].splitlines()  # after the colours
        self.assertEqual(sorted(line for line in shown if line[:2] != b"- "), [b"< Q", b"< ready", b"> Q"], shown)
        self.assertTrue(shown[0].startswith(b"- Starting server: "), shown)

    def test_rules_and_directives_both_ways(self):
        self.write("lines.txt", b"one\r\n\n;c\n two \n")
        self.start("", log="held.log")  # another Relayon writes held.log, which is read all the same
        done = harness.run(self.arguments(
            "[Client2Server]\nabc := never\n"  # visited after 'ab', which has changed the line
            "ab := X\ndrop :=\nhello := hi there\nfile := <readfile> lines.txt\nmissing := <readfile> nothere.txt\n"
            "held := <readfile> held.log\n"
            "[Server2Client]\nhi := HI\nX := x\nhalt := <stop>\n"),  # only the client's lines carry out actions
            input=b"abc\ndrop\n\nhello\nfile\nmissing\nheld\nhalt\n", cwd=self.dir)
        self.assertEqual(done.returncode, 0)
        self.assertRegex(done.stdout, rb"^ready\nxc\n\nHI there\none\ntwo\n(\d+\.\d{3}: [-<>] [^\n]+\n)+<stop>\n$")
        # The log shows every line as received, before any rule.
        self.assertEqual(self.entries(">"), [b"abc", b"drop", b"", b"hello", b"file", b"missing", b"held", b"halt"])
        self.assertEqual(self.entries("<")[:4], [b"ready", b"Xc", b"", b"hi there"])
        notes = self.entries()
        self.assertIn(b"Open file:  lines.txt", notes)
        self.assertIn(b"Open file:  held.log", notes)
        self.assertTrue(any(n.startswith(b"Error opening file: ") and len(n) > 20 for n in notes), notes)

    def test_a_client_writing_messages_longer_than_a_read(self):
        # The test server plays the client: it hands Relayon a pipe of messages (Windows: a
        # message-mode named pipe) and writes one line of 100,000 bytes as one message.
        done = harness.run(["client", "100000", harness.host_path(harness.EXE)] + self.arguments(""),
                           cwd=self.dir, program=harness.TEST_SERVER)
        self.assertEqual((done.returncode, done.stdout), (0, b"ready\n" + b"x" * 100000 + b"\n"))

    def test_line_ends_of_each_side_and_answers_to_the_sender(self):
        # An answer from a reply table ends with its sender's line end, a passed-on line with
        # its receiver's; the hex server shows the bytes it gets.
        process, output = self.start(
            "[Relayon]\nEndLineClient := \\r\\n\nEndLineServer := \\t\\n\n"
            "[Client2Client]\nping := pong\ntwo := first\\nsecond\n"
            "[Client2Server]\nboth := first\\n\\nsecond\\n\n"
            "[Server2Server]\nhex 71090a := again\n", server_args=["hex"])
        self.send(process, output, b"ping\nPING\ntwo\nboth\nq\n")
        output.wait(lambda d: re.search(rb"hex 616761696e\w+\r\n", d), 20, "the server's answer to 'again'")
        self.assertIn(b"q", self.entries(">"))  # each entry is written before its line is passed on
        out = self.end(process, output)
        self.assertEqual(re.findall(rb"hex \w+", out), [
            b"hex 50494e47090a", b"hex 6669727374090a", b"hex 7365636f6e64090a", b"hex 616761696e090a"])
        self.assertEqual(re.sub(rb"hex \w+\r\n", b"", out), b"ready\r\npong\r\nfirst\nsecond\r\n")

    def test_log_priorities_and_hard_shutdown(self):
        self.write("relay.log", "earlier\r\n")
        process, output = self.start("[Relayon]\nTerminateHard := on\n", extra=["/p", "below", "/h", "below", ""])
        if not harness.WINDOWS:  # what another writer appends stays (Windows keeps it out by the share mode)
            with open(os.path.join(self.dir, "relay.log"), "ab") as log:
                log.write(b"appended outside\r\n")
        self.ask_priority(process, output, b"priority 16384 -1\n")
        self.end(process, output)
        # Each entry a line of its own, after what the file held, in the order of its stamps.
        raw = self.read("relay.log")
        self.assertRegex(raw, rb"^earlier\r\n((\d+\.\d{3}: [<>-] [^\r]*|appended outside)\r\n)+$")
        if not harness.WINDOWS:
            self.assertIn(b"> priority\r\n", raw.partition(b"\r\nappended outside\r\n")[2])
        stamps = [float(t) for t in re.findall(rb"(?m)^(\d+\.\d{3}): ", raw)]
        self.assertEqual(stamps, sorted(stamps))
        notes = self.entries()  # the server's command line is shown trimmed
        self.assertEqual(notes[0], b"Starting server: " + harness.server_command().encode())
        for note, begins in zip(notes[1:], [b"Priority class set to ", b"Thread priority set to "]):
            self.assertTrue(note.startswith(begins), notes)
        self.assertEqual(notes[3:], [b"Priority class set to below", b"Thread priority set to below normal",
                                     b"Client closed", b"Stopping server (hard)", b"Closing log"])

    def test_cpu_power_gives_a_busy_server_its_share(self):
        # The share of a core the server's main thread gets, from its processor time and wall time.
        process, output = self.start("[Relayon]\nCpuPower := 20\n", ["busy"], log=None)
        samples = []
        for _ in range(2):
            self.send(process, output, b"cputime\n")
            output.wait(lambda d: d.count(b"cputime ") == len(samples) + 1 and d.endswith(b"\n"), 20, "cputime")
            samples.append([int(n) for n in re.findall(rb"cputime (\d+) (\d+)\n", output.data)[-1]])
            time.sleep(4)
        share = (samples[1][0] - samples[0][0]) / (samples[1][1] - samples[0][1])
        # Measured beside other work: the bounds tell 20 % from half power or none.
        self.assertTrue(0.05 < share < 0.35, share)
        self.end(process, output)

    def test_answers_and_server_lines_written_at_once_stay_whole(self):
        # Both readers write to the client at the same time: Relayon's answers to 'ping' and the
        # server's echoes of the other lines. The client reads slowly, so that the pipe is often
        # full and a write that did not wait for the other one would be cut by it.
        count = 50000
        lines = [b"line %d goes to the server and comes back" % i for i in range(count)]
        process, _ = self.start("[Client2Client]\nping := pong\n", read=False)
        feeder = harness.feed(process, b"".join(b"ping\n" + line + b"\n" for line in lines))
        chunks, seen = [], 0
        while seen < 2 * count + 1 and (data := process.stdout.read1(4096)):
            chunks.append(data)
            seen += data.count(b"\n")
            time.sleep(0.0005)
        feeder.join()
        self.end(process)
        got = b"".join(chunks).split(b"\n")[:-1]
        self.assertEqual(got.count(b"pong"), count)
        self.assertEqual([line for line in got if line != b"pong"], [b"ready"] + lines)
