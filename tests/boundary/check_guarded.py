#!/usr/bin/env python3
"""Every function that the public headers export runs its whole body through
guarded(), so that no exception can reach a C caller whatever the body does.

Usage: check_guarded.py LIBRARY_DIR [MACRO]
Reads the declarations marked MACRO (VORPIX_API) in LIBRARY_DIR/*.h and finds
each definition in LIBRARY_DIR/*.cpp and *.hpp; a body must consist of one
statement, a call of guarded()."""
import pathlib
import re
import sys

directory = pathlib.Path(sys.argv[1])
macro = sys.argv[2] if len(sys.argv) > 2 else "VORPIX_API"


def without_comments(text):
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    return re.sub(r"//[^\n]*", " ", text)


declared = set()
for header in directory.glob("*.h"):
    if header.name.endswith("_export.h"):
        continue
    text = without_comments(header.read_text())
    for match in re.finditer(macro + r"\b([^;{]*?)\b([A-Za-z_]\w*)\s*\(", text):
        declared.add(match.group(2))
if not declared:
    sys.exit(f"no function marked {macro} in {directory}")


def body_after(text, brace):
    """The text between the brace at index brace and its partner."""
    depth = 0
    for i in range(brace, len(text)):
        if text[i] == "{":
            depth += 1
        elif text[i] == "}":
            depth -= 1
            if depth == 0:
                return text[brace + 1:i]
    return None


guard = re.compile(r"^\s*(return\s+)?(vorpix::)?guarded\s*\(")
defined = {}
failures = []
for source in sorted(list(directory.glob("*.cpp")) + list(directory.glob("*.hpp"))):
    text = without_comments(source.read_text())
    for name in declared:
        # A definition: the name at the start of a declarator, its parameter
        # list, then a body.
        for match in re.finditer(r"(?m)^[^\n;{}()#]*[\s*&]" + name + r"\s*\(([^;{}]*?)\)\s*(noexcept\s*)?\{",
                                 text):
            body = body_after(text, match.end() - 1)
            defined.setdefault(name, []).append(source.name)
            call = guard.match(body)
            rest = None
            if call:
                # What follows the call of guarded() up to the body's end.
                depth, i = 1, call.end()
                while i < len(body) and depth:
                    depth += {"(": 1, ")": -1}.get(body[i], 0)
                    i += 1
                rest = body[i:].strip()
            if rest != ";":
                failures.append(f"{source.name}: {name} does not run its whole body through guarded()")

for name in sorted(declared - defined.keys()):
    failures.append(f"{name}: declared with {macro} but no definition found")
for name, places in sorted(defined.items()):
    if len(places) > 1:
        failures.append(f"{name}: defined more than once ({', '.join(places)})")

if failures:
    print("\n".join(sorted(failures)))
    sys.exit(1)
print(f"{len(declared)} exported functions, each guarded")
