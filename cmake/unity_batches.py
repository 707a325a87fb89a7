#!/usr/bin/env python3
"""Writes the unity sources of one target: each includes a batch of the
target's .cpp files, so that the headers they share are parsed, and the
inline code they share is generated, once per batch instead of once per file.

Files are only put together when that cannot change what they mean. Each
file is scanned for what it declares at namespace scope (helpers in anonymous
namespaces, static functions and constants, classes, aliases), the macros it
defines and the using-directives it writes at namespace scope; two files share
a batch only if they declare no name in common, neither defines a macro the
other's text uses, and both write the same using-directives. A file that holds
the line "qelt-unity: alone" (in a comment) is always compiled on its own.

The scan is deliberately cautious: any name two files both declare keeps them
apart, even where C++ would allow it. So a new file, or a new helper in an
old file, moves files between batches instead of breaking the build.

usage: unity_batches.py OUT_DIR PREFIX BATCH_SIZE SLOTS STAMP [-IDIR...] SOURCE...
Writes OUT_DIR/PREFIX_<n>.cpp for n in 0..SLOTS-1 (the unused ones hold only
a comment) and touches STAMP; a file whose text is unchanged is not rewritten,
so that the build recompiles only the batches whose make-up changed.
"""
import os
import re
import sys

KEYWORDS = set("""
alignas alignof asm auto bool break case catch char char8_t char16_t char32_t class
co_await co_return co_yield concept const consteval constexpr constinit const_cast
continue decltype default delete do double dynamic_cast else enum explicit export
extern false final float for friend goto if inline int long mutable namespace new
noexcept nullptr operator override private protected public register
reinterpret_cast requires return short signed sizeof static static_assert
static_cast struct switch template this thread_local throw true try typedef typeid
typename union unsigned using virtual void volatile wchar_t while
""".split())

TOKEN = re.compile(r"""
    (?P<ws>\s+)
  | (?P<id>[A-Za-z_][A-Za-z0-9_]*)
  | (?P<num>\.?[0-9](?:[eEpP][+-]|[A-Za-z0-9_.'])*)
  | (?P<op>::|->|\.\.\.|[{}()\[\];,<>=:&*.~!?+\-/%^|#@\\$`])
""", re.VERBOSE)

ALONE_MARK = "qelt-unity: alone"


def strip(text):
    """Drops comments, string and character literals (raw strings too) and
    preprocessor lines; answers (code, macros defined)."""
    out = []
    macros = set()
    i, n = 0, len(text)
    at_line_start = True
    while i < n:
        c = text[i]
        if at_line_start and c in " \t":
            out.append(c)
            i += 1
            continue
        if at_line_start and c == "#":
            # A directive, with its continuation lines.
            j = i
            while True:
                k = text.find("\n", j)
                if k < 0:
                    k = n
                if k > 0 and text[k - 1] == "\\":
                    j = k + 1
                    continue
                break
            line = text[i:k]
            m = re.match(r"#\s*define\s+([A-Za-z_][A-Za-z0-9_]*)", line)
            if m:
                macros.add(m.group(1))
            out.append("\n")
            i = k + 1
            continue
        at_line_start = False
        if c == "\n":
            at_line_start = True
            out.append(c)
            i += 1
        elif text.startswith("//", i):
            k = text.find("\n", i)
            i = n if k < 0 else k
        elif text.startswith("/*", i):
            k = text.find("*/", i + 2)
            i = n if k < 0 else k + 2
            out.append(" ")
        elif c == 'R' and i + 1 < n and text[i + 1] == '"' and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            m = re.match(r'R"([^(\s]*)\(', text[i:])
            if not m:
                out.append(c)
                i += 1
                continue
            end = ")" + m.group(1) + '"'
            k = text.find(end, i + m.end())
            i = n if k < 0 else k + len(end)
            out.append(" STR ")
        elif c == '"' or (c == "'" and not (i > 0 and text[i - 1].isalnum())):
            # (a quote after a digit or letter is a digit separator or prefix)
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            i = j + 1
            out.append(" STR ")
        else:
            out.append(c)
            i += 1
    return "".join(out), macros


def tokens(code):
    for m in TOKEN.finditer(code):
        kind = m.lastgroup
        if kind == "ws":
            continue
        yield kind, m.group(kind)


def scan(text):
    """Answers (declared names, macros, identifiers used, using-directives)."""
    code, macros = strip(text)
    toks = list(tokens(code))
    idents = {v for k, v in toks if k == "id"}
    names = set()
    directives = []
    # The scopes open at this point: 'ns' (a namespace or extern "C"),
    # 'enum' (an enumeration's body) or 'other' (anything else).
    scopes = []
    ns_path = []
    stmt = []          # tokens of the current declaration at namespace scope
    pending = None     # kind of scope the next '{' opens
    i = 0
    while i < len(toks):
        kind, v = toks[i]
        in_ns = not scopes or scopes[-1] == "ns"
        if v == "{":
            if in_ns:
                first = [t for k, t in stmt if k == "id"]
                if stmt and stmt[0][1] == "namespace":
                    scopes.append("ns")
                    ns_path.append(first[1] if len(first) > 1 else "{anonymous}")
                    stmt = []
                    i += 1
                    continue
                if stmt and stmt[0][1] == "extern" and len(stmt) == 2 and stmt[1][1] == "STR":
                    scopes.append("ns")
                    ns_path.append("extern")
                    stmt = []
                    i += 1
                    continue
                record(stmt, names, True)
                lead = [t for k, t in stmt if k == "id"][:2]
                scopes.append("enum" if "enum" in lead else "other")
                stmt = []
            else:
                scopes.append("other")
            i += 1
            continue
        if v == "}":
            if scopes:
                if scopes.pop() == "ns":
                    ns_path.pop()
                # What follows a body at namespace scope starts afresh (a
                # variable declared after a class body goes unseen).
                stmt = []
            i += 1
            continue
        if scopes and scopes[-1] == "enum":
            # Enumerators: the first identifier of each item.
            prev = toks[i - 1][1] if i else ""
            if kind == "id" and prev in ("{", ","):
                names.add(v)
            i += 1
            continue
        if not in_ns:
            i += 1
            continue
        if v == ";":
            if stmt and stmt[0][1] == "using" and len(stmt) > 1 and stmt[1][1] == "namespace":
                directives.append("/".join(ns_path) + ":" + "".join(t for _, t in stmt[2:]))
            elif stmt:
                record(stmt, names, False)
            stmt = []
            i += 1
            continue
        stmt.append((kind, v))
        i += 1
    return names, macros, idents, directives


def record(stmt, names, has_body):
    """Adds the name the declaration in stmt introduces, if any."""
    if stmt and stmt[0][1] == "template":
        # Drop the template's parameter list.
        depth = 0
        for j, (_, t) in enumerate(stmt[1:], 1):
            depth += (t == "<") - (t == ">")
            if depth == 0:
                stmt = stmt[j + 1:]
                break
    if not stmt:
        return
    words = [t for k, t in stmt if k == "id"]
    if not words:
        return
    head = words[0]
    text = " ".join(t for _, t in stmt)
    if head in ("using", "typedef") or (head == "namespace" and "=" in text):
        # An alias may be declared again with the same meaning.
        if head == "using" and "=" not in text:
            # A using-declaration brings its last name into this scope; the
            # same declaration twice is harmless, anything else of that name
            # (an alias, a helper) clashes with it.
            names.add(words[-1] + "=" + text)
            return
        if head == "typedef":
            names.add(words[-1] + "=" + text)
        else:
            names.add(words[1] + "=" + text)
        return
    if head in ("friend", "static_assert"):
        return
    # Class, struct, union or enum: the name after the keyword.
    for j, w in enumerate(words):
        if w in ("class", "struct", "union", "enum"):
            rest = [x for x in words[j + 1:] if x not in ("class", "struct", "final", "alignas")]
            if rest and (has_body or "=" in text):
                names.add(rest[0])
            return
        if w not in ("static", "inline", "constexpr", "const", "template", "typename", "extern", "thread_local"):
            break
    # A function or variable, declared or defined (a declaration of one file
    # and a helper of the same name in another can make calls ambiguous):
    # the last plain identifier before the first '(', '=', '{' or '[' outside
    # template arguments.
    depth = 0
    last = None
    prev = None
    for k, t in stmt:
        if t == "<" and prev is not None and (prev[0] == "id" or prev[1] == "template"):
            depth += 1
        elif t == ">" and depth:
            depth -= 1
        elif depth == 0 and t in ("(", "=", "[", ":"):
            break
        elif depth == 0 and k == "id" and t not in KEYWORDS and (prev is None or prev[1] not in ("::", ".", "->")):
            last = t
        elif depth == 0 and k == "id" and prev is not None and prev[1] == "::":
            last = None  # a qualified name: a member defined out of line
        prev = (k, t)
    if last is None or last == "STR":
        return  # nothing named
    if last == words[0] and re.fullmatch(r"[A-Z0-9_]+", last):
        return  # a macro invocation, as TEST(Suite, Name)
    names.add(last)


INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)


class Headers:
    """The names declared by the project's headers a file reads, directly or
    not: in a batch, a file also sees the headers of the files before it."""

    def __init__(self, include_dirs):
        self.include_dirs = include_dirs
        self.cache = {}

    def resolve(self, name, here):
        for d in [here] + self.include_dirs:
            path = os.path.normpath(os.path.join(d, name))
            if os.path.isfile(path):
                return path
        return None  # a system header, or one generated elsewhere

    def names(self, text, here, seen=None):
        seen = set() if seen is None else seen
        out = set()
        for name in INCLUDE.findall(text):
            path = self.resolve(name, here)
            if path is None or path in seen:
                continue
            seen.add(path)
            if path not in self.cache:
                with open(path, encoding="utf-8", errors="replace") as f:
                    header = f.read()
                own = scan(header)
                self.cache[path] = (own[0] | own[1], header)
            own_names, header = self.cache[path]
            out |= own_names
            out |= self.names(header, os.path.dirname(path), seen)
        return out


def split_aliases(names):
    """Answers (the plain names, the aliases as {name: meaning})."""
    plain, aliases = set(), {}
    for n in names:
        if "=" in n:
            name, _, meaning = n.partition("=")
            aliases[name] = meaning
        else:
            plain.add(n)
    return plain, aliases


def clash(na, nb):
    pa, aa = split_aliases(na)
    pb, ab = split_aliases(nb)
    if pa & pb or pa & ab.keys() or pb & aa.keys():
        return True
    # The same alias may be declared twice only with the same meaning.
    return any(aa[n].split(None, 2)[2:] != ab[n].split(None, 2)[2:] for n in aa.keys() & ab.keys())


def conflicts(a, b):
    na, ma, ia, da, ha = a
    nb, mb, ib, db, hb = b
    if da != db:
        return True
    if clash(na, nb):
        return True
    if ma & ib or mb & ia:
        return True
    # A helper named like something a header of the other file declares.
    if clash(na, hb - ha) or clash(nb, ha - hb):
        return True
    return False


def partition(sources, batch_size, include_dirs=(), headers=None):
    info = {}
    alone = []
    headers = headers or Headers(list(include_dirs))
    for src in sources:
        with open(src, encoding="utf-8", errors="replace") as f:
            text = f.read()
        if ALONE_MARK in text:
            alone.append(src)
            continue
        names, macros, idents, directives = scan(text)
        seen = headers.names(text, os.path.dirname(src))
        info[src] = (names, macros, idents, tuple(sorted(directives)), seen)
    batches = []
    for src in sorted(info):
        for batch in batches:
            if len(batch) < batch_size and not any(conflicts(info[src], info[o]) for o in batch):
                batch.append(src)
                break
        else:
            batches.append([src])
    return batches + [[src] for src in sorted(alone)]


def write_if_changed(path, text):
    try:
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return
    except OSError:
        pass
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(tmp, path)


def main(argv):
    out_dir, prefix, batch_size, slots, stamp = argv[1:6]
    include_dirs = []
    sources = []
    for arg in argv[6:]:
        if arg.startswith("-I"):
            include_dirs.append(arg[2:])
        else:
            sources.append(arg)
    batch_size, slots = int(batch_size), int(slots)
    headers = Headers(include_dirs)
    batches = partition(sources, batch_size, include_dirs, headers)
    if len(batches) > slots:
        sys.exit(f"unity_batches.py: {len(batches)} batches for {slots} slots")
    os.makedirs(out_dir, exist_ok=True)
    for n in range(slots):
        lines = ["// Generated by cmake/unity_batches.py: one batch of the target's sources.\n"]
        if n < len(batches):
            lines += [f'#include "{src}"\n' for src in batches[n]]
        write_if_changed(os.path.join(out_dir, f"{prefix}_{n}.cpp"), "".join(lines))
    with open(stamp, "w", encoding="utf-8") as f:
        f.write(f"{len(batches)} batches\n")
    # The batching also depends on the headers the sources read.
    read = sorted(set(sources) | set(headers.cache))
    with open(os.path.join(os.path.dirname(stamp), "batches.d"), "w", encoding="utf-8") as f:
        f.write(os.path.abspath(stamp).replace(" ", "\\ ") + ": " +
                " \\\n  ".join(p.replace(" ", "\\ ") for p in read) + "\n")


if __name__ == "__main__":
    main(sys.argv)
