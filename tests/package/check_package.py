#!/usr/bin/env python3
"""check_package.py --build-dir DIR --cmake CMAKE --cpack CPACK --generator DEB|ZIP [-- RUNNER...]

The package CPack makes, and a `cmake --install` into a temporary prefix, must hold exactly the
program, its manual page and the example; the installed program must run the thermostat example
from the installed files. RUNNER (Wine) starts the program.
"""
import argparse
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

EXAMPLES = ["thermostat.ini", "morning.txt", "line_server.cpp"]
# The installed files relative to the prefix (DEB: under usr/; ZIP: under its one folder): the
# program, the example server, the manual page, the folder of the examples.
LAYOUTS = {"DEB": ("bin/relayon", "libexec/relayon/relayon_example_server", "share/man/man1/relayon.1.gz",
                   "share/doc/relayon/examples"),
           "ZIP": ("relayon.exe", "examples/relayon_example_server.exe", "relayon.1", "examples")}


def run(command, cwd=None, stdin_text=""):
    """Runs a command; returns (exit code, standard output, standard error). Standard input
    stays open until the command has ended by itself. Output goes through files: Wine can leave
    background services behind that hold a pipe open for ever."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        process = subprocess.Popen(command, cwd=cwd, stdin=subprocess.PIPE, stdout=out, stderr=err)
        process.stdin.write(stdin_text.encode())
        process.stdin.flush()
        try:
            code = process.wait(timeout=240)
        except subprocess.TimeoutExpired:
            process.kill()
            code = "timeout, %s" % process.wait()
        process.stdin.close()
        out.seek(0)
        err.seek(0)
        return code, out.read().decode("latin-1"), err.read().decode("latin-1")


def package_files(package, generator):
    """The files in the package, relative to its prefix."""
    if generator == "ZIP":
        return {n.split("/", 1)[1] for n in zipfile.ZipFile(package).namelist() if not n.endswith("/")}
    listing = subprocess.run(["dpkg-deb", "--fsys-tarfile", package], capture_output=True).stdout
    names = subprocess.run(["tar", "-t"], input=listing, capture_output=True).stdout.decode().split()
    return {n[len("./usr/"):] for n in names if n.startswith("./usr/") and not n.endswith("/")}


def check(args, work):
    """The failures found, as texts."""
    program, server, manual, examples = LAYOUTS[args.generator]
    layout = {program, server, manual} | {examples + "/" + name for name in EXAMPLES}
    code, out, err = run([args.cpack, "-G", args.generator, "--config",
                          os.path.join(args.build_dir, "CPackConfig.cmake"), "-B", work], cwd=args.build_dir)
    packages = glob.glob(os.path.join(work, "*." + args.generator.lower()))
    failures = []
    if code != 0 or len(packages) != 1:
        failures.append("cpack ended with %s and made %s:\n%s\n%s" % (code, packages, out, err))
    elif package_files(packages[0], args.generator) != layout:
        failures.append("the package holds %s" % sorted(package_files(packages[0], args.generator)))
    prefix = os.path.join(work, "prefix")
    code, out, err = run([args.cmake, "--install", args.build_dir, "--prefix", prefix])
    installed = {os.path.relpath(os.path.join(folder, name), prefix).replace(os.sep, "/")
                 for folder, _, names in os.walk(prefix) for name in names}
    if code != 0 or installed != layout:
        return failures + ["cmake --install ended with %s and installed %s:\n%s" % (code, sorted(installed), err)]
    # The example from a copy of the installed examples; the input stays open, so the run ends
    # when the server has said goodbye. "ping" is answered by Relayon itself, so it may come
    # before or after the server's lines. In the Windows archive the server lies beside the
    # translation file.
    folder = shutil.copytree(os.path.join(prefix, examples), os.path.join(work, "thermostat"))
    server = os.path.basename(server) if args.generator == "ZIP" else os.path.join(prefix, server)
    code, out, err = run(args.runner + [os.path.join(prefix, program), "/t", "thermostat.ini", server], cwd=folder,
                         stdin_text="how warm is it?\nmake it 22\nping\nbye\n")
    if code != 0 or sorted(line.rstrip("\r") for line in out.splitlines()) != sorted(
            ["the thermostat is set to 20", "Done, the thermostat is set to 22", "pong", "Goodbye."]):
        failures.append("the example answered %r with exit code %s (stderr: %r)" % (out, code, err))
    return failures


def main():
    parser = argparse.ArgumentParser()
    for option in ("--build-dir", "--cmake", "--cpack"):
        parser.add_argument(option, required=True)
    parser.add_argument("--generator", required=True, choices=sorted(LAYOUTS))
    parser.add_argument("runner", nargs="*")
    args = parser.parse_args()
    args.build_dir = os.path.abspath(args.build_dir)
    with tempfile.TemporaryDirectory(prefix="relayon-package-") as work:
        failures = check(args, work)
    for failure in failures:
        print("FAIL: " + failure)
    print("%d check(s) failed" % len(failures) if failures else "package checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
