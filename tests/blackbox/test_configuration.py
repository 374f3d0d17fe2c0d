"""The command line, the choice of the translation file, and the usage text."""
import os
import unittest

import harness

USAGE_LINES = [
    b"Relayon. 1.11 by the Relayon developers",
    b"Syntax: Relayon [/t filename /p priority /c /b [0|1] /d n /t [priority] /l logfile] <command line>",
    b"Where:",
    b"  /t textfile with the translation. Default=Relayon.ini",
    b"  /p Priority flag, idle, below, normal, above, high, or realtime. Default is the same as this process.",
    b"  /c Stop ctrl C and ctrl break. Default is passing through.",
    b"  /d Debug where n could be 1=client side, 2=server side, 3=both.",
    b"  /h Thread priority flag, idle, lowest, below, normal, above, highest, or timecritical."
    b" Default is the same as this process.",
    b"  /b Disable normal windows boost.",
    b"  /l Logfile.",
]
USAGE = b"".join(line + harness.EOL for line in USAGE_LINES)
EMPTY_SETTINGS = "[Relayon]\nCommandLine:=\n"
SERVER_SETTINGS = "[Relayon]\nCommandLine := %s\n" % harness.ini_escape(harness.server_command())


class Configuration(harness.RelayonTestCase):

    def assertUsage(self, result):
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout, USAGE)

    def assertStartsServer(self, result):
        self.assertEqual(result.returncode, 0)
        self.assertNotIn(b"Syntax:", result.stdout)

    def test_usage_without_a_server_command_line(self):
        for args in ([], ["/c", "/d", "0", "/l"], ["/p", "high", ""]):
            with self.subTest(args=args):
                self.assertUsage(harness.run(args, cwd=self.dir))

    def test_arguments_give_the_server_command_line(self):
        self.assertStartsServer(harness.run(harness.server_command().split(" "), cwd=self.dir))

    def test_default_file_is_named_after_the_program_in_the_working_directory(self):
        os.makedirs(os.path.join(self.dir, "bin"))
        os.makedirs(os.path.join(self.dir, "work"))
        relay = harness.copy_program(harness.EXE, os.path.join(self.dir, "bin"), "relay")
        work = os.path.join(self.dir, "work")
        # Only relay.ini in the working directory names a server: not the one beside the
        # program, nor the fallback.
        self.write("bin/relay.ini", EMPTY_SETTINGS)
        self.write("work/Relayon.ini", EMPTY_SETTINGS)
        self.write("work/relay.ini", SERVER_SETTINGS)
        self.assertStartsServer(harness.run([], cwd=work, program=relay))
        # Without relay.ini, Relayon.ini is read.
        os.remove(os.path.join(work, "relay.ini"))
        self.write("work/Relayon.ini", SERVER_SETTINGS)
        self.assertStartsServer(harness.run([], cwd=work, program=relay))

    def test_named_file_and_its_fallback(self):
        self.write("Relayon.ini", SERVER_SETTINGS)
        self.write("empty.ini", EMPTY_SETTINGS)
        self.assertStartsServer(harness.run(["/t", "missing.ini"], cwd=self.dir))
        # A named file that opens is read instead of the fallback, and its empty CommandLine
        # replaces the one of the arguments.
        self.assertUsage(harness.run(["/t", "empty.ini", "server"], cwd=self.dir))


if __name__ == "__main__":
    unittest.main()
