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


def settings_file(command_line):
    """A translation file whose settings hold the given server command line."""
    return "[Relayon]\nCommandLine := %s\n" % harness.ini_escape(command_line)


class Configuration(harness.RelayonTestCase):

    def assertUsage(self, result):
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout, USAGE)

    def assertStartsServer(self, result):
        self.assertEqual(result.returncode, 0)
        self.assertNotIn(b"Syntax:", result.stdout)

    def test_usage_without_arguments_or_file(self):
        self.assertUsage(harness.run([], cwd=self.dir))

    def test_usage_with_only_options_or_an_empty_argument(self):
        self.assertUsage(harness.run(["/c", "/d", "0", "/l"], cwd=self.dir))
        self.assertUsage(harness.run(["/p", "high", ""], cwd=self.dir))

    def test_arguments_give_the_server_command_line(self):
        self.assertStartsServer(harness.run(harness.server_command().split(" "), cwd=self.dir))

    def test_default_file_is_named_after_the_program_in_the_working_directory(self):
        bin_dir = os.path.join(self.dir, "bin")
        work_dir = os.path.join(self.dir, "work")
        os.makedirs(bin_dir)
        os.makedirs(work_dir)
        relay = harness.copy_program(harness.EXE, bin_dir, "relay")
        # The files beside the program and the fallback name hold no server: only
        # relay.ini in the working directory does.
        self.write("bin/relay.ini", "[Relayon]\nCommandLine:=\n")
        self.write("work/Relayon.ini", "[Relayon]\nCommandLine:=\n")
        self.write("work/relay.ini", settings_file(harness.server_command()))
        self.assertStartsServer(harness.run([], cwd=work_dir, program=relay))

    def test_fallback_file_when_the_default_is_missing(self):
        relay = harness.copy_program(harness.EXE, self.dir, "relay")
        self.write("Relayon.ini", settings_file(harness.server_command()))
        self.assertStartsServer(harness.run([], cwd=self.dir, program=relay))
        os.remove(os.path.join(self.dir, "Relayon.ini"))
        self.assertUsage(harness.run([], cwd=self.dir, program=relay))

    def test_named_file_and_its_fallback(self):
        self.write("Relayon.ini", settings_file(harness.server_command()))
        self.write("empty.ini", "[Relayon]\nCommandLine:=\n")
        self.assertStartsServer(harness.run(["/t", "missing.ini"], cwd=self.dir))
        # A named file that opens is read instead of the fallback, and its empty CommandLine
        # replaces the one of the arguments.
        self.assertUsage(harness.run(["/t", "empty.ini", "server"], cwd=self.dir))


if __name__ == "__main__":
    unittest.main()
