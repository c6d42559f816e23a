#!/usr/bin/env python3
"""The host documents name every code the program can write, and no code it cannot.

Every snake_case text literal of src/ (a failure code, a document key, a trace stage, a Windows
object name) must appear in docs/host-protocol.md. The codes of that document's failure table
must all occur in src/, and examples/host_example.py must explain exactly those codes.
"""

import ast
import pathlib
import re
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
PROTOCOL = ROOT / "docs" / "host-protocol.md"
EXAMPLE = ROOT / "examples" / "host_example.py"

SNAKE_CASE_LITERAL = re.compile(r'"([a-z][a-z0-9]*(?:_[a-z0-9]+)+)"')


def source_literals():
    literals = set()
    for path in (ROOT / "src").rglob("*"):
        if path.suffix in (".h", ".cpp"):
            literals.update(SNAKE_CASE_LITERAL.findall(path.read_text(encoding="utf-8")))
    return literals


def documented_failure_codes(document):
    """The first column of the tables under the heading "## Failure codes"."""
    section = document.split("\n## Failure codes\n", 1)[1].split("\n## ", 1)[0]
    codes = set()
    for row in re.findall(r"^\|([^|\n]*)\|", section, re.MULTILINE):
        codes.update(re.findall(r"`([a-z0-9_]+)`", row))
    return codes


def example_failure_codes():
    tree = ast.parse(EXAMPLE.read_text(encoding="utf-8"))
    for node in tree.body:
        if isinstance(node, ast.Assign) and node.targets[0].id == "FAILURE_CODES":
            return {key.value for key in node.value.keys}
    raise AssertionError("examples/host_example.py has no FAILURE_CODES")


class FailureCodesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.document = PROTOCOL.read_text(encoding="utf-8")
        cls.literals = source_literals()
        cls.codes = documented_failure_codes(cls.document)

    def test_every_code_key_and_stage_of_the_program_is_in_the_host_protocol(self):
        mentioned = set(re.findall(r"`([^`\n]+)`", self.document))
        words = {word for text in mentioned for word in re.findall(r"[a-z0-9_]+", text)}
        self.assertEqual(sorted(self.literals - words), [])

    def test_every_literal_shaped_like_a_code_is_in_the_failure_table(self):
        shaped = {literal for literal in self.literals
                  if re.search(r"_(failed|error|required|rejected|unavailable|closed)$", literal)
                  or literal.startswith("invalid_")}
        self.assertEqual(sorted(shaped - self.codes), [])

    def test_the_failure_table_lists_only_codes_the_program_has(self):
        self.assertIn("invalid_request", self.codes)
        self.assertEqual(sorted(self.codes - self.literals), [])

    def test_the_example_explains_exactly_the_documented_codes(self):
        example = example_failure_codes()
        self.assertEqual(sorted(self.codes - example), [])
        self.assertEqual(sorted(example - self.codes), [])


if __name__ == "__main__":
    unittest.main()
