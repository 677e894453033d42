#!/usr/bin/env python3
"""Fails when two source files under the given folders define a class, struct or enum of the
same name in namespace kestrane (anonymous namespaces inside it included).

Every installer binary links all of src/, so two different classes of one name there are
merged by the linker without a word (one vtable wins); classes in anonymous namespaces are
counted as well, because a name that means two things misleads the reader just the same.
A header counts once, however many files include it.

Usage: check_odr.py <folder>...   Prints "odr: N passed, N failed" (one check per name).
"""
import re
import sys
from pathlib import Path

DEFINITION = re.compile(
    r"^\s*(?:template\s*<[^>]*>\s*)?(class|struct|enum\s+class|enum\s+struct|enum)\s+"
    r"(?:\[\[[^\]]*\]\]\s*)?([A-Za-z_]\w*)\s*(?:final\s*)?(?::[^;{]*)?\{",
    re.MULTILINE,
)


def strip_comments_and_strings(text):
    text = re.sub(r"//[^\n]*", "", text)
    text = re.sub(r"/\*.*?\*/", "", text, flags=re.DOTALL)
    text = re.sub(r'R"\((?:.|\n)*?\)"', '""', text)
    return re.sub(r'"(?:\\.|[^"\\\n])*"', '""', text)


def namespaces_at(text):
    """Returns (offset, scope) after each brace, the scope a list of namespace names with None
    for any other brace, so that a definition's scope can be looked up by its offset."""
    stack = []  # each entry: namespace name or None for other braces
    events = []
    for match in re.finditer(r"\bnamespace\s*([A-Za-z_][\w:]*)?\s*\{|[{}]", text):
        token = match.group(0)
        if token == "{":
            stack.append(None)
        elif token == "}":
            if stack:
                stack.pop()
        else:
            name = match.group(1) or "(anonymous)"
            stack.append(name)
        events.append((match.end(), list(stack)))
    return events


def definitions(path):
    text = strip_comments_and_strings(path.read_text(encoding="utf-8", errors="replace"))
    events = namespaces_at(text)
    found = []
    for match in DEFINITION.finditer(text):
        # The scope is the one in force at the name, before the definition's own brace.
        start = match.start(2)
        scope = []
        for offset, stack in events:
            if offset > start:
                break
            scope = stack
        if None in scope:
            continue  # a class nested in a class or function body
        if not scope or scope[0] != "kestrane":
            continue
        found.append(match.group(2))
    return found


def main(folders):
    owners = {}
    for folder in folders:
        for path in sorted(Path(folder).rglob("*")):
            if path.suffix not in (".h", ".cc"):
                continue
            for name in set(definitions(path)):
                owners.setdefault(name, []).append(str(path))
    failed = 0
    for name, files in sorted(owners.items()):
        if len(files) > 1:
            failed += 1
            print(f"FAILED {name}: defined in {', '.join(files)}")
    passed = len(owners) - failed
    print(f"odr: {passed} passed, {failed} failed")
    return 1 if failed or not owners else 0


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1:]))
