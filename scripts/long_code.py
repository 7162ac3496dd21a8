#!/usr/bin/env python3
"""Lists functions and files in src/ longer than a reader can take in at once.

Usage: scripts/long_code.py [--function-lines N] [--file-lines N] [paths...]

A function is counted from the line of its opening brace to the line of its closing brace, at
namespace or class level (lambdas and local classes count towards the function around them).
Comments and string literals are blanked first, so braces inside them do not count. It is a
reading aid, not a gate: it prints what is over the limits and exits 0.
"""

import argparse
import pathlib
import re
import sys

CONTAINER = re.compile(r"\b(namespace|class|struct|union|enum)\b[^;(){}]*$|\bextern\s+\"C\"\s*$")


def blank_comments_and_strings(text):
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif text.startswith('R"', i):
            m = re.match(r'R"([^(]*)\(', text[i:])
            end = text.find(")" + m.group(1) + '"', i) if m else -1
            j = n if end < 0 else end + len(m.group(1)) + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(c + " " * (j - i - 2) + (c if j - i >= 2 else ""))
            i = j
        else:
            out.append(c)
            i += 1
    return "".join(out)


def functions(text):
    """Yields (first line, last line, header) of each outermost function body."""
    clean = blank_comments_and_strings(text)
    stack = []  # "container" or "function" or "block"
    line = 1
    start = 0
    header_start = 0
    for i, c in enumerate(clean):
        if c == "\n":
            line += 1
        elif c == "{":
            before = clean[header_start:i]
            in_function = "function" in stack
            if not in_function and CONTAINER.search(before.strip().split(";")[-1]):
                stack.append("container")
            elif not in_function and re.search(r"\)[^;{}]*$", before):
                stack.append("function")
                start = line
                header = " ".join(before.split())[-100:]
            else:
                stack.append("block")
            header_start = i + 1
        elif c == "}":
            kind = stack.pop() if stack else "block"
            if kind == "function" and "function" not in stack:
                yield start, line, header
            header_start = i + 1
        elif c == ";" and "function" not in stack:
            header_start = i + 1
    return


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--function-lines", type=int, default=120)
    parser.add_argument("--file-lines", type=int, default=600)
    parser.add_argument("paths", nargs="*", default=["src"])
    args = parser.parse_args()
    files = []
    for p in map(pathlib.Path, args.paths):
        files += sorted(p.rglob("*")) if p.is_dir() else [p]
    for f in files:
        if f.suffix not in (".cpp", ".h", ".cc", ".hpp"):
            continue
        text = f.read_text(errors="replace")
        lines = text.count("\n")
        if lines > args.file_lines:
            print(f"{f}: file of {lines} lines")
        for first, last, header in functions(text):
            if last - first + 1 > args.function_lines:
                print(f"{f}:{first}: function of {last - first + 1} lines: ...{header}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
