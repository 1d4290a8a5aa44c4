"""Reading a manual page as its reader sees it, for the tests that compare a program's --help with
its page: troff's escapes undone, a font macro's words joined, the .TP tags of a section."""

import re


def deroff(line):
    line = line.replace("\\-", "-").replace("\\(aq", "'").replace("\\e", "\\")
    return re.sub(r"\\f(?:\(..|.)", "", line)


def macro_text(line):
    """A line as the reader sees it: a font macro's words joined as troff joins them."""
    line = deroff(line)
    if not line.startswith("."):
        return line
    macro, _, rest = line.partition(" ")
    words = [a if a else b for a, b in re.findall(r'"([^"]*)"|(\S+)', rest)]
    return (" " if macro in (".B", ".I", ".SM") else "").join(words)


def man_sections(text):
    """{section name: its lines}."""
    sections, name = {}, ""
    for line in text.splitlines():
        if line.startswith(".SH "):
            name = line[4:].strip().strip('"')
        sections.setdefault(name, []).append(line)
    return sections


def tag_lines(lines):
    """The text of every .TP tag in these lines."""
    return [macro_text(line).strip() for previous, line in zip(lines, lines[1:]) if previous.strip() == ".TP"]
