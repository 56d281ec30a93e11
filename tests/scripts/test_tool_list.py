"""scripts/tools.txt names every external command the tests and the scripts of
`make test` start: a command missing there would pass check-tools.sh and fail
half an hour later inside a test. The commands are read from the sources;
those of Debian's essential packages are on every machine and need no line."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

SRC = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SCRIPTS = os.path.join(SRC, "scripts")

SHELL_WORDS = set("""
if then else elif fi for while until do done case esac in function select time
return exit local export set unset shift source . : true false echo printf read
cd pwd test [ [[ ]] ]] trap wait eval exec break continue declare readonly let
shopt type command builtin kill jobs umask ulimit getopts mapfile hash alias
""".split())


def listed_tools():
    names = set()
    with open(os.path.join(SCRIPTS, "tools.txt")) as f:
        for line in f:
            if line.strip() and not line.startswith("#"):
                for alt in line.split()[0].split("|"):
                    names.add(os.path.basename(alt))
    return names


def essential_commands():
    """Commands of the packages Debian marks essential (on every machine)."""
    out = subprocess.run(["dpkg-query", "-W", "-f", "${Package} ${Essential}\n"],
                         capture_output=True, text=True).stdout
    pkgs = [l.split()[0] for l in out.splitlines() if l.endswith(" yes")]
    files = subprocess.run(["dpkg", "-L"] + pkgs, capture_output=True, text=True).stdout
    return {os.path.basename(p) for p in files.splitlines() if re.search(r"/s?bin/[^/]+$", p)}


# What `make test` runs besides tests/: the bench, demo and screenshot scripts
# are other targets with their own needs.
NOT_RUN_BY_TEST = ("scripts/bench.sh", "scripts/demo.sh", "scripts/screenshots.sh",
                   "scripts/screenshots.py")


def source_files(exts):
    out = subprocess.run(["git", "-C", SRC, "ls-files", "tests", "scripts", ".ci", "cmake",
                          "Makefile", "CMakeLists.txt"], capture_output=True, text=True).stdout
    for rel in out.split():
        if rel in NOT_RUN_BY_TEST:
            continue
        if rel.endswith(exts) or (exts == (".sh",) and rel == ".ci/run"):
            with open(os.path.join(SRC, rel), errors="replace") as f:
                yield rel, f.read()


def python_commands(text):
    found = set(re.findall(r"(?:subprocess\.\w+|Popen)\(\s*\[\s*[\"']([\w.+-]+)[\"']", text))
    found |= set(re.findall(r"shutil\.which\(\s*[\"']([\w.+-]+)[\"']", text))
    return found


def c_commands(text):
    found = set(re.findall(r"\b(?:Shell|system|popen)\(\s*\"(?:command -v )?([\w.+-]+)", text))
    found -= SHELL_WORDS
    found |= set(re.findall(r"find_program\(\s*\w+\s+NAMES\s+([\w.+-]+)", text))
    return found


SEP = re.compile(r"\|\||&&|[|;&]|\$\(|`|\(|\)|\bthen\b|\bdo\b|\belse\b|!")


def shell_commands(text):
    """Words in command position: a rough reading, enough for these scripts."""
    text = re.sub(r"<<'?(\w+)'?\n.*?\n\1\n", "\n", text, flags=re.S)  # here-documents
    functions = set(re.findall(r"^\s*([\w-]+)\s*\(\)", text, flags=re.M))
    found = set()
    for line in text.splitlines():
        line = re.sub(r"(^|\s)#.*", "", line)
        line = re.sub(r"\$\(\([^)]*\)\)|\$\{[^}]*\}", " S ", line)  # arithmetic, expansions
        line = re.sub(r"^\s*[\w*|.-]+\)", "", line)  # a case label
        line = re.sub(r"\w+\+?=\([^)]*\)", " S ", line)  # an array
        line = re.sub(r"'[^']*'|\"(\\.|[^\"\\])*\"", " S ", line)
        for part in SEP.split(line):
            words = part.split()
            # Skip assignments and the wrappers that start another command.
            while words and (re.match(r"^\w+=", words[0]) or
                             words[0] in ("sudo", "$SUDO", "exec", "timeout", "setsid", "nice",
                                          "env", "-k", "-w") or re.match(r"^\d+$", words[0])):
                words = words[1:]
            if not words:
                continue
            w = words[0]
            if re.match(r"^[A-Za-z][\w.+-]*$", w) and w not in SHELL_WORDS and w not in functions \
                    and w != "S" and not w.endswith(".sh"):
                found.add(w)
    return found


def started_commands():
    started = {}
    for rel, text in source_files((".py",)):
        for c in python_commands(text):
            started.setdefault(c, rel)
    for rel, text in source_files((".c", ".cpp", ".h", ".txt", ".cmake")):
        for c in c_commands(text):
            started.setdefault(c, rel)
    for rel, text in source_files((".sh",)):
        for c in shell_commands(text):
            started.setdefault(c, rel)
    return started


class ToolListTest(unittest.TestCase):
    @unittest.skipUnless(shutil.which("dpkg-query"), "not a Debian machine")
    def test_every_started_command_is_listed_or_essential(self):
        known = listed_tools() | essential_commands()
        # awk is an alternative link (mawk's), not a file of the package; the
        # package tools run only when something is missing.
        known |= {"awk", "apt-get", "git"}
        missing = {c: rel for c, rel in started_commands().items() if c not in known}
        self.assertEqual(missing, {}, "commands started but not in scripts/tools.txt")

    def test_check_tools_names_a_missing_command_and_its_package(self):
        with tempfile.TemporaryDirectory() as d:
            shutil.copy(os.path.join(SCRIPTS, "check-tools.sh"), d)
            with open(os.path.join(d, "tools.txt"), "w") as f:
                f.write("# a comment\nsh dash\nqor-no-such-command-x imagemagick\n"
                        "qor-only-on-the-other-path some-package 32\n")
            r = subprocess.run(["bash", os.path.join(d, "check-tools.sh"), "64"],
                               capture_output=True, text=True)
        self.assertEqual(r.returncode, 1)
        self.assertIn("qor-no-such-command-x (package imagemagick)", r.stderr)
        self.assertNotIn("qor-only-on-the-other-path", r.stderr)
        self.assertNotIn("sh (package", r.stderr)

    def test_the_screen_grab_command_is_checked_not_its_sibling(self):
        # A machine may have a `convert` that is not ImageMagick; the tests run `import`.
        self.assertIn("import", listed_tools())


if __name__ == "__main__":
    unittest.main()
