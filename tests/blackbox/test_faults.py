"""Relayon under load and faults. Each test runs Relayon and the test server under names of its own,
finds them by those names in /proc and checks at its end that none was left, running, stopped or a
zombie (on Windows, Relayon's helper processes included). Under Wine a Windows server is a Linux
process of that name but not Relayon's child, so the checks of Relayon's children, descriptors and
threads are native only; under Wine and the thread sanitizer the heaviest loads are cut."""
import collections, contextlib, os, pathlib, pwd, random, resource, secrets, signal, stat, subprocess, threading, \
    time, unittest, zlib
from unittest.mock import ANY

import harness

POSIX = not harness.WINDOWS
Process = collections.namedtuple("Process", "pid ppid state")


def unprivileged_user():
    """Popen arguments that run Relayon as the unprivileged user nobody where the test runs as
    root; {} where it runs unprivileged already or under Wine (whose prefix belongs to the user
    that made it); None where nobody cannot run Relayon."""
    if harness.WINDOWS or os.geteuid() != 0:
        return {}
    try:
        entry = pwd.getpwnam("nobody")
        user = dict(user=entry.pw_uid, group=entry.pw_gid, extra_groups=[])
        ran = subprocess.run([harness.EXE, "--version"], capture_output=True, timeout=30, **user)
    except (KeyError, OSError, subprocess.SubprocessError):
        return None
    return user if ran.returncode == 0 else None


def set_xattr(name):
    """Gives a file an extended attribute; False where the file system has none."""
    with contextlib.suppress(OSError):
        return os.setxattr(name, "user.relayon", b"kept") or True
    return False


class FaultCase(harness.RelayonTestCase):
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


class LoadTest(FaultCase):
    """Loads, long lines and peers that end, stop reading or never read."""

    def test_both_directions_flood_at_once(self):
        count = (16 if harness.SLOW else 64) << 20 >> 6
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
        for run in range(5 if harness.SLOW else 100):
            # The input stays open: the server's end alone ends Relayon.
            process, output = self.start("", ["lines", "100000"], log=None, ready=False)
            self.assert_bytes(output.finish(60), expected, "run %d: " % run)
            self.assertEqual(process.wait(timeout=30), 0)
            self.assert_nothing_left()

    def test_long_lines_whole_up_to_the_limit_cut_beyond_in_bounded_memory(self):
        # A client line without a line feed for long, which a template multiplies, then lines at
        # and over the limit that come back from the server.
        limit, size = 16 << 20, (64 if harness.SLOW else 512) << 20
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
        if POSIX and not harness.THREAD_SANITIZER:  # whose shadow memory would count as Relayon's
            self.assertLess(peak, 100, "MiB resident while %d MiB arrived without a line feed" % (size >> 20))
        self.assert_bytes(self.end(process, output), b"ready\n" + b"x" * limit + b"\n" + body + b"end\n" +
                          over[:limit] + b"\nlast\n")
        notes = self.assert_clean_end(b"Client closed")
        for note in (b"Translated line cut at 16777216 bytes", b"Line longer than 16777216 bytes: 5000 bytes dropped"):
            self.assertIn(note, notes)

    def test_readfile_reads_no_more_of_a_long_line_than_fits(self):
        # A first line of 17 MiB, or of 2 GiB (sparse beyond 17 MiB), gives its first 16 MiB either
        # way, and Relayon reads little more than that of it.
        for size in (17 << 20, 2 << 30):
            with open(os.path.join(self.dir, "long.txt"), "wb") as f:
                f.write(b"x" * (17 << 20)), f.truncate(size)
            process, output = self.start("[Client2Server]\nread := <readfile> long.txt\n", log=None)
            self.send(process, output, b"read\nafter\n", b"after\n")
            with open("/proc/%d/io" % process.pid) as io:
                self.assertLess(next(int(l.split()[1]) for l in io if l.startswith("rchar:")), 64 << 20, size)
            self.assertEqual(len(self.end(process, output)), len(b"ready\n\nafter\n") + (16 << 20))

    def test_peers_that_end_or_stop_reading_end_it_cleanly(self):
        die = lambda process: self.send(process, None, b"die\n")
        kill = lambda process: os.kill(self.servers()[0].pid, signal.SIGKILL)
        close = lambda process: process.stdin and process.stdin.close()
        cases = [  # server arguments, Popen arguments, what the peer does, output, the log's closing note
            # The bytes after the server's last line feed are dropped.
            (["partial", "cut-off"], {}, die, b"ready\n", b"Server closed"),
            (["partial", "cut-off"], {}, kill, b"ready\n", b"Server closed"),
            # The client's reader waits in a write to a server that does not read; the server
            # closes its output and outlives the stop: Relayon ends all the same (under Wine that
            # write cannot be interrupted, and the reader is left).
            (["deaf", "2"], {}, lambda process: harness.feed(process, b"x" * 99 + b"\n" * (1 << 20)), b"ready\n",
             b"Server closed"),
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

    def test_what_the_server_writes_at_the_end_of_its_input_reaches_the_client(self):
        # Also what a program the server started writes 0.3 s later, in the second after its end.
        process, output = self.start("", ["last", "1", "heir", "2000"])
        self.end(process, output)
        self.assertEqual(output.data.count(b"\nlast "), 2001, bytes(output.data[-100:]))

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

    def test_a_stop_while_the_client_reads_slowly_keeps_every_line_whole(self):
        # The old server's long answer waits for the client; the stop and the start must neither
        # cut it nor end the relay, and the new server's lines come after it.
        process, _ = self.start("", read=False)
        long = b"w" * 200000
        self.send(process, None, long + b"\n<stop>\n<start>\nafter\n")
        self.wait_until(lambda: self.entries().count(b"Server closed") >= 2 or process.poll() is not None,
                        "the stop and the start")
        output = harness.Output(process.stdout)
        output.wait(lambda d: d.endswith(b"after\n"), 30, "the line after the start")
        self.assert_bytes(self.end(process, output), b"ready\n" + long + b"\nready\nafter\n")

    @unittest.skipIf(harness.WINDOWS, "the display is a console there, which Wine shows nowhere")
    def test_a_display_nobody_reads_holds_nothing(self):
        display = os.path.join(self.dir, "display")
        os.mkfifo(display)
        start = lambda: self.start("", extra=["/d", "3"], env=dict(os.environ, RELAYON_CONSOLE=display))
        process, output = start()  # without a reader there is no display, and a reason
        self.end(process, output)
        self.assertIn(b"cannot open the debug display: ", process.stderr.read())
        # A reader that does not read: the relay goes on, and a signal or the client's end still end
        # Relayon; read again, the display says what it dropped.
        reader = os.open(display, os.O_RDONLY | os.O_NONBLOCK)
        self.addCleanup(os.close, reader)
        shown, lines = bytearray(), b"".join(b"line %06d %s\n" % (n, b"d" * 80) for n in range(30000))
        for end in ("term", "close", "read"):
            process, output = start()
            self.send(process, output, lines, lines[-100:])
            if end == "term":
                process.send_signal(signal.SIGTERM)
                self.assertEqual(process.wait(timeout=30), -signal.SIGTERM)
            elif end == "close":
                self.end(process, output)
            while not shown.endswith(b"91mlast\n\x1b[0m"):
                with contextlib.suppress(BlockingIOError):
                    while chunk := os.read(reader, 1 << 20):
                        shown += chunk
                if end != "read":
                    break
                self.send(process, output, b"last\n", b"last\n")
                time.sleep(0.1)
            shown = shown if end == "read" else bytearray()
        self.assertRegex(bytes(shown), rb"\[\d+ bytes not shown\]\n")
        self.end(process, output)

    def test_copy_does_what_cp_and_copyfile_do(self):
        """Each "<copy> TARGET SOURCE" of the table copies what cp (POSIX) and CopyFileA (Windows)
        copy and refuses what they refuse, leaving the target as it was and no file of the copy's
        own; all in one Relayon, run as nobody where the test runs as root (Wine's prefix is
        root's: under Wine as root). Then Relayon is ended by each signal in the middle of a copy."""
        user, path = unprivileged_user(), lambda name: os.path.join(self.dir, name)
        data = {"important.txt": b"precious\n", "source.txt": b"copied text\n", "copy.txt": b"overwritten\n",
                "keep.txt": b"keep this", "readonly.txt": b"read only\n", ".hidden.txt": b"hidden\n",
                "linked.txt": b"linked\n", "real.txt": b"real\n", "secret.txt": b"secret\n", "guarded.txt": b"guarded\n",
                "script.sh": b"#!/bin/sh\n", "rodir/inplace.txt": b"in place\n", "relay.log": b"",
                "display.txt": b"", "out.txt": b"", "err.txt": b"", "big.bin": bytes(range(256)) * 8192}
        os.mkdir(path("adir"))
        os.mkdir(path("rodir"))
        for name, content in data.items():
            self.write(name, content)
        for name, link in [("linked.txt", "linked2.txt"), ("relay.log", "loghard"), ("display.txt", "displayhard"),
                           ("out.txt", "outhard"), ("err.txt", "errhard"), ("source.txt", "sourcehard")]:
            os.link(path(name), path(link))
        for name, link in [("real.txt", "flink"), ("made.txt", "dangling"), ("relay.log", "loglink"),
                           ("display.txt", "displaylink"), ("out.txt", "outlink")]:
            os.symlink(name, path(link))
        if POSIX:
            os.mkfifo(path("fifo"))
        xattr = POSIX and set_xattr(path("linked.txt"))
        for name, mode in [("readonly.txt", 0o444), ("linked.txt", 0o640), ("secret.txt", 0), ("script.sh", 0o755),
                           ("rodir", 0o555)]:
            os.chmod(path(name), mode)
        self.addCleanup(os.chmod, path("rodir"), 0o755)  # for the directory's removal
        if user:  # the user's own files, but for one it may not read and a directory it may not write
            for name in [self.dir, path("rodir/inplace.txt")] + [path(n) for n in os.listdir(self.dir)
                                                                  if n not in ("secret.txt", "rodir")]:
                os.lchown(name, user["user"], user["group"])
        inode = {name: os.stat(path(name)).st_ino for name in data}
        umask = os.umask(0o22)
        os.umask(umask)

        def kept(*names):  # refused: the file, by each name, as it was
            for name in names:
                self.assertEqual((self.read(name), os.stat(path(name)).st_ino), (data[names[0]], inode[names[0]]))

        def copied(name, link=None):  # the source's content; POSIX: an existing file written in place
            self.assertEqual(self.read(name), data["source.txt"])
            self.assertTrue(harness.WINDOWS or os.stat(path(name)).st_ino == inode.get(name, ANY))
            self.assertTrue(link is None or os.path.islink(path(link)))

        def still_written(name, last=b"done"):  # refused, and Relayon's later writes still reach it
            self.assertEqual(os.stat(path(name)).st_ino, inode[name])
            self.assertNotIn(data["source.txt"], self.read(name))
            self.assertIn(last, self.read(name))

        def identity_kept():  # cp keeps the inode: its hard links, mode and attributes
            copied("linked.txt")
            self.assertEqual(self.read("linked2.txt"), data["source.txt"])
            self.assertEqual(stat.S_IMODE(os.stat(path("linked.txt")).st_mode), 0o640)
            self.assertTrue(not xattr or os.getxattr(path("linked.txt"), "user.relayon") == b"kept")

        def new_file():  # cp: the source's permissions as the umask allows, the user's own
            made = os.stat(path("script2.sh"))
            self.assertEqual((self.read("script2.sh"), stat.S_IMODE(made.st_mode), made.st_uid),
                             (data["script.sh"], 0o755 & ~umask, (user or {}).get("user", os.geteuid())))

        def live_log_copied():
            if POSIX or os.path.exists(path("logcopy.txt")):  # Windows: as CopyFileA shares it
                self.assertTrue(self.read("relay.log").startswith(self.read("logcopy.txt")))

        no_fifo = "Wine cannot open a FIFO; a device is a target only POSIX could replace"
        as_root = "Wine runs as root here, which may read and write any file and folder"
        console = "the Windows display is a console"
        cases = [  # (targets, source, check, why Wine cannot show it, needs an unprivileged user)
            # Sources that are no regular file (a device would never end), targets that are none.
            ("important.txt", "adir", lambda: kept("important.txt"), None, False),
            ("important.txt", "missing.txt", lambda: kept("important.txt"), None, False),
            ("important.txt", harness.host_path("/dev/zero"), lambda: kept("important.txt"), None, False),
            ("important.txt", "fifo", lambda: kept("important.txt"), no_fifo, False),
            ("adir", "source.txt", lambda: self.assertEqual(os.listdir(path("adir")), []), None, False),
            ("/dev/zero", "source.txt", lambda: self.assertTrue(stat.S_ISCHR(os.stat("/dev/zero").st_mode)),
             no_fifo, False),
            ("copy.txt", "source.txt", lambda: self.assertEqual(self.read("copy.txt"), data["source.txt"]), None, False),
            ("logcopy.txt", "relay.log", live_log_copied, None, False),
            # A copy failing part-way (a file size limit stands for a full disk) leaves the target.
            ("keep.txt", "big.bin", lambda: kept("keep.txt"), None, False),
            # Refused by cp and CopyFileA: a file the user may not write (Windows: read-only) or
            # read, the source itself by any name; a hidden file (Wine hides dot files) by CopyFileA.
            ("readonly.txt", "source.txt", lambda: kept("readonly.txt"), None, True),
            ("guarded.txt", "secret.txt", lambda: kept("guarded.txt"), as_root, True),
            ("source.txt sourcehard", "source.txt", lambda: kept("source.txt", "sourcehard"), None, False),
            (".hidden.txt", "source.txt", lambda: (copied if POSIX else kept)(".hidden.txt"), None, False),
            # POSIX writes in place: the identity kept, a file writable where its directory is not;
            # through a link to a file; a dangling link gets the file it points to.
            ("linked.txt", "source.txt", identity_kept,
             "the Windows build moves a new file over the target (README): its other links keep the old one", False),
            ("rodir/inplace.txt", "source.txt", lambda: copied("rodir/inplace.txt"), as_root, True),
            ("flink", "source.txt", lambda: copied("real.txt", "flink"), None, False),
            ("dangling", "source.txt", lambda: copied("made.txt", "dangling"),
             "the Windows build refuses a dangling link (README), which Wine hides", False),
            ("script2.sh", "script.sh", new_file, "Windows files have no permission bits", False),
            # Files Relayon writes, by any name: the log, the display, standard output and error.
            ("relay.log loglink loghard " + harness.host_path(path("relay.log")), "source.txt",
             lambda: still_written("relay.log", b"Closing log"), None, False),
            ("display.txt displaylink displayhard", "source.txt", lambda: still_written("display.txt"), console, False),
            ("out.txt outlink outhard", "source.txt", lambda: still_written("out.txt"), None, False),
            ("err.txt errhard", "source.txt", lambda: kept("err.txt", "errhard"), None, False),
        ]
        skips = {}
        for targets, source, _, wine, unprivileged in cases:
            if harness.WINDOWS and wine:
                skips[targets, source] = wine
            elif POSIX and unprivileged and user is None:
                skips[targets, source] = "the test runs as root, and the user nobody cannot run Relayon here"
        files = set(os.listdir(self.dir)) | {"relay.ini", "made.txt", "script2.sh", "logcopy.txt"}
        lines = "".join("<copy> %s %s\n" % (target, source) for targets, source, *_ in cases
                        if (targets, source) not in skips for target in targets.split())

        # A file size limit of 1 MiB makes a copy fail part-way as a full disk would (its signal
        # ignored, a write beyond it fails), and one that would fill the disk fail soon.
        def limit():
            resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20,) * 2)
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        with open(path("out.txt"), "ab") as out, open(path("err.txt"), "ab") as err:
            process, _ = self.start("", extra=["/d", "3"] if POSIX else [], read=False, stdout=out, stderr=err,
                                    env=dict(os.environ, RELAYON_CONSOLE="display.txt"), preexec_fn=limit,
                                    **(user or {}))
            self.send(process, None, lines.encode() + b"done\n")
            self.end(process)
        for targets, source, check, *_ in cases:
            with self.subTest(targets + " <- " + source):
                if (targets, source) in skips:
                    self.skipTest(skips[targets, source])
                check()
        self.assertEqual(set(os.listdir(self.dir)) - files, set())  # no file of the copy's own
        self.assertEqual(os.listdir(path("rodir")), ["inplace.txt"])
        self.copy_ended_by_signals()

    def copy_ended_by_signals(self):
        """However Relayon ends in the middle of a long copy, no file of the copy's own remains: a
        copy still reading its source leaves the target as it was, and SIGTERM or SIGHUP let one
        that writes an existing target in place finish it."""
        if harness.WINDOWS:
            with self.subTest("signals"):
                self.skipTest("Wine calls no control handler for SIGTERM or SIGHUP; a Windows Relayon "
                              "killed during CopyFileA leaves its temporary file (README)")
            return
        size, path = 512 << 20, lambda name: os.path.join(self.dir, name)
        self.write("long.bin", b"")
        os.truncate(path("long.bin"), size)  # sparse: read in a moment
        for sig, target, phase, sizes in [(signal.SIGTERM, "old.bin", "reading", (3, size)),
                                          (signal.SIGHUP, "old.bin", "writing", (size,)),
                                          (signal.SIGKILL, "new.bin", "reading", (None,))]:
            with self.subTest(sig.name):
                self.write("old.bin", b"old")
                files = set(os.listdir(self.dir))
                process, output = self.start("")
                self.send(process, output, b"<copy> %s long.bin\n" % target.encode())
                self.wait_until(lambda: self.copy_phase(process.pid, path(target), size) == phase, phase, 20)
                process.send_signal(sig)
                self.assertEqual(process.wait(timeout=30), -sig)
                self.assertEqual(set(os.listdir(self.dir)) - files, set())
                self.assertIn(os.path.getsize(path(target)) if os.path.exists(path(target)) else None, sizes)

    def copy_phase(self, pid, target, size):
        """"reading" while process pid writes a file of the test's directory that is not the log
        or the target (a copy's temporary file, named or not) and is shorter than size,
        "writing" once it has that size, else None."""
        for fd in os.listdir("/proc/%d/fd" % pid):
            with contextlib.suppress(OSError, IndexError, ValueError):
                link = "/proc/%d/fd/%s" % (pid, fd)
                name = os.readlink(link).removesuffix(" (deleted)")
                flags = pathlib.Path("/proc/%d/fdinfo/%s" % (pid, fd)).read_text().split("flags:")[1].split()[0]
                if int(flags, 8) & 3 and name.startswith(self.dir + "/") and \
                        name not in (os.path.join(self.dir, "relay.log"), target):
                    return "reading" if os.stat(link).st_size < size else "writing"
        return None


class ServerLifeTest(FaultCase):
    """How the server is started, stopped, throttled, signalled and reaped."""

    @unittest.skipIf(harness.WINDOWS, "a Windows server is not Relayon's child under Wine")
    def test_stop_is_hard_as_asked_and_a_server_outliving_it_is_reaped(self):
        for hard in (0, 1):
            # "Server closed" comes after the stop's five seconds; the server ends four later.
            self.write("relay.log", "")
            process, output = self.start("[Relayon]\nTerminateHard := %d\n" % hard, ["linger", "9"])
            self.send(process, output, b"<stop>\necho here\n")
            self.wait_until(lambda: b"Server closed" in self.entries(), "end of the stop", 20)
            self.assertEqual(len(self.servers()), 1 - hard)
            # One left running is told of, with its process id and how it would be killed.
            told = [any(b"(process %d)" % s.pid in n for s in self.servers()) for n in self.entries() if b"left running" in n]
            self.assertEqual(told, [True] * (1 - hard))
            self.wait_until(lambda: not self.servers(), "reaping of the server", 20)
            self.assertIsNone(process.poll())
            # The end of the run stops the restarted server as hard as asked too.
            self.send(process, output, b"<start>\n")
            output.wait(lambda d: d.count(b"ready\n") == 2, 20, "the restarted server")
            self.end(process)
            self.assertEqual(len(self.servers()), 1 - hard)
            for server in self.servers():
                os.kill(server.pid, signal.SIGKILL)
            self.assertEqual(process.stderr.read().count(b"TerminateHard := on in [Relayon] would kill it"), 2 - 2 * hard)
        # A server that ends while a program it started holds its output is reaped at once.
        process, output = self.start("", ["orphan", "20"])
        self.send(process, output, b"die\n")
        self.wait_until(lambda: not [p for p in self.servers() if p.ppid == process.pid], "reaping of the server", 5)
        self.assertIsNone(process.poll())  # the output is still open: the relay goes on
        for server in self.servers():
            os.kill(server.pid, signal.SIGKILL)
        self.assertEqual(process.wait(timeout=30), 0)

    @unittest.skipIf(harness.WINDOWS, "descriptor limits are a POSIX matter")
    def test_a_start_short_of_descriptors_fails_with_its_reason_or_works(self):
        # Whatever the limit, the server either answers on its standard handles or its start
        # fails with a reason: never a server that runs without them.
        for limit in range(7, 24):  # below, the sanitizers cannot run
            with self.subTest(limit=limit):
                done = harness.run(self.arguments("", log=None), input=b"hi\n", cwd=self.dir, preexec_fn=lambda:
                                   resource.setrlimit(resource.RLIMIT_NOFILE, (limit, limit)))
                self.assertIn((done.stdout, b"cannot start the server" in done.stderr),
                              [(b"ready\nhi\n", False), (b"Error starting server program.\n", True)], done.stderr)

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
        cycles = 50 if harness.SLOW else 200
        for n in range(cycles):
            self.send(process, output, b"<stop>\n<start>\necho %d\n" % n, b"ready\necho %d\n" % n)
        # The last hand-over may still be settling.
        self.wait_until(lambda: resources() == before, "release of what the cycles held", 5)
        self.assertEqual(self.end(process, output), b"ready\nready\necho start\n" +
                         b"".join(b"ready\necho %d\n" % n for n in range(cycles)))
        self.assertEqual(self.assert_clean_end(b"Client closed").count(b"Server closed"), 2 * cycles + 2)

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
        if POSIX:  # the server's whole process group gets it: here a second program of a pipeline
            self.write("group.ini", '[Relayon]\nCommandLine := /bin/sh -c "%s signals | %s signals"\n' % ((self.server,) * 2))
            process, output = self.start("", extra=["/t", "group.ini"], ready=False)
            output.wait(lambda d: d.count(b"ready\n") == 2, 20, "two servers")
            process.send_signal(signal.SIGINT)
            output.wait(lambda d: d.count(b"control 0\n") == 2, 20, "control 0 from both")
            self.end(process)
        notes = self.entries()
        self.assertTrue(b"Control signal CTRL-C" in notes and b"Control signal CLOSE" not in notes, notes)
        if POSIX:
            self.assertIn(b"Control signal CTRL-C\n", self.read("console.txt"))

    @unittest.skipIf(harness.WINDOWS, "Wine raises only Ctrl-C, and shows no data race")
    def test_control_signals_at_any_moment_of_start_stop_and_exit(self):
        # Under the thread sanitizer a signal handled while Relayon starts, restarts its server or
        # ends must touch nothing another thread destroys or changes.
        rng = random.Random(17)
        display = os.path.join(self.dir, "display")
        for run in range(8 if harness.SLOW else 20):
            with contextlib.suppress(FileNotFoundError):
                os.remove(display)
            process, _ = self.start("", ["signals"], extra=["/d", "3"], read=False, stdout=subprocess.DEVNULL,
                                    env=dict(os.environ, RELAYON_CONSOLE=display))
            delay = rng.uniform(0, 0.3)

            def signal_until_ended():
                # From when the handler is there: the display opens right after it is installed.
                while not os.path.exists(display) and process.poll() is None:
                    time.sleep(0.0005)
                time.sleep(delay)
                while process.poll() is None:
                    with contextlib.suppress(ProcessLookupError):
                        process.send_signal(rng.choice((signal.SIGINT, signal.SIGQUIT)))
                    time.sleep(rng.uniform(0, 0.005))
            signaller = threading.Thread(target=signal_until_ended)
            signaller.start()
            _, errors = process.communicate(b"<stop>\n<start>\n" * rng.randrange(4) + b"last\n", timeout=60)
            signaller.join()
            self.assertEqual((process.returncode, errors), (0, b""), "run %d, signals from %.3f s" % (run, delay))

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
