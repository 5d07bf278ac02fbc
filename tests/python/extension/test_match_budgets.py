"""A path match that runs out of its step or nesting budget fails the whole
call with RuntimeError carrying the standard library's text for
error_complexity or error_stack; nothing is returned, and the next call
works. The patterns hold back-references, so the matcher cannot fall back on
remembering what it already explored."""

import subprocess

import pytest

import astsieve
from astsieve_cindex import cursor_tuple, translation_unit_handle

# The header's name runs through the matcher; the main file's, though just
# as costly, never does.
HEADER = "a" * 30 + ".h"
MAIN = "a" * 30 + ".c"
# Every way of splitting the run of a's is tried before the x fails:
# about 2**30 steps.
STEPS_PATTERN = r".*/((a|a)*)\1x"
# 700 lookaheads open at once, one inside the other.
NESTING_PATTERN = "(?=" * 700 + "(.)" + ")" * 700 + r".*\1.*"
HARMLESS_PATTERN = r".*/a+\.h"


@pytest.fixture(scope="module")
def regex_error_texts(tmp_path_factory):
    """The standard library's texts for the two codes, from a program built
    with the compiler that built the module."""
    directory = tmp_path_factory.mktemp("regex_texts")
    source = directory / "texts.cpp"
    source.write_text(
        "#include <cstdio>\n#include <regex>\n"
        "int main() {\n"
        "  std::puts(std::regex_error(std::regex_constants::error_complexity).what());\n"
        "  std::puts(std::regex_error(std::regex_constants::error_stack).what());\n"
        "}\n"
    )
    program = directory / "texts"
    subprocess.run(["g++", "-std=c++17", "-o", str(program), str(source)], check=True)
    complexity, stack = subprocess.run([str(program)], check=True, capture_output=True, text=True).stdout.splitlines()
    return {STEPS_PATTERN: complexity, NESTING_PATTERN: stack}


@pytest.fixture
def unit(parse):
    # The struct lies in the main file, its one field in the header.
    return parse({MAIN: f'struct outer {{\n#include "{HEADER}"\n}};\n', HEADER: "int inner;\n"}, MAIN)


def calls(unit):
    outer = cursor_tuple(next(unit.cursor.get_children()))
    return [
        (astsieve.get_path_to_lineno_to_nodes, translation_unit_handle(unit)),
        (astsieve.update_path_lineno, outer),
        (astsieve.get_path_to_nodes, outer),
    ]


@pytest.mark.parametrize("pattern", [STEPS_PATTERN, NESTING_PATTERN], ids=["steps", "nesting"])
def test_budget_exhaustion_fails_the_call_and_the_next_call_works(unit, pattern, regex_error_texts):
    main = unit.spelling
    for function, first in calls(unit):
        with pytest.raises(RuntimeError) as raised:
            function(first, pattern, main)
        assert str(raised.value) == regex_error_texts[pattern], function.__name__
        result = function(first, HARMLESS_PATTERN, main)
        assert any(path.endswith("/" + HEADER) for path in result), function.__name__
        # The budgets are per call and per attempt: the same call fails alike again.
        with pytest.raises(RuntimeError, match="^" + regex_error_texts[pattern] + "$"):
            function(first, pattern, main)


def test_main_file_is_accepted_without_a_match(unit):
    # The unit's top level lies in the main file alone (or in no file).
    main = unit.spelling
    for pattern in (STEPS_PATTERN, NESTING_PATTERN):
        assert list(astsieve.get_path_to_nodes(cursor_tuple(unit.cursor), pattern, main)) == [main]
