#!/usr/bin/env python3
"""Derives the export table of TrovixInstall.exe from the declarations.

Member exports: every public member of QorZipFile as archive/QorZipFile.h
declares it, decorated the way a Microsoft-ABI compiler decorates it (clang for
i686-pc-windows-msvc does the decorating), plus the default-constructor closure
that such a compiler emits for a class whose constructor takes only defaulted
arguments. Flat exports: every QZF_ function that archive/QzfFlat.h declares.
Ordinals run from 1 in ascending byte order of the names.

  gen-exports.py            writes archive/QorZipFile.def
  gen-exports.py --check    fails unless archive/QorZipFile.def is up to date
  gen-exports.py --list     prints "ordinal name" lines

Each member export is bound to a thunk in archive/QzfMembers.cpp named
QzfM_<member>; the two overloaded pairs get the names in OVERLOAD_THUNKS.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEF_PATH = os.path.join(ROOT, "archive", "QorZipFile.def")
MODULE = "TrovixInstall.exe"
CLASS = "QorZipFile"
CLANG = os.environ.get("QOR_CLANG") or shutil.which("clang-14") or "clang"
LLVM_NM = os.environ.get("QOR_LLVM_NM") or shutil.which("llvm-nm") or "llvm-nm-14"
MINGW_GXX = os.environ.get("QOR_MINGW_GXX", "i686-w64-mingw32-g++")

# Overloaded members: "name(parameter types)[ const]" -> thunk.
OVERLOAD_THUNKS = {
    "GetFileName(unsigned long)": "QzfM_GetFileName",
    "GetFileName() const": "QzfM_GetZipFileName",
    "RemoveFile(unsigned long)": "QzfM_RemoveFileByIndex",
    "RemoveFile(const char *)": "QzfM_RemoveFile",
}
CTOR_THUNK = "QzfM_Construct"
DTOR_THUNK = "QzfM_Destruct"
CLOSURE_THUNK = "QzfM_DefaultConstruct"


def fail(msg):
    sys.stderr.write("gen-exports: %s\n" % msg)
    sys.exit(1)


def run(cmd):
    p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if p.returncode != 0:
        fail("%s failed:\n%s" % (cmd[0], p.stderr))
    return p.stdout


def mingw_include_dirs():
    """The C and C++ include directories of the mingw g++ (windows.h, libstdc++)."""
    p = subprocess.run([MINGW_GXX, "-xc++", "-E", "-v", os.devnull],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    lines = p.stderr.splitlines()
    try:
        start = lines.index("#include <...> search starts here:") + 1
        end = lines.index("End of search list.")
    except ValueError:
        fail("cannot read the include directories of %s" % MINGW_GXX)
    return [ln.strip() for ln in lines[start:end]]


def ast_decls(header, name_filter):
    """Top-level JSON AST nodes whose qualified names contain name_filter, as
    clang sees header when compiling for the mingw target."""
    with tempfile.TemporaryDirectory() as tmp:
        tu = os.path.join(tmp, "decls.cpp")
        with open(tu, "w") as f:
            f.write('#include "%s"\n' % header)
        cmd = [CLANG, "--target=i686-w64-mingw32", "-nostdinc++", "-xc++", "-std=c++17",
               "-DWIN32_LEAN_AND_MEAN", "-DNOMINMAX", "-I" + ROOT]
        for d in mingw_include_dirs():
            cmd += ["-isystem", d]
        cmd += ["-fsyntax-only", "-Xclang", "-ast-dump=json", "-Xclang",
                "-ast-dump-filter=" + name_filter, tu]
        text = run(cmd)
    decoder = json.JSONDecoder()
    nodes, i = [], 0
    while True:
        while i < len(text) and text[i].isspace():
            i += 1
        if i >= len(text):
            return nodes
        node, i = decoder.raw_decode(text, i)
        nodes.append(node)


class Member:
    def __init__(self, node):
        self.kind = node["kind"]
        self.name = node["name"]
        qual = node["type"]["qualType"]
        self.const = qual.endswith(" const")
        self.ret = qual[:qual.index("(")].strip()
        self.params = []  # (type, has default)
        for p in node.get("inner", []):
            if p["kind"] == "ParmVarDecl":
                self.params.append((p["type"]["qualType"], "init" in p))

    def signature(self):
        s = "%s(%s)" % (self.name, ", ".join(t for t, _ in self.params))
        return s + " const" if self.const else s

    def thunk(self, overloaded):
        if self.kind == "CXXConstructorDecl":
            return CTOR_THUNK
        if self.kind == "CXXDestructorDecl":
            return DTOR_THUNK
        if overloaded:
            if self.signature() not in OVERLOAD_THUNKS:
                fail("no thunk name for the overload %s" % self.signature())
            return OVERLOAD_THUNKS[self.signature()]
        return "QzfM_" + self.name


def public_members():
    record = None
    for node in ast_decls("archive/QorZipFile.h", CLASS):
        if (node.get("kind") == "CXXRecordDecl" and node.get("name") == CLASS
                and node.get("completeDefinition")):
            record = node
    if record is None:
        fail("no definition of class %s" % CLASS)
    access, members, enums = "private", [], []
    for node in record.get("inner", []):
        kind = node["kind"]
        if kind == "AccessSpecDecl":
            access = node["access"]
        elif access != "public" or node.get("isImplicit"):
            continue
        elif kind == "EnumDecl":
            enums.append(node["name"])
        elif kind in ("CXXMethodDecl", "CXXConstructorDecl", "CXXDestructorDecl"):
            if node.get("explicitlyDeleted") or node.get("storageClass") == "static":
                continue
            members.append(Member(node))
    return members, enums


def msvc_type(t):
    """A parameter or result type as the probe below spells it."""
    return t.replace(CLASS + "::", "")


def decorate(members, enums):
    """Compiles a probe class with the same public members for the Microsoft ABI
    and returns {signature: decorated name} plus the closure's name."""
    lines = [
        "typedef unsigned long DWORD;",
        "typedef struct _FILETIME { DWORD dwLowDateTime; DWORD dwHighDateTime; } FILETIME;",
        "enum QZF_ERROR { QZF_ERR_NONE };",
        "class __declspec(dllexport) %s {" % CLASS,
        "public:",
    ]
    lines += ["    enum %s { %s_0 };" % (e, e) for e in enums]
    lines += ["    %s(const %s&) = delete;" % (CLASS, CLASS),
              "    %s& operator=(const %s&) = delete;" % (CLASS, CLASS)]
    bodies = []
    for i, m in enumerate(members):
        params = ", ".join("%s%s" % (msvc_type(t), " = {}" if d else "") for t, d in m.params)
        plain = ", ".join("%s" % msvc_type(t) for t, _ in m.params)
        const = " const" if m.const else ""
        if m.kind == "CXXConstructorDecl":
            lines.append("    %s(%s);" % (CLASS, params))
            bodies.append("%s::%s(%s) {}" % (CLASS, CLASS, plain))
        elif m.kind == "CXXDestructorDecl":
            lines.append("    ~%s();" % CLASS)
            bodies.append("%s::~%s() {}" % (CLASS, CLASS))
        else:
            ret = msvc_type(m.ret)
            if ret in enums:
                ret = "%s::%s" % (CLASS, ret)
            lines.append("    %s %s(%s)%s;" % (msvc_type(m.ret), m.name, params, const))
            body = "{}" if ret == "void" else "{ return {}; }"
            bodies.append("%s %s::%s(%s)%s %s" % (ret, CLASS, m.name, plain, const, body))
    lines.append("};")
    source = "\n".join(lines + bodies) + "\n"
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "probe.cpp")
        obj = os.path.join(tmp, "probe.obj")
        with open(src, "w") as f:
            f.write(source)
        base = [CLANG, "--target=i686-pc-windows-msvc", "-xc++", "-std=c++17", "-Wno-everything"]
        ast = run(base + ["-fsyntax-only", "-Xclang", "-ast-dump=json",
                          "-Xclang", "-ast-dump-filter=" + CLASS, src])
        run(base + ["-c", src, "-o", obj])
        symbols = run([LLVM_NM, "--defined-only", obj]).split()
    defined = {s for s in symbols if s.startswith("?")}
    by_signature = {}
    decoder, i = json.JSONDecoder(), 0
    while i < len(ast):
        while i < len(ast) and ast[i].isspace():
            i += 1
        if i >= len(ast):
            break
        node, i = decoder.raw_decode(ast, i)
        if node.get("kind") == "CXXRecordDecl" and node.get("completeDefinition"):
            for n in node.get("inner", []):
                if n["kind"] in ("CXXMethodDecl", "CXXConstructorDecl") and not (
                        n.get("explicitlyDeleted") or n.get("isImplicit")):
                    by_signature[msvc_type(Member(n).signature())] = n["mangledName"]
    result = {}
    for m in members:
        if m.kind == "CXXDestructorDecl":
            found = [s for s in defined if s.startswith("??1")]
        else:
            found = [by_signature.get(msvc_type(m.signature()))]
        if len(found) != 1 or not found[0] or found[0] not in defined:
            fail("cannot decorate %s" % m.signature())
        result[m.signature()] = found[0]
    closure = [s for s in defined if s.startswith("??_F")]
    if len(closure) != 1:
        fail("no default-constructor closure: the constructor needs defaulted arguments")
    if set(result.values()) | set(closure) != defined:
        fail("probe defines unexpected symbols: %s" % (defined - set(result.values())))
    return result, closure[0]


def flat_functions():
    names = set()
    for node in ast_decls("archive/QzfFlat.h", "QZF_"):
        if node.get("kind") == "FunctionDecl" and node["name"].startswith("QZF_"):
            names.add(node["name"])
    return sorted(names)


def derive():
    """[(ordinal, export name, internal symbol)] in ordinal order."""
    members, enums = public_members()
    decorated, closure = decorate(members, enums)
    counts = {}
    for m in members:
        counts[m.name] = counts.get(m.name, 0) + 1
    exports = [(decorated[m.signature()], m.thunk(counts[m.name] > 1)) for m in members]
    exports.append((closure, CLOSURE_THUNK))
    exports += [(name, name) for name in flat_functions()]
    exports.sort(key=lambda e: e[0].encode())
    names = [e[0] for e in exports]
    if len(set(names)) != len(names) or len({e[1] for e in exports}) != len(exports):
        fail("duplicate export or thunk names")
    return [(i + 1, name, internal) for i, (name, internal) in enumerate(exports)]


def def_text(exports):
    out = ["; Export table of TrovixInstall.exe: the archive engine's member and flat",
           "; layers. Generated by scripts/gen-exports.py; do not edit.",
           'NAME "%s"' % MODULE, "EXPORTS"]
    for ordinal, name, internal in exports:
        if name == internal:
            out.append("    %s @%d" % (name, ordinal))
        else:
            out.append('    "%s" = %s @%d' % (name, internal, ordinal))
    return "\n".join(out) + "\n"


def main(argv):
    exports = derive()
    if "--list" in argv:
        for ordinal, name, _ in exports:
            print(ordinal, name)
        return 0
    text = def_text(exports)
    if "--check" in argv:
        with open(DEF_PATH) as f:
            if f.read() != text:
                fail("%s is out of date: run scripts/gen-exports.py" % DEF_PATH)
        print("gen-exports: %s is up to date (%d exports)" % (DEF_PATH, len(exports)))
        return 0
    with open(DEF_PATH, "w") as f:
        f.write(text)
    print("gen-exports: wrote %s (%d exports)" % (DEF_PATH, len(exports)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
