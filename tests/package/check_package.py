#!/usr/bin/env python3
"""check_package.py BUILD_DIR CPACK DEB|ZIP [RUNNER...]: the package CPack makes of the build,
unpacked, must hold exactly the program, the example server, the manual page (as CR LF text in the
.zip), the examples and (.deb) the copyright file, and its program must run the thermostat example.
RUNNER (Wine) starts the Windows program."""
import glob, os, re, subprocess, sys, tempfile, zipfile

build, cpack, generator, runner = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
program, server, manual, examples = {  # under usr/ in the .deb, under the .zip's one folder
    "DEB": ("bin/relayon", "libexec/relayon/relayon_example_server", "share/man/man1/relayon.1.gz",
            "share/doc/relayon/examples"),
    "ZIP": ("relayon.exe", "examples/relayon_example_server.exe", "relayon.txt", "examples")}[generator]
extra = {"DEB": {"share/doc/relayon/copyright"}, "ZIP": set()}[generator]
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
    if files != {program, server, manual} | example_files | extra:
        sys.exit("the package holds %s" % sorted(files))
    page = open(os.path.join(prefix, manual), "rb").read()  # in the .zip plain text, CR LF lines, no overstrikes
    if generator == "ZIP" and (b"\x08" in page or page.count(b"\n") != page.count(b"\r\n") or b"SEE ALSO" not in page):
        sys.exit("the manual page is no plain CR LF text: %r" % page[:200])
    # The input stays open until the program ends, which it does when the server has said goodbye;
    # Relayon answers "ping" itself, maybe before the server's lines. Output goes to a file, not a
    # pipe, since Wine can leave a service behind that holds a pipe open for ever.
    command = runner + [os.path.join(prefix, program), "/t", "thermostat.ini", os.path.basename(server)]
    if generator == "DEB":  # the manual page's example as written, /usr being where the package was unpacked
        man = open(os.path.join(os.path.dirname(__file__), "..", "..", "doc", "relayon.1")).read()
        command = [os.path.join(prefix, program) if word == "relayon" else word.replace("/usr/", prefix + "/")
                   for word in re.search(r"\n\.B (relayon /t thermostat\.ini .*)\n", man)[1].split()]
    with tempfile.TemporaryFile() as out, subprocess.Popen(command, cwd=os.path.join(prefix, examples),
                                                           stdin=subprocess.PIPE, stdout=out, stderr=out) as run:
        run.stdin.write(b"how warm is it?\nmake it\nmake it 22\nping\nbye\n")
        run.stdin.flush()
        try:
            code = run.wait(timeout=240)
        finally:
            run.kill()
        out.seek(0)
        answer = out.read().decode("latin-1")
    if code != 0 or sorted(answer.splitlines()) != sorted(
            ["the thermostat is set to 20", "Say how warm as well, for example: make it 22",
             "Done, the thermostat is set to 22", "pong", "Goodbye."]):
        sys.exit("the example ended with %s and wrote %r" % (code, answer))
