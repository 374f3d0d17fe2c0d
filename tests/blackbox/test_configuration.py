"""The command line, the choice of the translation file, the usage text, the reasons for
failures on standard error, and the translation-file check."""
import os, pathlib, pty, re, shlex, shutil, subprocess, time, unittest

import harness

USAGE = b"""Relayon. 1.11 by the Relayon developers
Syntax: Relayon [/t filename /p priority /c /b [0|1] /d n /t [priority] /l logfile] <command line>
Where:
  /t textfile with the translation. Default=Relayon.ini
  /p Priority flag, idle, below, normal, above, high, or realtime. Default is the same as this process.
  /c Stop ctrl C and ctrl break. Default is passing through.
  /d Debug where n could be 1=client side, 2=server side, 3=both.
  /h Thread priority flag, idle, lowest, below, normal, above, highest, or timecritical. Default is the same as this process.
  /b Disable normal windows boost.
  /l Logfile.
""".replace(b"\n", harness.EOL)
EMPTY_SETTINGS = "[Relayon]\nCommandLine:=\n"
# Backslashes doubled, so that the value decodes to the command line.
SERVER_SETTINGS = "[Relayon]\nCommandLine := %s\n" % harness.server_command().replace("\\", "\\\\")
SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
EXAMPLES = os.path.join(SOURCE, "examples")
START_ERROR = "Error starting server program."


def text_lines(data):  # CR LF, LF or CR end a line
    return data.decode(errors="replace").splitlines()


class ConfigurationTest(harness.RelayonTestCase):
    def assertRun(self, args, usage, cwd=None, program=None):
        """Relayon ends with 0 having written the usage, or (usage False) having started the server."""
        result = harness.run(args, cwd=cwd or self.dir, program=program)
        self.assertEqual((result.returncode, result.stdout if usage else b"Syntax:" in result.stdout),
                         (0, USAGE if usage else False), result.stdout)

    def test_usage_help_and_version(self):
        # Without a server command line the usage text as it always was; asked for help, the help.
        help_text = harness.run(["-h"], cwd=self.dir).stdout
        for args, out in (([], USAGE), (["/c", "/d", "0", "/l"], USAGE), (["/p", "high", ""], USAGE),
                          (["--help"], help_text), (["/?"], help_text), (["-?"], help_text),
                          (["/d", "1", "--help", "srv"], help_text), (["--version"], USAGE[:USAGE.index(b"\n") + 1])):
            with self.subTest(args=args):
                self.assertEqual(harness.run(args, cwd=self.dir).stdout, out)
        # The help is complete and true, in 80 columns: every option with its words, the default
        # file named after the program, how flags read, the other forms, the signals.
        relay = harness.copy_program(harness.EXE, self.dir, "relay")
        shown = harness.run(["/?"], cwd=self.dir, program=relay).stdout.decode()
        for part in ("default: relay.ini ", "idle, low, below, normal, above, high, realtime", "--check [file]",
                     "below, normal, above, high, highest, timecritical", "yes included, is false", "SIGINT", "Example:"):
            self.assertIn(part, shown)
        self.assertEqual(re.findall(r"^  (/\w) ", shown, re.M), ["/t", "/p", "/h", "/l", "/d", "/b", "/c"])
        self.assertLessEqual(max(map(len, shown.splitlines())), 80)
        # Where they are an option's value or a server argument, they stay what they were, and
        # the arguments give the server command line.
        self.assertRun(["/h", "--help"] + harness.server_command().split(" "), False)

    def test_translation_file_named_or_after_the_program_and_its_fallback(self):
        work = os.path.join(self.dir, "work")
        for folder in ("v1.2", "work"):  # a dot in a directory's name is no extension
            os.makedirs(os.path.join(self.dir, folder))
        relay = harness.copy_program(harness.EXE, os.path.join(self.dir, "v1.2"), "relay")
        # Only relay.ini in the working directory names a server: not the one beside the
        # program, nor the fallback.
        self.write("v1.2/relay.ini", EMPTY_SETTINGS)
        self.write("work/Relayon.ini", EMPTY_SETTINGS)
        self.write("work/relay.ini", SERVER_SETTINGS)
        self.assertRun([], False, work, relay)
        if not harness.WINDOWS:  # a link gives its own name, not the name of the program it leads to
            os.symlink(os.path.abspath(harness.EXE), os.path.join(self.dir, "relay"))
            self.assertRun([], False, work, os.path.join(self.dir, "relay"))
        # Without relay.ini, or the named file, Relayon.ini is read, also when they cannot be read.
        os.remove(os.path.join(work, "relay.ini"))
        self.write("work/Relayon.ini", SERVER_SETTINGS)
        self.assertRun([], False, work, relay)
        self.assertRun(["/t", "missing.ini"], False, work)
        os.makedirs(os.path.join(work, "relay.ini"))
        self.assertRun([], False, work, relay)
        # A named file that opens is read instead, and its empty CommandLine replaces the arguments.
        self.assertRun(["/t", "../v1.2/relay.ini", "server"], True, work)
        # Neither readable: no rules, no settings, the usage.
        os.remove(os.path.join(work, "Relayon.ini"))
        os.makedirs(os.path.join(work, "Relayon.ini"))
        self.assertRun([], True, work, relay)

    def test_reasons_on_standard_error_leave_standard_output_alone(self):
        os.makedirs(os.path.join(self.dir, "adir"))
        self.write("Relayon.ini", "[Relayon]\nCtrl := 1\n")
        self.start("", log="held.log")
        server, read_instead = harness.server_command(), '("Relayon.ini" is read instead)'
        cases = [  # arguments, the line on standard output, what each line of standard error names
            (["/l", "start.log", "no-such-program-here", "x"], START_ERROR,
             ['"no-such-program-here x"'] + ([] if harness.WINDOWS else ["No such file or directory"])),
            (["s" * 300], START_ERROR, ["300 characters", "shorter than 260"]),
            (["-t", "x.ini"], START_ERROR, ['"-t x.ini"', "options are written with a slash: /t, not -t"]),
            # A directory is passed over like a missing file.
            (["/t", "missing.ini", server], "ready", ['"missing.ini"', read_instead]),
            (["/t", "adir", server], "ready", ['"adir"', read_instead]),
            (["/l", "adir", server], "ready", ['log file "adir"']),
            # The log that the first Relayon writes is refused to a second one.
            (["/l", "held.log", server], "ready", ['log file "held.log"']),
            # No display: Wine has no console to give, and POSIX no terminal in a new session.
            (["/d", "1", server], "ready", ["debug display"]),
            (["/p", "hihg", server], "ready", ['option /p: the value "hihg" of Priority is none of its words']),
            # The file's mistakes in a line, then a command line that shows its escapes as typed.
            (["/t", "tab.ini"], START_ERROR, ["tab.ini: 1 warning (line 2: the value of CommandLine holds the control byte "
                                              "\\t", "C:\\\\tools\\\\srv); see relayon --check tab.ini"], ['"C:\\tools\\srv"']),
        ]
        self.write("dup.ini", "[Client2Server]\nk:=1\nb:=2\n[Server2Client]\nk:=3\n[Client2Server]\nk:=4\n")
        cases.append((["/t", "dup.ini", server], "ready", [  # its first definition's line is found in a relay too
            'dup.ini: 1 warning (line 7: the key "k" is defined again in '
            "[Client2Server] and ignored here: its first definition, on line 2"]))
        self.write("tab.ini", "[Relayon]\nCommandLine := C:\\tools\\srv\n")
        # A command line of blanks is no missing one: the start is tried.
        self.write("blank.ini", "[Relayon]\nCommandLine := \\x20\n")
        cases.append((["/t", "blank.ini"], START_ERROR, ['""']))
        if not harness.WINDOWS:  # a file that opens but whose first read fails
            cases.append((["/t", "/proc/self/mem", server], "ready", ["Input/output error"]))
        env = dict(os.environ, RELAYON_CONSOLE=os.path.join(self.dir, "none", "display"))
        for args, stdout, *lines in cases:
            with self.subTest(args=args[:2]):
                result = harness.run(args, cwd=self.dir, env=env, start_new_session=True)
                self.assertEqual((result.returncode, text_lines(result.stdout)), (0, [stdout]))
                got = text_lines(result.stderr)  # one line each, with every reason
                missing = [(line[:9], [r for r in reasons if r not in line]) for line, reasons in zip(got, lines)]
                self.assertEqual((missing, len(got)), ([("Relayon: ", [])] * len(lines), len(lines)), result.stderr)
        # A log named by blanks only is no log, without a word of it.
        self.write("blanklog.ini", "[Relayon]\nLog := \\x20\\t\n")
        self.assertNotIn(b"log file", harness.run(["/t", "blanklog.ini", server], cwd=self.dir).stderr)
        # The log tells of the failed start too.
        self.assertTrue(self.read("start.log").endswith(b": - %s\r\n" % START_ERROR.encode()))

    def test_check_shows_settings_rules_and_lines_of_the_example(self):
        result = harness.run(["/d", "2", "--check", "thermostat.ini"], cwd=EXAMPLES,
                             input=b"make it 22\nmake it\nping\nmorning\nUPTIME 6; MODE heat\n<stop>\n")
        self.assertEqual(result.returncode, 0, result.stdout)
        out = text_lines(result.stdout)
        for expected in ['Translation file: "thermostat.ini"', '  Log             "thermostat.log"  (file, line 5)',
                         "  Debug           2  (command line)", '  Priority        ""  (default)',
                         "  TerminateHard   false  (default)", '  EndLineServer   "\\n"  (default)',
                         '  5. line 10: "make it" => "SET TEMP <string3>"  [template]',
                         '  9. line 27: "UPTIME" => "<delete> 1"  [delete]', '  2. line 31: "ping" => "pong"  [answer]',
                         '  from the client: to the server "SET TEMP 22"',
                         '  from the client: rule "make it" acts: "SET TEMP <string3>"',
                         '  from the client: <string3> takes "" and the text becomes "SET TEMP "',
                         '  from the client: answered back with "pong"',
                         '  from the client: log note "Open file:  morning.txt"',
                         '  from the client: to the server "SET MODE heat"',
                         '  from the server: to the client "the heating is on"',
                         "  from the client: control action: stop the server",
                         '  from the server: to the client "<stop>"']:
            self.assertIn(expected, out)
        self.assertFalse([line for line in out if line.startswith("Warning")])
        # The rules that acted on a line, in their order, each with the text it left.
        self.assertLess(out.index('  from the server: rule "MODE heat" acts: "UPTIME 6; the heating is on"'),
                        out.index('  from the server: rule "UPTIME" acts: "<delete> 1 6; the heating is on"'))
        # The program a start would run: found on the command line, or on PATH.
        for command, program, folder in ((harness.server_command(), harness.host_path(harness.TEST_SERVER), "its "),
                                         ("cmd /c" if harness.WINDOWS else "sh -c", "", "Relayon's current ")):
            self.write("check.ini", "[Relayon]\nCommandLine := %s\n" % command.replace("\\", "\\\\"))
            out = harness.run(["--check", "check.ini"], cwd=self.dir).stdout.decode()
            self.assertRegex(out, '(?i)The server program: "%s[^"]*", run in %sfolder' % (re.escape(program), folder))

    def test_check_warns_of_what_the_loader_ignores(self):
        cases = [
            ("[Client2Server]\na:=1\n\na:=2\n", 'Warning, line 4: the key "a" is defined again in [Client2Server]'
             " and ignored here: its first definition, on line 2, stays"),
            ("[Relayon]\nLgo:=x.log\n", 'Warning, line 2: the setting "Lgo" is unknown'),
            ("[Client2Servers]\na:=b\n", "Warning, line 1: the section [Client2Servers] is unknown"),
            ("[Relayon]\rLog:=x\r", "Warning: the file holds no line feed"),
            ("[Relayon]\nLog:=x\0y\n", "Warning, line 2: the line holds a zero byte"),
            ("[Relayon]\nLog:=x\n".encode("utf-16"), "Warning: the file looks like UTF-16 text"),
            ("[Client2Server]\n;\nk:=%s\na:=b\n" % ("v" * 600), "Warning, line 3: the line is longer than 511"),
            # A file is read up to 16 MiB, whatever it is (a pipe fed without end too).
            ((";" * 500 + "\n") * (34 << 10), "Warning, line 33488: the file is longer than 16777216 bytes"),
            # Values that read otherwise than they look (the first of two, in its words, does not).
            ("[Relayon]\nLog := C:\\\\logs\\new.log\n", "Warning, line 2: the value of Log holds the control byte \\n, "
             "made by an escape; a backslash meant as itself is written twice: Log := C:\\\\logs\\\\new.log"),
            ("[Relayon]\nThreadPriority := Low\nPriority := hihg\n", 'Warning, line 3: the value "hihg" of Priority is '
             "none of its words (idle, low, below, normal, above, high, realtime), so none is set"),
            ("[Relayon]\nCpuPower := 1.25e+1\nCpuPower := 5e1\n", 'Warning, line 3: the value "5e1" of CpuPower is not a '
             "number: it reads as 5"),
            ("[Relayon]\nDebug := -2\nDebug := fifty\n", 'Warning, line 3: the value "fifty" of Debug is not a number'),
            ("[Relayon]\nCtrl := off\nTerminateHard := yes\n", 'Warning, line 3: the value "yes" of TerminateHard reads '
             "as false: a flag is true when"),
            ("[Client2Server]\na := b;c\na := b ; c\n", 'Warning, line 3: the value holds " ;", which starts no comment'),
            ("[Relayon]\nCommandLine := no-such-program x\n", 'Warning: the server command line "no-such-program x" names'),
            ("", 'Warning, option /b: the value "yes" of Boost reads as false', "/b", "yes"),
        ]
        for text, warning, *options in cases:
            with self.subTest(warning=warning[:40]):
                self.write("check.ini", text)
                result = harness.run(options + ["--check", "check.ini"], cwd=self.dir)
                self.assertEqual(result.returncode, 1, result.stdout)
                warnings = [line for line in text_lines(result.stdout) if line.startswith("Warning")]
                self.assertTrue(warnings[0].startswith(warning), result.stdout)

    def test_check_reads_lines_as_the_relay_does_in_bounded_memory(self):
        # Each side's lines are answered from its own reply table.
        self.write("answers.ini", "[Client2Client]\na := A\n[Server2Server]\nb := B\n")
        out = text_lines(harness.run(["--check", "answers.ini"], cwd=self.dir, input=b"a\nb\n").stdout)
        self.assertEqual(out[out.index('"a"'):], ['"a"', '  from the client: answered back with "A"',
                                                  '  from the server: to the client "a"', '"b"',
                                                  '  from the client: to the server "b"',
                                                  '  from the server: answered back with "B"'])
        # A last line without a line feed is dropped, a long line cut, as the relay does.
        for given, shown, hidden in ((b"ping", "The input ends with 4 bytes after its last line feed", "answered"),
                                     (b"x" * ((16 << 20) + 10) + b"\n",
                                      'log note "Line longer than 16777216 bytes: 10 bytes dropped"', "x" * (16 << 20) + "x")):
            result = harness.run(["--check", "thermostat.ini"], cwd=EXAMPLES, input=given)
            self.assertTrue(shown in result.stdout.decode() and hidden not in result.stdout.decode(), result.stdout[-300:])
        # Endless lines to check: the check stays small.
        checking = subprocess.Popen(harness.RUNNER + [harness.EXE, "--check", "thermostat.ini"], cwd=EXAMPLES,
                                    stdin=self.enterContext(open("/dev/zero", "rb")), stdout=subprocess.DEVNULL)
        self.addCleanup(checking.wait)
        self.addCleanup(checking.kill)
        time.sleep(3)
        with open("/proc/%d/status" % checking.pid) as status:
            self.assertLess(next(int(l.split()[1]) for l in status if l.startswith("VmHWM:")), 100 << 10)

    @unittest.skipIf(harness.WINDOWS, "under Wine a terminal is no console")
    def test_a_person_at_a_terminal_is_told_how_to_give_lines_and_end(self):
        self.write("relay.ini", SERVER_SETTINGS)
        for args, told in (([], b"); the lines you type go to it, Ctrl-D ends the relay, Ctrl-C goes to the server"),
                           (["--check"], b"Type lines to see what each becomes, as from the client and as from the ")):
            terminal, person = pty.openpty()
            with subprocess.Popen([harness.EXE, "/t", "relay.ini"] + args, cwd=self.dir, stdin=person,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE) as run, open(terminal, "wb", 0) as keys:
                os.close(person)
                self.assertIn(told, run.stderr.readline())
                keys.write(b"\x04")  # the end of input a person types
                self.assertEqual(run.wait(timeout=30), 0)

    def test_documented_examples_run_as_written(self):
        """The README's and the man page's translation files read without a warning beside the servers they
        name; the README's commands of Relayon end with 0, quiet, printing what their comment says (the
        package test builds and installs); both name every option."""
        readme, man = (pathlib.Path(SOURCE, name).read_text() for name in ("README.md", "doc/relayon.1"))
        inis = re.findall(r"(?:`([\w.]+\.ini)`:\n\n)?```ini\n(.*?)```", readme, re.S)
        inis.append(("man.ini", re.search(r"\.nf\n(\[Relayon\].*?)\.fi", man, re.S)[1].replace("\\e", "\\")))
        shutil.copytree(EXAMPLES, os.path.join(self.dir, "examples"))
        for name, text in inis:
            self.write(name or "example.ini", text)
            harness.copy_program(harness.TEST_SERVER, self.dir, re.search(r"CommandLine := \./(\S+)", text)[1])
            result = harness.run(["--check", name or "example.ini"], cwd=self.dir)
            self.assertEqual(result.returncode, 0, result.stdout.decode())
        built, program = os.path.split(harness.EXE)
        server = harness.host_path(os.path.join(built, program.replace("relayon", "relayon_example_server")))
        define = "relayon() { %s \"$@\"; }\n" % " ".join(map(shlex.quote, harness.RUNNER + [harness.EXE]))
        for line in "".join(re.findall(r"```sh\n(.*?)```", readme, re.S)).splitlines():
            command = line.replace("../build/relayon_example_server", shlex.quote(server)).replace("../build/", "")
            if not re.match(r"(printf .*\| )?relayon ", command) or (harness.WINDOWS and "# POSIX" in line):
                continue
            folder = os.path.join(self.dir, "examples") if "thermostat" in line else self.dir
            result = subprocess.run(["sh", "-c", define + command], input=b"bye\n", cwd=folder, capture_output=True,
                                    timeout=60)
            missing = [text for text in re.findall(r"# .*prints (\S+)", line) if text.encode() not in result.stdout]
            self.assertEqual((result.returncode, result.stderr, missing), (0, b"", []), line)
        for option in "tphldbc":
            self.assertTrue(re.search(r"\| `/%s[ `]" % option, readme) and re.search(r"\n\.BI? /%s\b" % option, man), option)

