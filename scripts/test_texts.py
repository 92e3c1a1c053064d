"""The string literals of the tests, for tools that feed them to the program (the
fuzzers' seeds, the page comparison of bench/same-pages)."""
import glob
import os
import re

RAW = r'R"(\w*)\((.*?)\)\1"'
QUOTED = r'(?<![R\w])"((?:[^"\\\n]|\\.)*)"'


def _unescape(text):
    return text.encode("latin-1", "backslashreplace").decode("unicode_escape").encode("latin-1").decode("utf-8")


def _texts(src, joined):
    """The literals of a source text, unescaped; with joined, pieces that stand side by side
    ("a\\n" "b\\n") are one text, as the compiler reads them."""
    out = [m[1] for m in re.findall(RAW, src, re.S)]
    runs = [m.group(0) for m in re.finditer(r"(?:%s\s*)+" % QUOTED, src)] if joined else None
    for pieces in ([re.findall(QUOTED, run) for run in runs] if joined else [[m] for m in re.findall(QUOTED, src)]):
        try:
            out.append("".join(_unescape(p) for p in pieces))
        except (UnicodeError, ValueError):
            pass
    return out


def _sources(pattern, root, suites):
    for suite in suites:
        for path in sorted(glob.glob(os.path.join(root, "tests", suite, "**", pattern), recursive=True)):
            yield open(path, encoding="utf-8").read()


def literals(pattern, root=".", suites=("unit",), joined=False):
    """String literals of the tests (of `suites`) whose file name matches pattern, unescaped."""
    return [t for src in _sources(pattern, root, suites) for t in _texts(src, joined)]


def test_blocks(pattern, root=".", suites=("unit", "cli")):
    """The literals of each test of the matching files, one list a test (what stands before
    the first test is a list of its own), side-by-side pieces joined."""
    blocks = []
    for src in _sources(pattern, root, suites):
        blocks += [_texts(part, True) for part in re.split(r"\n(?=TEST(?:_F)?\()", src)]
    return blocks


def markdown_texts(root="."):
    """The texts of the converter's unit tests that look like Markdown."""
    return [t for t in literals("pressling*", root) if len(t) >= 6 and re.search(r"[`$#*<\[|]", t)]
