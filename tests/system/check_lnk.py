"""Checks the .lnk files written under Wine with Debian's lnkinfo, a parser
independent of the shell-link object that wrote them.

Usage: check_lnk.py DIR  (DIR holds the links and expected.txt, one line per
link: file|target path|icon location|icon index)."""

import os
import re
import subprocess
import sys


def fields(text):
    """lnkinfo's "Name : value" lines as a dict (first occurrence wins)."""
    out = {}
    for line in text.splitlines():
        m = re.match(r"\s*([^:]+?)\s*:\s(.*)$", line)
        if m and m.group(1) not in out:
            out[m.group(1)] = m.group(2).strip()
    return out


def main(folder):
    failures = []
    with open(os.path.join(folder, "expected.txt")) as f:
        rows = [line.rstrip("\n").split("|") for line in f if line.strip()]
    if not rows:
        failures.append("no links listed")
    for name, target, icon, index in rows:
        r = subprocess.run(["lnkinfo", os.path.join(folder, name)], capture_output=True,
                           text=True, timeout=30)
        if r.returncode != 0:
            failures.append("%s: lnkinfo failed: %s" % (name, r.stderr))
            continue
        info = fields(r.stdout)
        local = info.get("Local path", "")
        if local.lower() != target.lower():
            failures.append("%s: local path %r, expected %r" % (name, local, target))
        loc = info.get("Icon location", "")
        if loc.lower() != icon.lower():
            failures.append("%s: icon location %r, expected %r" % (name, loc, icon))
        if "Icon index" in info and info["Icon index"] != index:
            failures.append("%s: icon index %r, expected %r" % (name, info["Icon index"], index))
        print("%s: local path %r, icon %r index %r" % (name, local, loc, info.get("Icon index")))
    for f in failures:
        print("FAIL " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
