import collections.abc
import gc
import pathlib
import re
import weakref

import pytest

import astsieve
import astsieve_cindex as companion
from companion_oracle import node_key, oracle_by_path_and_line

HEADER = "#define TWICE(x) ((x) * 2)\nstruct pair { int left; int right; };\n"
OTHER = "static int other_value = 3;\n"
MAIN = """#include "inc/pair.h"
#include "other/other.h"
int twice_left(struct pair p) {
  int unused = 0; return TWICE(p.left);
}
int negative = -1;
"""


def parse(cindex, tmp_path):
    (tmp_path / "inc").mkdir()
    (tmp_path / "other").mkdir()
    (tmp_path / "inc" / "pair.h").write_text(HEADER)
    (tmp_path / "other" / "other.h").write_text(OTHER)
    (tmp_path / "main.c").write_text(MAIN)
    options = cindex.TranslationUnit.PARSE_DETAILED_PROCESSING_RECORD
    return cindex.Index.create().parse(str(tmp_path / "main.c"), options=options)


@pytest.fixture
def unit(cindex, tmp_path):
    return parse(cindex, tmp_path)


def keys(result):
    return {
        path: {line: sorted(map(node_key, nodes)) for line, nodes in lines.items()}
        for path, lines in result.items()
    }


def function(unit, name):
    return next(c for c in unit.cursor.get_children() if c.spelling == name and c.is_definition())


def test_whole_unit_matches_the_oracle_and_yields_live_cindex_cursors(unit):
    pattern = ".*/inc/.*"
    result = companion.get_path_to_lineno_to_nodes(unit, pattern)
    assert keys(result) == oracle_by_path_and_line(unit.cursor, unit.spelling, pattern)
    assert len(result) == 2  # main.c and inc/pair.h; other/other.h is rejected
    for path, lines in result.items():
        for line, nodes in lines.items():
            for node in nodes:
                assert (node.location.file.name, node.location.line) == (path, line)
                assert node.translation_unit is unit


def test_subtree_and_direct_children_match_the_oracle(unit):
    twice_left = function(unit, "twice_left")
    subtree = companion.update_path_lineno(twice_left)
    assert keys(subtree) == oracle_by_path_and_line(twice_left, unit.spelling, include_root=True)
    assert subtree[unit.spelling][3][0] == twice_left
    children = companion.get_path_to_nodes(unit, ".*/other/.*")
    expected = {}
    for child in unit.cursor.get_children():
        path = child.location.file.name if child.location.file else ""
        if path == unit.spelling or "/other/" in path:
            expected.setdefault(path, []).append(child)
    assert children == expected and len(expected) == 2


def test_main_path_and_pattern_forms_agree(unit):
    main = unit.spelling
    expected = keys(companion.get_path_to_lineno_to_nodes(unit, "", main))
    assert expected and list(expected) == [main]
    for pattern, main_path in [
        (b"", main.encode()),
        ("", pathlib.Path(main)),
        ("", None),
        (main.encode(), "x"),
    ]:
        assert keys(companion.get_path_to_lineno_to_nodes(unit, pattern, main_path)) == expected
    assert companion.get_path_to_lineno_to_nodes(unit, "", "elsewhere.c") == {}


def test_conversions_round_trip_and_agree_with_the_extension(unit):
    handle = companion.translation_unit_handle(unit)
    raw = astsieve.get_path_to_lineno_to_nodes(handle, "", unit.spelling)
    converted = companion.get_path_to_lineno_to_nodes(unit)
    for path, lines in raw.items():
        for line, nodes in lines.items():
            assert [companion.cursor_tuple(c) for c in converted[path][line]] == nodes
            for node in nodes:
                cursor = companion.cursor_from_tuple(node, unit)
                assert companion.cursor_tuple(cursor) == node
                assert cursor.location.line == line


def test_result_cursors_keep_their_unit_alive(cindex, tmp_path):
    unit = parse(cindex, tmp_path)
    unit_ref = weakref.ref(unit)
    nodes = companion.get_path_to_nodes(unit)[unit.spelling]
    del unit
    gc.collect()
    assert unit_ref() is not None
    assert [n.spelling for n in nodes if n.kind.is_declaration()] == ["twice_left", "negative"]
    # One Cursor alone keeps the unit and its result's records alive.
    negative = nodes[-1]
    del nodes
    gc.collect()
    assert unit_ref() is not None
    assert (negative.spelling, negative.location.line) == ("negative", 6)
    del negative
    gc.collect()
    assert unit_ref() is None


def test_result_lists_are_read_only_views_that_read_like_lists(unit, cindex):
    result = companion.update_path_lineno(function(unit, "twice_left"))
    view = result[unit.spelling][4]  # int unused = 0; return TWICE(p.left);
    cursors = list(view)
    assert len(view) == len(cursors) > 2 and isinstance(view, collections.abc.Sequence)
    assert all(type(cursor) is cindex.Cursor for cursor in view)
    assert view == cursors and cursors == view and view == view[:]
    assert view != cursors[::-1] and view != cursors[:-1] and view != tuple(cursors)
    assert view[-1] == cursors[-1] and view[1].hash == cursors[1].hash
    assert view[1:3] == cursors[1:3] and list(reversed(view)) == cursors[::-1]
    assert view.index(cursors[2]) == 2 and view.count(cursors[0]) == 1 and cursors[1] in view
    assert companion.to_lists(result) == result
    assert all(type(nodes) is list for nodes in companion.to_lists(result)[unit.spelling].values())
    with pytest.raises(IndexError):
        view[len(view)]
    with pytest.raises(ValueError):
        view.index(unit.cursor)
    with pytest.raises(TypeError):
        view[0] = cursors[0]
    with pytest.raises(TypeError):
        hash(view)
    with pytest.raises(TypeError):
        type(view)()


def test_bad_arguments_raise_clear_errors(unit, cindex):
    twice_left = function(unit, "twice_left")
    with pytest.raises(TypeError, match="TranslationUnit"):
        companion.get_path_to_lineno_to_nodes(twice_left)
    with pytest.raises(TypeError, match="path pattern"):
        companion.get_path_to_nodes(unit, 3)
    with pytest.raises(TypeError, match="main path"):
        companion.update_path_lineno(twice_left, "", 7)
    with pytest.raises(ValueError, match="no translation unit"):
        companion.get_path_to_nodes(cindex.Cursor())
    with pytest.raises(ValueError, match="three data words"):
        companion.cursor_from_tuple((1, 0, [0, 0]), unit)
    with pytest.raises(RuntimeError) as engine_error:
        astsieve.get_path_to_lineno_to_nodes(0, "(", "")
    with pytest.raises(RuntimeError, match=re.escape(str(engine_error.value))):
        companion.update_path_lineno(twice_left, "(")


def test_queries_leave_the_cyclic_collector_as_they_found_it(unit):
    twice_left = function(unit, "twice_left")
    queries = [
        lambda pattern: companion.get_path_to_lineno_to_nodes(unit, pattern),
        lambda pattern: companion.update_path_lineno(twice_left, pattern),
        lambda pattern: companion.get_path_to_nodes(unit, pattern),
    ]
    try:
        for query in queries:
            for enabled in (True, False):
                (gc.enable if enabled else gc.disable)()
                assert query("")
                assert gc.isenabled() is enabled
                with pytest.raises(RuntimeError):
                    query("(")
                assert gc.isenabled() is enabled
    finally:
        gc.enable()
