"""The string literals of the unit tests, for tools that feed them to the program
(the fuzzers' seeds, the page comparison of bench/same-pages)."""
import glob
import os
import re


def literals(pattern, root="."):
    """String literals of the unit tests whose file name matches pattern, unescaped."""
    out = []
    for path in sorted(glob.glob(os.path.join(root, "tests", "unit", "**", pattern), recursive=True)):
        src = open(path, encoding="utf-8").read()
        out += [m[1] for m in re.findall(r'R"(\w*)\((.*?)\)\1"', src, re.S)]
        for m in re.findall(r'(?<![R\w])"((?:[^"\\\n]|\\.)*)"', src):
            try:
                out.append(m.encode("latin-1", "backslashreplace").decode("unicode_escape").encode("latin-1").decode("utf-8"))
            except (UnicodeError, ValueError):
                pass
    return out


def markdown_texts(root="."):
    """The texts of the converter's unit tests that look like Markdown."""
    return [t for t in literals("pressling*", root) if len(t) >= 6 and re.search(r"[`$#*<\[|]", t)]
