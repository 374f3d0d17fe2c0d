#!/usr/bin/env python3
"""Builds the package of a build tree with CPack and checks it.

    check_package.py --build-dir DIR --source-dir DIR --cmake CMAKE --cpack CPACK
                     --generator DEB|ZIP [-- RUNNER...]

The package must hold exactly the program, its manual page and the example, with the files
of the source tree unchanged. The program and the example server are then run twice: from the
unpacked package and from a `cmake --install` into a temporary prefix. The program, started
without arguments in an empty directory, must print its usage and end with exit code 0; the
example server must answer its protocol; and the thermostat example, run from a copy of the
installed examples, must give its answers. RUNNER (the Windows build: the Wine runner script
and its prefix) is put in front of every program that is run.
"""

import argparse
import glob
import gzip
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

VERSION = "1.11"
EXAMPLE_FILES = ["thermostat.ini", "morning.txt", "line_server.cpp"]

# Installed layout, relative to the prefix: file -> (kind, source file it must equal).
# Kinds: "program", "manpage", "text". The manual page of the POSIX layout is compressed.
POSIX_LAYOUT = {
    "bin/relayon": ("program", None),
    "share/man/man1/relayon.1.gz": ("manpage", "doc/relayon.1"),
    "libexec/relayon/relayon_example_server": ("program", None),
}
POSIX_LAYOUT.update({"share/doc/relayon/examples/" + name: ("text", "examples/" + name)
                     for name in EXAMPLE_FILES})
WINDOWS_LAYOUT = {
    "relayon.exe": ("program", None),
    "relayon.1": ("manpage", "doc/relayon.1"),
    "examples/relayon_example_server.exe": ("program", None),
}
WINDOWS_LAYOUT.update({"examples/" + name: ("text", "examples/" + name)
                       for name in EXAMPLE_FILES})

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL: " + message)
    return condition


def run(command, timeout, cwd=None, stdin_text="", hold_input=False):
    """Runs a command; returns (exit code, standard output, standard error).

    The command reads stdin_text; with hold_input its standard input stays open (without an
    end) until it has ended by itself. Output goes through files, not pipes: a Wine process can
    leave background services behind that hold copies of its handles, and a pipe would then
    never reach its end."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        process = subprocess.Popen(command, cwd=cwd, stdin=subprocess.PIPE, stdout=out,
                                   stderr=err)
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
        if not process.stdin.closed:
            try:
                process.stdin.close()
            except BrokenPipeError:
                pass
        out.seek(0)
        err.seek(0)
        return (code, out.read().decode("latin-1"), err.read().decode("latin-1"))


def lines_of(text):
    lines = [line.rstrip("\r") for line in text.split("\n")]
    return lines[:-1] if lines[-1] == "" else lines


def check_files(where, files, layout, source_dir, read):
    """files: set of file paths relative to the layout root; read(path) gives the bytes."""
    check(files == set(layout),
          "%s holds %s, expected %s (missing %s, unexpected %s)"
          % (where, sorted(files), sorted(layout), sorted(set(layout) - files),
             sorted(files - set(layout))))
    for path, (kind, source) in layout.items():
        if path not in files:
            continue
        data = read(path)
        if kind == "text" or (kind == "manpage" and not path.endswith(".gz")):
            with open(os.path.join(source_dir, source), "rb") as f:
                check(data == f.read(), "%s: %s differs from %s" % (where, path, source))
        elif kind == "manpage":
            with open(os.path.join(source_dir, source), "rb") as f:
                check(gzip.decompress(data) == f.read(),
                      "%s: %s is not %s compressed" % (where, path, source))
        elif path.endswith(".exe"):
            check_windows_program(where, path, data)
        else:
            check(data[:4] == b"\x7fELF", "%s: %s is not an ELF program" % (where, path))


def check_windows_program(where, path, data):
    # The Windows build is a 32-bit x86 program: PE header with machine type i386.
    if not check(data[:2] == b"MZ" and len(data) > 0x40,
                 "%s: %s is not a Windows program" % (where, path)):
        return
    header = struct.unpack_from("<I", data, 0x3C)[0]
    check(data[header:header + 4] == b"PE\0\0"
          and struct.unpack_from("<H", data, header + 4)[0] == 0x14C,
          "%s: %s is not a 32-bit x86 Windows program" % (where, path))


def usage_options(usage_lines):
    return sorted(line.split()[0] for line in usage_lines if line.startswith("  /"))


def check_runs(where, root, layout, runner, manpage_text, work):
    """Runs the program and the example server of an unpacked or installed tree."""
    program = next(p for p in layout if p.endswith(("bin/relayon", "relayon.exe")))
    server = next(p for p in layout if "relayon_example_server" in p)

    empty = tempfile.mkdtemp(prefix="empty-", dir=work)
    code, out, err = run(runner + [os.path.join(root, program)], 60, cwd=empty)
    usage = lines_of(out)
    check(code == 0, "%s: %s without arguments ended with %s, expected 0 (stderr: %r)"
          % (where, program, code, err))
    check(usage and usage[0].startswith("Relayon. " + VERSION),
          "%s: %s without arguments printed %r, expected the usage"
          % (where, program, out[:300]))
    check(len(usage) == 10, "%s: the usage has %d lines, expected 10: %r"
          % (where, len(usage), usage))
    check(os.listdir(empty) == [], "%s: %s wrote %s into its directory"
          % (where, program, os.listdir(empty)))
    # Every option of the usage text has its entry (a tagged paragraph) in the manual page.
    for option in usage_options(usage):
        check((".TP\n.BI %s " % option) in manpage_text
              or (".TP\n.B %s\n" % option) in manpage_text,
              "%s: option %s of the usage is not described in the manual page"
              % (where, option))

    code, out, err = run(runner + [os.path.join(root, server)], 60, cwd=empty,
                         stdin_text="GET TEMP\nSET TEMP 22\nGET TEMP\nQUIT\n")
    check(code == 0 and lines_of(out) == ["TEMP 20", "OK TEMP 22", "TEMP 22", "BYE"],
          "%s: %s answered %r with exit code %s (stderr: %r)"
          % (where, server, out, code, err))


def check_example(where, root, layout, runner, work):
    """Runs the thermostat example as the manual page shows it: from a copy of the installed
    examples, with the installed program and example server."""
    program = next(p for p in layout if p.endswith(("bin/relayon", "relayon.exe")))
    server = next(p for p in layout if "relayon_example_server" in p)
    examples = os.path.dirname(next(p for p in layout if p.endswith("thermostat.ini")))
    folder = tempfile.mkdtemp(prefix="thermostat-", dir=work)
    shutil.copytree(os.path.join(root, examples), folder, dirs_exist_ok=True)
    if server.endswith(".exe"):
        # In the Windows archive the server lies beside the translation file.
        server_command = os.path.basename(server)
    else:
        server_command = os.path.join(root, server)
    # The input stays open: the run ends when the server has said goodbye and ended, after
    # all of its answers have been relayed.
    code, out, err = run(runner + [os.path.join(root, program), "/t", "thermostat.ini",
                                   server_command], 60, cwd=folder,
                         stdin_text="how warm is it?\nmake it 22\nping\nbye\n", hold_input=True)
    answers = lines_of(out)
    # "ping" is answered by Relayon itself, so it may come before or after the server's lines.
    check(code == 0 and sorted(answers) == sorted([
              "the thermostat is set to 20", "Done, the thermostat is set to 22", "pong",
              "Goodbye."]),
          "%s: the example answered %r with exit code %s (stderr: %r)"
          % (where, out, code, err))
    check(os.path.isfile(os.path.join(folder, "thermostat.log")),
          "%s: the example wrote no thermostat.log" % where)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--cmake", required=True)
    parser.add_argument("--cpack", required=True)
    parser.add_argument("--generator", required=True, choices=["DEB", "ZIP"])
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    parser.add_argument("runner", nargs="*")
    args = parser.parse_args()
    build = os.path.abspath(args.build_dir)
    source = os.path.abspath(args.source_dir)
    layout = POSIX_LAYOUT if args.generator == "DEB" else WINDOWS_LAYOUT
    with open(os.path.join(source, "doc/relayon.1")) as f:
        manpage_text = f.read()

    work = tempfile.mkdtemp(prefix="relayon-package-")
    try:
        # 1. The package, made by CPack from the build tree.
        out_dir = os.path.join(work, "out")
        code, out, err = run([args.cpack, "-G", args.generator,
                              "--config", os.path.join(build, "CPackConfig.cmake"),
                              "-B", out_dir], 240, cwd=build)
        if not check(code == 0, "cpack ended with %s:\n%s\n%s" % (code, out, err)):
            return 1
        packages = sorted(glob.glob(os.path.join(out_dir, "*." + args.generator.lower())))
        if not check(len(packages) == 1, "cpack made %s, expected one package in %s"
                     % (packages, out_dir)):
            return 1
        package = packages[0]
        unpacked = os.path.join(work, "unpacked")
        if args.generator == "DEB":
            check_deb(package, unpacked, layout, source)
            root = os.path.join(unpacked, "usr")
        else:
            check_zip(package, unpacked, layout, source)
            root = os.path.join(unpacked, "relayon-%s-win32" % VERSION)
        check_runs("package", root, layout, args.runner, manpage_text, work)
        check_example("package", root, layout, args.runner, work)

        # 2. The same layout from `cmake --install` into a prefix of its own.
        prefix = os.path.join(work, "prefix")
        code, out, err = run([args.cmake, "--install", build, "--prefix", prefix], 120)
        if check(code == 0, "cmake --install ended with %s:\n%s\n%s" % (code, out, err)):
            installed = set()
            for folder, _, names in os.walk(prefix):
                for name in names:
                    installed.add(os.path.relpath(os.path.join(folder, name), prefix)
                                  .replace(os.sep, "/"))

            def read(path):
                with open(os.path.join(prefix, path), "rb") as f:
                    return f.read()
            check_files("install", installed, layout, source, read)
            check_runs("install", prefix, layout, args.runner, manpage_text, work)
            check_example("install", prefix, layout, args.runner, work)
    finally:
        if args.keep:
            print("kept " + work)
        else:
            shutil.rmtree(work, ignore_errors=True)

    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("package checks passed")
    return 0


def check_deb(package, unpacked, layout, source):
    name = os.path.basename(package)
    arch = subprocess.run(["dpkg", "--print-architecture"], capture_output=True,
                          text=True).stdout.strip()
    check(name == "relayon_%s_%s.deb" % (VERSION, arch),
          "the package is %s, expected relayon_%s_%s.deb" % (name, VERSION, arch))

    # Control fields.
    fields = {}
    control = subprocess.run(["dpkg-deb", "-f", package], capture_output=True, text=True)
    check(control.returncode == 0, "dpkg-deb -f failed: " + control.stderr)
    key = None
    for line in control.stdout.splitlines():
        if line.startswith(" ") and key:
            fields[key] += "\n" + line
        elif ":" in line:
            key, value = line.split(":", 1)
            fields[key] = value.strip()
    print("control fields: %r" % fields)
    check(fields.get("Package") == "relayon", "Package is %r" % fields.get("Package"))
    check(fields.get("Version") == VERSION, "Version is %r" % fields.get("Version"))
    check(fields.get("Architecture") == arch, "Architecture is %r" % fields.get("Architecture"))
    check(fields.get("Section") == "utils", "Section is %r" % fields.get("Section"))
    maintainer = fields.get("Maintainer", "")
    check("<" in maintainer and maintainer.endswith(">") and "@" in maintainer,
          "Maintainer %r is not a name with an address" % maintainer)
    depends = [d.split()[0] for d in fields.get("Depends", "").split(",") if d.strip()]
    for library in ("libc6", "libstdc++6"):
        check(library in depends, "Depends %r lacks %s" % (fields.get("Depends"), library))
    description = fields.get("Description", "")
    check(description.startswith("relay and rewrite text lines")
          and "Relayon stands between two programs" in description
          and "CPack" not in description, "Description is %r" % description)

    # Contents: regular files with their modes, owned by root.
    listing = subprocess.run(["dpkg-deb", "-c", package], capture_output=True, text=True)
    check(listing.returncode == 0, "dpkg-deb -c failed: " + listing.stderr)
    print(listing.stdout)
    files = {}
    for line in listing.stdout.splitlines():
        parts = line.split(None, 5)
        if len(parts) < 6:
            continue
        mode, owner, path = parts[0], parts[1], parts[5]
        check(owner == "root/root", "%s is owned by %s" % (path, owner))
        if mode.startswith("-"):
            check(path.startswith("./usr/"), "%s lies outside /usr" % path)
            files[path[len("./usr/"):]] = mode
    for path, mode in files.items():
        wanted = "-rwxr-xr-x" if layout.get(path, ("",))[0] == "program" else "-rw-r--r--"
        check(mode == wanted, "%s has mode %s, expected %s" % (path, mode, wanted))

    extract = subprocess.run(["dpkg-deb", "-x", package, unpacked], capture_output=True,
                             text=True)
    check(extract.returncode == 0, "dpkg-deb -x failed: " + extract.stderr)

    def read(path):
        with open(os.path.join(unpacked, "usr", path), "rb") as f:
            return f.read()
    check_files("package", set(files), layout, source, read)


def check_zip(package, unpacked, layout, source):
    name = os.path.basename(package)
    top = "relayon-%s-win32/" % VERSION
    check(name == "relayon-%s-win32.zip" % VERSION,
          "the package is %s, expected relayon-%s-win32.zip" % (name, VERSION))
    with zipfile.ZipFile(package) as archive:
        check(archive.testzip() is None, "the archive has a damaged member")
        names = [n for n in archive.namelist() if not n.endswith("/")]
        print("\n".join(names))
        outside = [n for n in names if not n.startswith(top)]
        check(not outside, "%s lie outside the folder %s" % (outside, top))
        files = {n[len(top):] for n in names if n.startswith(top)}
        check_files("package", files, layout, source,
                    lambda path: archive.read(top + path))
        archive.extractall(unpacked)


if __name__ == "__main__":
    sys.exit(main())
