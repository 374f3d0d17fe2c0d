#!/usr/bin/env python3
"""check_package.py BUILD_DIR CPACK DEB|ZIP [RUNNER...]: the package CPack makes of the build,
unpacked, must hold exactly the program, the example server, the manual page and the examples, and
its program must run the thermostat example. RUNNER (Wine) starts the Windows program."""
import glob, os, subprocess, sys, tempfile, zipfile

build, cpack, generator, runner = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
program, server, manual, examples = {  # under usr/ in the .deb, under the .zip's one folder
    "DEB": ("bin/relayon", "libexec/relayon/relayon_example_server", "share/man/man1/relayon.1.gz",
            "share/doc/relayon/examples"),
    "ZIP": ("relayon.exe", "examples/relayon_example_server.exe", "relayon.1", "examples")}[generator]
with tempfile.TemporaryDirectory(prefix="relayon-package-") as work:
    subprocess.run([cpack, "-G", generator, "--config", "CPackConfig.cmake", "-B", work], cwd=build, check=True)
    [package] = glob.glob(os.path.join(work, "*." + generator.lower()))
    root = os.path.join(work, "root")
    if generator == "ZIP":
        zipfile.ZipFile(package).extractall(root)
    else:
        subprocess.run(["dpkg-deb", "-x", package, root], check=True)
    [prefix] = glob.glob(os.path.join(root, "*"))
    files = {os.path.relpath(os.path.join(d, n), prefix) for d, _, names in os.walk(root) for n in names}
    example_files = {examples + "/" + n for n in ("thermostat.ini", "morning.txt", "line_server.cpp")}
    if files != {program, server, manual} | example_files:
        sys.exit("the package holds %s" % sorted(files))
    # The input stays open until the program ends, which it does when the server has said goodbye;
    # Relayon answers "ping" itself, maybe before the server's lines. Output goes to a file, not a
    # pipe, since Wine can leave a service behind that holds a pipe open for ever.
    server = os.path.basename(server) if generator == "ZIP" else os.path.join(prefix, server)
    command = runner + [os.path.join(prefix, program), "/t", "thermostat.ini", server]
    with tempfile.TemporaryFile() as out, subprocess.Popen(command, cwd=os.path.join(prefix, examples),
                                                           stdin=subprocess.PIPE, stdout=out, stderr=out) as run:
        run.stdin.write(b"how warm is it?\nmake it 22\nping\nbye\n")
        run.stdin.flush()
        try:
            code = run.wait(timeout=240)
        finally:
            run.kill()
        out.seek(0)
        answer = out.read().decode("latin-1")
    if code != 0 or sorted(answer.splitlines()) != sorted(
            ["the thermostat is set to 20", "Done, the thermostat is set to 22", "pong", "Goodbye."]):
        sys.exit("the example ended with %s and wrote %r" % (code, answer))
