"""krt42 --help against the places that repeat it: the usage is made from krt42's option and command
tables, so its manual page, its bash completion and the README must follow it.

- The manual page has a .TP entry in COMMANDS for every command and in OPTIONS for every option
  (written as --help writes its left column: "--port P", "-o, --output FILE"), and names no option
  that --help lacks.
- The completion offers exactly the commands, and after each command exactly the options its usage
  line names (with "--" where the command takes words after the options).
- The README shows every command at least once as `krt42 COMMAND`, and names no option or command
  that --help lacks.

KRT42 names the program."""

import os
import re
import subprocess
import sys
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[3]
sys.path.insert(0, str(ROOT / "tests" / "support"))

from manpage import macro_text, man_sections, tag_lines  # noqa: E402
MAN_PAGE = ROOT / "docs" / "man" / "krt42.1"
COMPLETION = ROOT / "packaging" / "bash-completion" / "krt42"
README = ROOT / "README.md"
OPTION = re.compile(r"(?<![\w-])--[a-z][a-z-]*[a-z](?![\w-])")


def tags(lines):
    return set(tag_lines(lines))


class Help:
    """The commands with their usage (each command's lines up to the next command, wrapped lines and
    summary included: a summary names no option), and the options' left column, as --help prints them."""

    def __init__(self, text):
        self.commands, self.options = {}, []
        part, name = "commands", None
        for line in text.splitlines():
            if line == "options:":
                part = "options"
            elif not line.strip():
                if part == "options" and self.options:
                    break
                name = None
            elif part == "commands" and line.startswith("  ") and not line.startswith("   "):
                name = line.split()[0]
                self.commands[name] = line[2 + len(name):]
            elif part == "commands" and name:
                self.commands[name] += " " + line.strip()
            elif part == "options" and line.startswith("  -"):
                self.options.append(re.split(r"\s{2,}", line.strip())[0])

    def options_of(self, command):
        usage = self.commands[command]
        return set(OPTION.findall(usage)) | ({"-o"} if "-o FILE" in usage else set())

    def names(self):
        names = set()
        for entry in self.options:
            for spelling in entry.split(", "):
                names.add(spelling.split()[0])
        return names


def completion_options(text):
    """{command: set of words} from the completion's `case $command in ... ;;` table."""
    table = {}
    for m in re.finditer(r'^\s+("?)([a-z]*)\1\) options="([^"]*)" ;;', text, re.M):
        table[m.group(2)] = set(m.group(3).split())
    return table


class OptionDrift(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        done = subprocess.run([os.environ["KRT42"], "--help"], capture_output=True, text=True, timeout=30)
        cls.help = Help(done.stdout)
        cls.usage = done.stdout

    def test_the_manual_page_has_every_command_and_option_and_no_other(self):
        sections = man_sections(MAN_PAGE.read_text())
        commands = {t.split()[0] for t in tags(sections["COMMANDS"])}
        self.assertEqual(commands, set(self.help.commands), "commands in the manual's COMMANDS")
        options = tags(sections["OPTIONS"])
        missing = [o for o in self.help.options if o not in options]
        self.assertEqual(missing, [], "options of --help without their entry in the manual's OPTIONS")
        named = set()
        for line in MAN_PAGE.read_text().splitlines():
            text = macro_text(line)
            # Comments, and the command lines of other programs (systemctl, ssh, krt42sim).
            if line.startswith('.\\"') or re.search(r"\b(systemctl|ssh|krt42sim)\b", text):
                continue
            named.update(OPTION.findall(text))
        self.assertEqual(named - self.help.names(), set(), "options the manual names that --help lacks")

    def test_the_completion_offers_what_each_usage_line_names(self):
        text = COMPLETION.read_text()
        offered = completion_options(text)
        listed = re.search(r'compgen -W "([a-z ]+)" -- "\$cur"\)\)\n\s+elif', text)
        self.assertIsNotNone(listed, "the completion's list of commands")
        self.assertEqual(set(listed.group(1).split()), set(self.help.commands))
        for command in self.help.commands:
            self.assertIn(command, offered, f"the completion has no options for {command}")
            self.assertEqual(offered[command] - {"--"}, self.help.options_of(command),
                             f"the completion's options of {command}")

    def test_the_readme_names_nothing_that_krt42_lacks(self):
        text = README.read_text()
        shown = set(re.findall(r"\bkrt42 ([a-z]+)\b", text))
        self.assertEqual(set(self.help.commands) - shown, set(), "commands the README never shows")
        for line in text.splitlines():
            if re.search(r"\bkrt42 [a-z]", line) and "krt42sim" not in line:
                for option in OPTION.findall(line):
                    self.assertIn(option, self.help.names(), f"the README's {line.strip()!r}")


if __name__ == "__main__":
    unittest.main(verbosity=2)
