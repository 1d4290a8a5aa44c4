"""krt42sim --help against its manual page and its read-me: the usage is made from the simulator's
switch table, so what the two documents say must follow it.

- Every option of --help has a .TP entry in the manual page's OPTIONS, every command one in its
  COMMANDS, each tag written as --help writes it ("--short-array N", "bad-crc on|off"; one tag may
  hold several, separated by ", "), and the page has no entry that --help lacks.
- No option named anywhere in the page or the read-me is missing from --help (words on a line run
  as "krt42 ..." belong to the other program).

KRT_SIM names the simulator."""

import os
import re
import subprocess
import sys
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[3]
sys.path.insert(0, str(ROOT / "tests" / "support"))

from manpage import macro_text, man_sections, tag_lines  # noqa: E402
MAN_PAGE = ROOT / "docs" / "man" / "krt42sim.1"
README = ROOT / "simulator" / "README.md"
OPTION = re.compile(r"(?<![\w-])--[a-z][a-z-]*[a-z](?![\w-])")
OTHER_PROGRAM = re.compile(r"^krt42\s")


def usage_entries(text):
    """{"Options": {...}, "Commands": {...}}, each entry as its left column: "--split N"."""
    sections, current = {}, None
    for line in text.splitlines():
        if line in ("Options:", "Commands:"):
            current = sections.setdefault(line[:-1], set())
        elif current is not None and (m := re.match(r"  (\S+(?: \S+)*)", line)):
            current.add(m.group(1))
    return sections


def tags(lines):
    """The entries of every .TP tag in these lines, split at ", "."""
    return {e.strip() for tag in tag_lines(lines) for e in tag.split(", ")}


def options_named(lines):
    named = set()
    for line in lines:
        text = macro_text(line).strip()
        text = re.sub(r"`krt42 [^`]*`", "", text)
        if not OTHER_PROGRAM.match(text):
            named.update(OPTION.findall(text))
    return named


class OptionDrift(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        done = subprocess.run([os.environ["KRT_SIM"], "--help"], capture_output=True, text=True, timeout=30)
        assert done.returncode == 0, f"krt42sim --help ended with {done.returncode}: {done.stderr}"
        cls.usage = usage_entries(done.stdout)
        cls.options = {entry.split()[0] for entry in cls.usage.get("Options", ())}
        cls.page = man_sections(MAN_PAGE.read_text(encoding="utf-8"))

    def test_help_lists_options_and_commands(self):
        self.assertIn("--link PATH", self.usage.get("Options", ()))
        self.assertIn("--help", self.options)
        self.assertIn("quit", self.usage.get("Commands", ()))

    def test_manual_page_has_an_entry_for_each_option_and_command_and_no_other(self):
        for usage_section, page_section in (("Options", "OPTIONS"), ("Commands", "COMMANDS")):
            with self.subTest(page_section):
                described = tags(self.page.get(page_section, []))
                help_entries = self.usage[usage_section]
                self.assertEqual(sorted(help_entries - described), [],
                                 f"krt42sim.1 {page_section} lacks these entries of --help")
                self.assertEqual(sorted(described - help_entries), [],
                                 f"krt42sim.1 {page_section} has entries that --help lacks")

    def test_manual_page_and_readme_name_no_option_that_help_lacks(self):
        page_lines = [line for lines in self.page.values() for line in lines]
        readme_lines = README.read_text(encoding="utf-8").splitlines()
        for name, lines in (("krt42sim.1", page_lines), ("README.md", readme_lines)):
            with self.subTest(name):
                named = options_named(lines)
                self.assertGreater(len(named), 2, f"{name} names hardly any option")
                self.assertEqual(sorted(named - self.options), [], f"{name} names options that --help lacks")


if __name__ == "__main__":
    unittest.main()
