#!/usr/bin/env python3
"""check_package.py --build-dir DIR --source-dir DIR --cmake CMAKE --cpack CPACK
                    --generator DEB|ZIP [-- RUNNER...]

Builds the package with CPack. It, and a `cmake --install` into a temporary prefix, must hold
exactly the program, its manual page and the example; the program must print its usage and end
with 0, and the thermostat example must answer. RUNNER (Wine) starts every program run.
"""

import argparse
import glob
import gzip
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

VERSION = "1.11"
EXAMPLES = ["thermostat.ini", "morning.txt", "line_server.cpp"]
# Installed files, relative to the prefix: the source file each equals, or None for a program.
LAYOUTS = {
    "DEB": dict({"bin/relayon": None, "libexec/relayon/relayon_example_server": None,
                 "share/man/man1/relayon.1.gz": "doc/relayon.1"},
                **{"share/doc/relayon/examples/" + name: "examples/" + name for name in EXAMPLES}),
    "ZIP": dict({"relayon.exe": None, "examples/relayon_example_server.exe": None,
                 "relayon.1": "doc/relayon.1"},
                **{"examples/" + name: "examples/" + name for name in EXAMPLES}),
}

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL: " + message)
    return condition


def run(command, timeout, cwd=None, stdin_text="", hold_input=False):
    """Runs a command; returns (exit code, standard output, standard error).

    With hold_input, standard input stays open until the command has ended by itself. Output
    goes through files, not pipes: Wine can leave background services behind that hold copies
    of a process's handles, and a pipe would then never reach its end."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        process = subprocess.Popen(command, cwd=cwd, stdin=subprocess.PIPE, stdout=out, stderr=err)
        try:
            process.stdin.write(stdin_text.encode())
            process.stdin.flush()
            if not hold_input:
                process.stdin.close()
            code = process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            code = "timeout after %d s" % timeout
        except BrokenPipeError:
            code = process.wait(timeout=timeout)
        try:
            process.stdin.close()
        except BrokenPipeError:
            pass
        out.seek(0)
        err.seek(0)
        return code, out.read().decode("latin-1"), err.read().decode("latin-1")


def lines_of(text):
    lines = [line.rstrip("\r") for line in text.split("\n")]
    return lines[:-1] if lines[-1] == "" else lines


def check_tree(where, root, layout, source_dir):
    """The files under root must be those of the layout, each with the expected content."""
    files = {os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
             for folder, _, names in os.walk(root) for name in names}
    check(files == set(layout), "%s holds %s, expected %s" % (where, sorted(files), sorted(layout)))
    for path in files & set(layout):
        with open(os.path.join(root, path), "rb") as f:
            data = f.read()
        if layout[path]:
            with open(os.path.join(source_dir, layout[path]), "rb") as f:
                expected = f.read()
            check((gzip.decompress(data) if path.endswith(".gz") else data) == expected,
                  "%s: %s differs from %s" % (where, path, layout[path]))
        elif path.endswith(".exe"):  # a 32-bit x86 Windows program: PE header, machine i386
            header = struct.unpack_from("<I", data, 0x3C)[0] if len(data) > 0x40 else len(data)
            check(data[:2] == b"MZ" and data[header:header + 4] == b"PE\0\0"
                  and data[header + 4:header + 6] == b"\x4c\x01",
                  "%s: %s is not a 32-bit x86 Windows program" % (where, path))
        else:
            check(data[:4] == b"\x7fELF", "%s: %s is not an ELF program" % (where, path))


def check_runs(where, root, layout, runner, manpage, work):
    """Runs the program without arguments, then the thermostat example from a copy of the
    installed examples."""
    program = next(p for p in layout if p.endswith(("bin/relayon", "relayon.exe")))
    program = os.path.join(root, program)
    server = next(p for p in layout if "relayon_example_server" in p)
    empty = tempfile.mkdtemp(prefix="empty-", dir=work)
    code, out, err = run(runner + [program], 60, cwd=empty)
    usage = lines_of(out)
    check(code == 0 and len(usage) == 10 and usage[0].startswith("Relayon. " + VERSION),
          "%s: without arguments the program ended with %s and printed %r (stderr: %r)"
          % (where, code, out[:300], err))
    check(os.listdir(empty) == [], "%s: the program wrote %s" % (where, os.listdir(empty)))
    # Every option of the usage text has its tagged paragraph in the manual page.
    for option in sorted(line.split()[0] for line in usage if line.startswith("  /")):
        check(".TP\n.BI %s " % option in manpage or ".TP\n.B %s\n" % option in manpage,
              "%s: option %s is not described in the manual page" % (where, option))

    folder = tempfile.mkdtemp(prefix="thermostat-", dir=work)
    examples = os.path.dirname(next(p for p in layout if p.endswith("thermostat.ini")))
    shutil.copytree(os.path.join(root, examples), folder, dirs_exist_ok=True)
    # In the Windows archive the server lies beside the translation file.
    server_command = (os.path.basename(server) if server.endswith(".exe")
                      else os.path.join(root, server))
    # The input stays open: the run ends when the server has said goodbye and ended.
    code, out, err = run(runner + [program, "/t", "thermostat.ini", server_command], 60,
                         cwd=folder, stdin_text="how warm is it?\nmake it 22\nping\nbye\n",
                         hold_input=True)
    # "ping" is answered by Relayon itself, so it may come before or after the server's lines.
    check(code == 0 and sorted(lines_of(out)) == sorted([
        "the thermostat is set to 20", "Done, the thermostat is set to 22", "pong", "Goodbye."]),
        "%s: the example answered %r with exit code %s (stderr: %r)" % (where, out, code, err))
    check(os.path.isfile(os.path.join(folder, "thermostat.log")),
          "%s: the example wrote no thermostat.log" % where)


def unpack(package, generator, unpacked):
    """Checks the package's name and metadata, unpacks it and returns the prefix inside."""
    name = os.path.basename(package)
    if generator == "ZIP":
        check(name == "relayon-%s-win32.zip" % VERSION, "the package is %s" % name)
        with zipfile.ZipFile(package) as archive:
            archive.extractall(unpacked)
        check(os.listdir(unpacked) == ["relayon-%s-win32" % VERSION],
              "the archive holds %s, expected one folder" % os.listdir(unpacked))
        return os.path.join(unpacked, "relayon-%s-win32" % VERSION)
    arch = subprocess.run(["dpkg", "--print-architecture"], capture_output=True,
                          text=True).stdout.strip()
    check(name == "relayon_%s_%s.deb" % (VERSION, arch), "the package is %s" % name)
    control = subprocess.run(["dpkg-deb", "-f", package], capture_output=True, text=True).stdout
    check(re.search(r"^Package: relayon$", control, re.M) and re.search(r"^Depends:.*\blibc6\b",
          control, re.M), "the control fields are %r" % control)
    extract = subprocess.run(["dpkg-deb", "-x", package, unpacked], capture_output=True,
                             text=True)
    check(extract.returncode == 0, "dpkg-deb -x failed: " + extract.stderr)
    check(os.listdir(unpacked) == ["usr"], "the package installs %s" % os.listdir(unpacked))
    return os.path.join(unpacked, "usr")


def main():
    parser = argparse.ArgumentParser()
    for option in ("--build-dir", "--source-dir", "--cmake", "--cpack"):
        parser.add_argument(option, required=True)
    parser.add_argument("--generator", required=True, choices=sorted(LAYOUTS))
    parser.add_argument("runner", nargs="*")
    args = parser.parse_args()
    build, source = os.path.abspath(args.build_dir), os.path.abspath(args.source_dir)
    layout = LAYOUTS[args.generator]
    with open(os.path.join(source, "doc/relayon.1")) as f:
        manpage = f.read()

    work = tempfile.mkdtemp(prefix="relayon-package-")
    try:
        out_dir = os.path.join(work, "out")
        code, out, err = run([args.cpack, "-G", args.generator, "--config",
                              os.path.join(build, "CPackConfig.cmake"), "-B", out_dir], 240,
                             cwd=build)
        packages = glob.glob(os.path.join(out_dir, "*." + args.generator.lower()))
        if check(code == 0 and len(packages) == 1,
                 "cpack ended with %s and made %s:\n%s\n%s" % (code, packages, out, err)):
            root = unpack(packages[0], args.generator, os.path.join(work, "unpacked"))
            check_tree("package", root, layout, source)
            check_runs("package", root, layout, args.runner, manpage, work)

        prefix = os.path.join(work, "prefix")
        code, out, err = run([args.cmake, "--install", build, "--prefix", prefix], 120)
        if check(code == 0, "cmake --install ended with %s:\n%s\n%s" % (code, out, err)):
            check_tree("install", prefix, layout, source)
            check_runs("install", prefix, layout, args.runner, manpage, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d check(s) failed" % len(failures) if failures else "package checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
