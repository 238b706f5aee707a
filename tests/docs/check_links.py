#!/usr/bin/env python3
"""Checks the relative links of the README and the manual in docs/.

Every relative link or image must name a file or folder that exists, and a link with an #anchor
into a Markdown file must name one of that file's headings, spelled as GitHub spells its anchors.
Links to other sites are not fetched: the check must not depend on the network.

    check_links.py ROOT        check ROOT/README.md and ROOT/docs/*.md
    check_links.py --self-test check the checker on a page with known faults
"""

import re
import sys
import tempfile
import unicodedata
from pathlib import Path
from urllib.parse import unquote

FENCE = re.compile(r"^ {0,3}(`{3,}|~{3,})")
HEADING = re.compile(r"^ {0,3}(#{1,6})[ \t]+(.*?)(?:[ \t]+#+)?[ \t]*$")
# [text](target) and ![alt](target); the target may be <bracketed> and followed by a "title".
INLINE_LINK = re.compile(r"!?\[(?:[^\[\]]|\[[^\]]*\])*\]\(\s*(<[^>]*>|[^\s)]+)(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE_DEFINITION = re.compile(r"^ {0,3}\[[^\]]+\]:\s*(<[^>]*>|\S+)")
HTML_TARGET = re.compile(r"<(?:img|a)\b[^>]*?\b(?:src|href)\s*=\s*\"([^\"]*)\"", re.IGNORECASE)
HTML_ANCHOR = re.compile(r"<a\b[^>]*?\b(?:name|id)\s*=\s*\"([^\"]*)\"", re.IGNORECASE)
CODE_SPAN = re.compile(r"(`+)(.+?)\1")
SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:")


def slug(heading: str) -> str:
    """The anchor GitHub gives a heading: its text as rendered, lowercase, with every character
    other than letters, digits, marks, spaces, hyphens and underscores dropped, spaces as hyphens."""
    text = CODE_SPAN.sub(lambda m: m.group(2).strip(), heading)
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", text)  # a link shows its text
    text = re.sub(r"<[^>]+>", "", text)  # inline HTML shows nothing of its tags
    kept = []
    for ch in text.lower():
        if ch in " -_" or unicodedata.category(ch)[0] in "LNM":
            kept.append(ch)
    return "".join(kept).replace(" ", "-")


def prose_lines(text: str):
    """The lines outside fenced code blocks, with their numbers; code spans blanked out."""
    fence = None
    for number, line in enumerate(text.splitlines(), start=1):
        opener = FENCE.match(line)
        if fence:
            if opener and opener.group(1)[0] == fence[0] and len(opener.group(1)) >= len(fence):
                fence = None
            continue
        if opener:
            fence = opener.group(1)
            continue
        yield number, CODE_SPAN.sub(lambda m: " " * len(m.group(0)), line)


def anchors_of(path: Path) -> set:
    anchors, seen = set(), {}
    for _, line in prose_lines(path.read_text(encoding="utf-8")):
        anchors.update(HTML_ANCHOR.findall(line))
        match = HEADING.match(line)
        if not match:
            continue
        base = slug(match.group(2))
        # A repeated heading gets -1, -2, ... in the order the headings appear.
        count = seen.get(base, 0)
        seen[base] = count + 1
        anchors.add(base if count == 0 else f"{base}-{count}")
    return anchors


def targets_of(path: Path):
    for number, line in prose_lines(path.read_text(encoding="utf-8")):
        for match in INLINE_LINK.finditer(line):
            yield number, match.group(1)
        definition = REFERENCE_DEFINITION.match(line)
        if definition:
            yield number, definition.group(1)
        for target in HTML_TARGET.findall(line):
            yield number, target


def broken_links(pages, root: Path):
    """Every broken relative link of the pages, as (page, line, target, why)."""
    problems, anchor_cache = [], {}
    for page in pages:
        for number, target in targets_of(page):
            target = target.strip("<>")
            if not target or SCHEME.match(target) or target.startswith("//"):
                continue
            file_part, _, anchor = target.partition("#")
            file_part = unquote(file_part.split("?", 1)[0])
            if file_part.startswith("/"):
                destination = root / file_part.lstrip("/")
            elif file_part:
                destination = page.parent / file_part
            else:
                destination = page
            where = (str(page.relative_to(root)), number, target)
            if not destination.exists():
                problems.append(where + (f"no file {destination}",))
                continue
            if anchor and destination.suffix.lower() == ".md":
                key = destination.resolve()
                if key not in anchor_cache:
                    anchor_cache[key] = anchors_of(destination)
                if unquote(anchor) not in anchor_cache[key]:
                    problems.append(where + (f"no heading with the anchor #{anchor} in {destination.name}",))
    return problems


def pages_under(root: Path):
    pages = [root / "README.md"] + sorted((root / "docs").glob("*.md"))
    return [page for page in pages if page.is_file()]


def self_test() -> int:
    cases = [
        ("The Debian package and the service", "the-debian-package-and-the-service"),
        ("Bursts, floods and broken lines", "bursts-floods-and-broken-lines"),
        ("`orvanedb --console`: the console", "orvanedb---console-the-console"),
        ("Read quality (`Lcalidad`) and the alert mail", "read-quality-lcalidad-and-the-alert-mail"),
        ("Operación y *Configuración*", "operación-y-configuración"),
        ("What survives what?", "what-survives-what"),
        ("A [linked](x.md) word", "a-linked-word"),
        ("snake_case stays", "snake_case-stays"),
    ]
    failures = [f"slug({text!r}) = {slug(text)!r}, expected {want!r}" for text, want in cases if slug(text) != want]

    with tempfile.TemporaryDirectory() as folder:
        root = Path(folder)
        (root / "docs").mkdir()
        (root / "docs" / "shot.png").write_bytes(b"")
        (root / "docs" / "guide.md").write_text(
            "# Guide\n\n## Twice\n\n## Twice\n\n<a id=\"kept\"></a>\n\n"
            "[top](../README.md#start) [second](#twice-1) [html](#kept)\n", encoding="utf-8")
        (root / "README.md").write_text(
            "# Start\n\n![shot](docs/shot.png) [guide](docs/guide.md#twice) [web](https://example.org/x)\n"
            "[gone](docs/gone.md) ![gone](docs/gone.png) [bad anchor](docs/guide.md#thrice)\n"
            "`[code](docs/none.md)`\n\n```\n[fenced](docs/none.md)\n```\n\n"
            "[reference]: docs/missing.md\n<img src=\"docs/missing.png\">\n[self](#nowhere)\n",
            encoding="utf-8")
        found = sorted(problem[:3] for problem in broken_links(pages_under(root), root))
        expected = sorted([
            ("README.md", 4, "docs/gone.md"), ("README.md", 4, "docs/gone.png"),
            ("README.md", 4, "docs/guide.md#thrice"), ("README.md", 11, "docs/missing.md"),
            ("README.md", 12, "docs/missing.png"), ("README.md", 13, "#nowhere"),
        ])
        if found != expected:
            failures.append(f"broken links found {found}, expected {expected}")

    for failure in failures:
        print(failure, file=sys.stderr)
    return 1 if failures else 0


def main(argv) -> int:
    if argv[1:] == ["--self-test"]:
        return self_test()
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    root = Path(argv[1]).resolve()
    pages = pages_under(root)
    if not pages:
        print(f"no README.md or docs/*.md under {root}", file=sys.stderr)
        return 2
    problems = broken_links(pages, root)
    for page, line, target, why in problems:
        print(f"{page}:{line}: {target}: {why}", file=sys.stderr)
    print(f"{len(pages)} pages checked, {len(problems)} broken links")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
