"""Relayon under load and faults. Each test runs Relayon and the test server under names of its own,
finds them by those names in /proc and checks at its end that none was left, running, stopped or a
zombie (on Windows, Relayon's helper processes included). Under Wine a Windows server is a Linux
process of that name but not Relayon's child, so the checks of Relayon's children, descriptors and
threads are native only; counts marked WINE are cut."""
import collections, os, pathlib, resource, secrets, signal, subprocess, time, unittest, zlib

import harness

POSIX = not harness.WINDOWS
Process = collections.namedtuple("Process", "pid ppid state")


class FaultTest(harness.RelayonTestCase):
    def setUp(self):
        super().setUp()
        token = secrets.token_hex(4)
        self.server_name, self.relayon_name = "srv" + token, "rl" + token
        self.server = harness.copy_program(harness.TEST_SERVER, self.dir, self.server_name)
        self.relayon = harness.copy_program(harness.EXE, self.dir, self.relayon_name)
        self.addCleanup(self.assert_nothing_left)  # after Relayon's own release

    def start(self, *args, **kwargs):
        kwargs.setdefault("program", self.relayon)
        return super().start(*args, **kwargs)

    def servers(self, *names):
        """This test's servers (or processes of those names), from /proc (a zombie keeps its name)."""
        names = [n + e for n in (names or [self.server_name]) for e in ("", ".exe")]
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                name, _, rest = pathlib.Path("/proc/%s/stat" % pid).read_bytes().partition(b"(")[2].rpartition(b")")
            except OSError:
                continue  # ended meanwhile
            if name.decode(errors="replace") in names:
                found.append(Process(int(pid), int(rest.split()[1]), rest.split()[0].decode()))
        return found

    def assert_nothing_left(self):
        """No server or Relayon of this test remains, once ended ones have had a moment to be reaped."""
        left = lambda: self.servers(self.server_name, self.relayon_name)
        self.wait_until(lambda: not left(), "end of the processes left behind: %s" % left(), 5)

    def assert_bytes(self, got, expected, what=""):
        """got == expected, where a failure shows where long byte strings part."""
        if got != expected:
            at = next(i for i in range(0, len(got) + 1, 4096) if got[i:i + 4096] != expected[i:i + 4096])
            self.fail("%s%d bytes, %d expected; they part in the 4 KiB from %d: %r" % (
                what, len(got), len(expected), at, got[at:at + 80]))

    def test_both_directions_flood_at_once(self):
        count = (64 << 20) // 64
        payload = b"".join(b"client %07d %s\n" % (n, b"y" * 48) for n in range(1, count + 1))
        flood = b"".join(b"flood %07d %s\n" % (n, b"0" * 49) for n in range(1, count + 1))
        process, output = self.start("", ["flood", str(count)], log=None, ready=False)
        writer = harness.feed(process, payload + b"sum\n")
        # The server answers sum after its last flood line, once it has read all of ours.
        output.wait(lambda d: d.endswith(b"\n") and b"\nsum " in d[-100:], 300, "sum line")
        writer.join(60)
        self.assert_bytes(self.end(process, output),
                          b"ready\n" + flood + b"sum %d %d %d\n" % (count, len(payload), zlib.adler32(payload)))

    def test_server_ending_right_after_its_lines(self):
        expected = b"".join(b"line %d\n" % n for n in range(1, 100001))
        for run in range(10 if harness.WINDOWS else 100):  # WINE: 10 runs
            # The input stays open: the server's end alone ends Relayon.
            process, output = self.start("", ["lines", "100000"], log=None, ready=False)
            self.assert_bytes(output.finish(60), expected, "run %d: " % run)
            self.assertEqual(process.wait(timeout=30), 0)
            self.assert_nothing_left()

    def test_long_lines_whole_up_to_the_limit_cut_beyond_in_bounded_memory(self):
        # A client line without a line feed for long, which a template multiplies, then lines at
        # and over the limit that come back from the server.
        limit, size = 16 << 20, (64 if harness.WINDOWS else 512) << 20  # WINE: 64 MiB, it pipes slowly
        body = b"".join(b"%08x" % n for n in range(limit // 8))[:limit - 3]  # no two blocks alike
        over = b"o" * (limit + 5000)
        process, output = self.start("[Client2Server]\nx := " + "<string>" * 60 + "\n[Server2Client]\nEND := end\n")
        writer, peak = harness.feed(process, b"x" * size), 0
        while writer.is_alive():
            with open("/proc/%d/status" % process.pid) as status:  # the peak resident size
                peak = max(peak, next(int(l.split()[1]) >> 10 for l in status if l.startswith("VmHWM:")))
            time.sleep(0.05)
        writer = harness.feed(process, b"\n" + body + b"END\n" + over + b"\nlast\n")
        output.wait(lambda d: d.endswith(b"last\n"), 240, "the line after the long ones")
        writer.join(60)
        if POSIX:
            self.assertLess(peak, 100, "MiB resident while %d MiB arrived without a line feed" % (size >> 20))
        self.assert_bytes(self.end(process, output), b"ready\n" + b"x" * limit + b"\n" + body + b"end\n" +
                          over[:limit] + b"\nlast\n")
        notes = self.assert_clean_end(b"Client closed")
        for note in (b"Translated line cut at 16777216 bytes", b"Line longer than 16777216 bytes: 5000 bytes dropped"):
            self.assertIn(note, notes)

    def test_peers_that_end_or_stop_reading_end_it_cleanly(self):
        die = lambda process: self.send(process, None, b"die\n")
        kill = lambda process: os.kill(self.servers()[0].pid, signal.SIGKILL)
        close = lambda process: process.stdin and process.stdin.close()
        cases = [  # server arguments, Popen arguments, what the peer does, output, the log's closing note
            # The bytes after the server's last line feed are dropped.
            (["partial", "cut-off"], {}, die, b"ready\n", b"Server closed"),
            (["partial", "cut-off"], {}, kill, b"ready\n", b"Server closed"),
            # The client never reads and the flooding server never ends: Relayon gives the server
            # its five seconds, then ends whatever its readers were blocked in.
            (["flood", "1000000"], dict(read=False), close, None, b"Client closed"),
            # No descriptor Relayon opens may take the missing input's place and be read as it; the
            # null device is a character device like a console, but reads as an ended input.
            ([], dict(stdin=None, preexec_fn=lambda: os.close(0), read=False), close, None, b"Client closed"),
            ([], dict(stdin=subprocess.DEVNULL, read=False), close, None, b"Client closed"),
        ]
        for n, (server_args, popen, end, expected, note) in enumerate(cases):
            with self.subTest(case=n):
                process, output = self.start("", server_args, **popen)
                end(process)
                self.assertEqual(process.wait(timeout=30), 0)
                self.assertEqual(output and output.finish(30), expected)
                self.assert_clean_end(note)
                self.assert_nothing_left()

    @unittest.skipIf(harness.WINDOWS, "a Windows server is not Relayon's child under Wine")
    def test_stop_is_hard_as_asked_and_a_server_outliving_it_is_reaped(self):
        for hard in (0, 1):
            # "Server closed" comes after the stop's five seconds; the server ends four later.
            self.write("relay.log", "")
            process, output = self.start("[Relayon]\nTerminateHard := %d\n" % hard, ["linger", "9"])
            self.send(process, output, b"<stop>\necho here\n")
            self.wait_until(lambda: b"Server closed" in self.entries(), "end of the stop", 20)
            self.assertEqual(len(self.servers()), 1 - hard)
            self.wait_until(lambda: not self.servers(), "reaping of the server", 20)
            self.assertIsNone(process.poll())
            self.end(process)

    def test_client_that_stops_reading(self):
        # Throttled, so that the server is also stopped and continued while it waits in a write.
        process, _ = self.start("[Relayon]\nCpuPower := 50\n", read=False)
        lines = b"".join(b"echo %06d %s\n" % (n, b"z" * 88) for n in range(40000))  # 4 MB
        writer = harness.feed(process, lines + b"last\n")
        # Nobody reads: the pipes fill up and every side waits in a write, until the client's
        # end goes away and Relayon's writes to it fail.
        time.sleep(1.0)
        process.stdout.close()
        writer.join(120)
        self.assertFalse(writer.is_alive(), "Relayon stopped reading its input")
        self.wait_until(lambda: b": < last\r\n" in self.read("relay.log"), "relayed last line of the server", 120)
        self.end(process)
        self.assert_clean_end(b"Client closed")

    def test_stop_start_cycles_release_everything(self):
        process, output = self.start("[Client2Server]\nhalt := <stop>\n")
        if POSIX:  # the server inherits no descriptor of Relayon's
            [server] = self.servers()
            self.assertEqual(sorted(os.listdir("/proc/%d/fd" % server.pid)), ["0", "1", "2"])

        def resources():  # descriptors, threads, and for each child whether it runs
            return POSIX and ([len(os.listdir("/proc/%d/%s" % (process.pid, d))) for d in ("fd", "task")],
                              [p.state not in "ZT" for p in self.servers() if p.ppid == process.pid])

        # A rule may give a directive; a line while the server is stopped goes nowhere; a start
        # while it runs does nothing, whatever the directive's case.
        self.send(process, output, b"halt\nlost\n<start>\n<START>\necho start\n", b"ready\nready\necho start\n")
        before = resources()
        for n in range(200):
            self.send(process, output, b"<stop>\n<start>\necho %d\n" % n, b"ready\necho %d\n" % n)
        # The last hand-over may still be settling.
        self.wait_until(lambda: resources() == before, "release of what the cycles held", 5)
        self.assertEqual(self.end(process, output), b"ready\nready\necho start\n" +
                         b"".join(b"ready\necho %d\n" % n for n in range(200)))
        self.assertEqual(self.assert_clean_end(b"Client closed").count(b"Server closed"), 402)

    def test_copy_that_fails_leaves_every_file_as_it_was(self):
        self.write("important.txt", "precious\n")
        self.write("source.txt", "copied text\n")
        os.mkdir(os.path.join(self.dir, "adir"))
        # "<copy> TARGET SOURCE": sources that are no regular file (a device would never end),
        # targets that are no regular file or that Relayon writes (the live log).
        copies = ["important.txt adir", "important.txt missing.txt", "important.txt " + harness.host_path("/dev/zero"),
                  "adir source.txt", "relay.log source.txt"]
        if POSIX:  # Wine cannot open a FIFO; a device is a target only POSIX could replace
            os.mkfifo(os.path.join(self.dir, "fifo"))
            copies += ["important.txt fifo", "/dev/zero source.txt"]
        files = os.listdir(self.dir) + ["relay.ini", "relay.log", "copy.txt"]
        self.write("copy.txt", "overwritten\n")
        # A file size limit makes a copy that would fill the disk fail soon.
        process, output = self.start("", preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20,) * 2))
        copies += ["copy.txt source.txt", "logcopy.txt relay.log"]
        self.send(process, output, "".join("<copy> %s\n" % c for c in copies).encode() + b"done\n", b"done\n")
        self.end(process)
        self.assertEqual(self.read("important.txt"), b"precious\n")
        self.assertEqual(self.read("copy.txt"), b"copied text\n")
        log = self.read("relay.log")
        self.assertTrue(log.startswith(b"0.") and b"copied text" not in log and b"\0" not in log, log[:200])
        if POSIX or os.path.exists(os.path.join(self.dir, "logcopy.txt")):  # the live log as a source
            self.assertTrue(log.startswith(self.read("logcopy.txt")))  # (Windows: as CopyFileA shares)
            files.append("logcopy.txt")
        self.assertEqual(sorted(os.listdir(self.dir)), sorted(files))  # no temporary file left
        self.assertFalse(os.path.isfile("/dev/zero"))

    def halted(self):
        """Whether the busy server's main thread (POSIX: the whole server) stood still for 0.3 s."""
        stat = lambda: pathlib.Path("/proc/%d/task/%d/stat" % ((self.servers()[0].pid,) * 2)).read_bytes()
        before = stat().rpartition(b")")[2].split()[11:13]  # its processor time, user and system
        time.sleep(0.3)
        return stat().rpartition(b")")[2].split()[11:13] == before

    def test_throttled_server_is_not_left_suspended(self):
        # However Relayon ends, the server is continued and sees the end of its input. WINE calls no
        # control handler for SIGTERM or SIGHUP and cannot raise the close, logoff or shutdown events.
        self.addCleanup(lambda: [os.kill(p.pid, signal.SIGKILL) for p in self.servers()])
        for sig in (signal.SIGTERM, signal.SIGHUP, signal.SIGKILL) if POSIX else (signal.SIGKILL,):
            with self.subTest(sig.name):
                process, output = self.start("[Relayon]\nCpuPower := 1\n", ["busy"])  # 9.9 of 10 s suspended
                self.wait_until(self.halted, "suspended server")
                process.send_signal(sig)
                self.assertEqual(process.wait(timeout=30), -sig)
                self.assert_nothing_left()

    def test_ctrl_c_reaches_the_server_and_an_ignored_hangup_stays_ignored(self):
        ignore_hangup = dict(preexec_fn=lambda: signal.signal(signal.SIGHUP, signal.SIG_IGN)) if POSIX else {}
        # Relayon in a folder whose name the ANSI code page cannot spell (Windows)
        os.mkdir(os.path.join(self.dir, "ключ 日本"))
        program = harness.copy_program(harness.EXE, os.path.join(self.dir, "ключ 日本"), self.relayon_name)
        process, output = self.start("", ["signals"], extra=["/d", "1"], program=program, **ignore_hangup,
                                     env=dict(os.environ, RELAYON_CONSOLE=os.path.join(self.dir, "console.txt")))
        if POSIX:  # the signal thread takes the lower signal number first: the hang-up before the Ctrl-C
            process.send_signal(signal.SIGHUP)
        process.send_signal(signal.SIGINT)
        output.wait(lambda d: b"control 0\n" in d, 20, "control 0")
        if POSIX:  # Break: Wine cannot raise it
            process.send_signal(signal.SIGQUIT)
            output.wait(lambda d: b"control 1\n" in d, 20, "control 1")
        self.send(process, output, b"still here\n", b"still here\n")
        self.end(process)
        notes = self.entries()
        self.assertTrue(b"Control signal CTRL-C" in notes and b"Control signal CLOSE" not in notes, notes)
        if POSIX:
            self.assertIn(b"Control signal CTRL-C\n", self.read("console.txt"))

    def test_server_search_passes_over_a_directory_and_blanks(self):
        # The system's own search would try the planted ...\Srv.exe before ...\Srv Dir\srv.exe;
        # where the longest existing prefix of the command line is a directory, the program is shorter.
        os.mkdir(os.path.join(self.dir, "Srv Dir"))
        os.rename(self.server, os.path.join(self.dir, "Srv Dir", os.path.basename(self.server)))
        self.server = os.path.join(self.dir, "Srv Dir", os.path.basename(self.server))
        harness.copy_program(self.server, self.dir, "Srv")
        # The server gets exactly its arguments, its program's path first, also where the
        # translation file quotes it; a program found on PATH keeps the name it was given.
        path, folder = harness.host_path(self.server), os.path.dirname(self.server)
        quoted = '[Relayon]\nCommandLine := "%s" cwd\n' % path.replace("\\", "\\\\")
        by_name = "[Relayon]\nCommandLine := %s cwd\n" % self.server_name
        on_path = dict(os.environ, PATH=folder + os.pathsep + os.environ["PATH"], WINEPATH=harness.host_path(folder))
        for ini, directory, env, first in (("", False, None, path), ("", True, None, path), (quoted, False, None, path),
                                           (by_name, False, on_path, self.server_name)):
            if directory:
                os.mkdir(self.server + " cwd" + (".exe" if harness.WINDOWS else ""))
            process, output = self.start(ini, ["cwd"], log=None, env=env)
            self.send(process, output, b"argv\n")
            out = self.end(process, output)
            self.assertTrue(out.startswith(b"cwd "), out)
            self.assertIn(("argv [%s] [cwd]\n" % first).encode(), out)
