#!/usr/bin/env python3
"""check_manpage.py PAGE: formats the manual page with groff and fails on every warning or error
it reports. Ends with 77 (skipped) when groff is not installed."""
import shutil
import subprocess
import sys

if shutil.which("groff") is None:
    print("groff is not installed; the manual page is not checked")
    sys.exit(77)
# -ww: all warnings; -z: format, write nothing; -t: the page may hold tables.
result = subprocess.run(["groff", "-man", "-t", "-ww", "-z", sys.argv[1]], capture_output=True, text=True, timeout=60)
report = (result.stdout + result.stderr).strip()
print("groff ended with %d on %s:\n%s" % (result.returncode, sys.argv[1], report) if result.returncode or report
      else "%s formats without warnings" % sys.argv[1])
sys.exit(1 if result.returncode or report else 0)
