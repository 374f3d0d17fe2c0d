#!/usr/bin/env python3
"""check_manpage.py PAGE: formats the manual page with groff and fails on every warning or error
it reports. Ends with 77 (skipped) when groff is not installed."""

import shutil
import subprocess
import sys


def main():
    page = sys.argv[1]
    groff = shutil.which("groff")
    if groff is None:
        print("groff is not installed; the manual page is not checked")
        return 77
    # -ww: all warnings; -z: format, write nothing; -t: the page may hold tables.
    result = subprocess.run([groff, "-man", "-t", "-ww", "-z", page], capture_output=True,
                            text=True, timeout=60)
    report = (result.stdout + result.stderr).strip()
    if result.returncode != 0 or report:
        print("groff ended with %d on %s:\n%s" % (result.returncode, page, report))
        return 1
    print("%s formats without warnings" % page)
    return 0


if __name__ == "__main__":
    sys.exit(main())
