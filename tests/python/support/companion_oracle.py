"""An independent grouping for the companion's tests: a plain recursive walk
over clang.cindex, with Python's re for the path pattern (the tests use only
patterns that mean the same in ECMAScript)."""

import re
from collections import defaultdict


def node_key(cursor):
    location = cursor.location
    return (cursor.kind.name, cursor.spelling, location.line, location.column)


def oracle_by_path_and_line(root, main_path, pattern="", include_root=False):
    """{path: {line: sorted node keys}} of the accepted nodes below `root`."""

    def accepted(cursor):
        file = cursor.location.file
        if file is None:
            return None
        if file.name == main_path or (pattern and re.fullmatch(pattern, file.name)):
            return file.name
        return None

    found = defaultdict(lambda: defaultdict(list))

    def visit(cursor):
        path = accepted(cursor)
        if path is None:
            return
        found[path][cursor.location.line].append(node_key(cursor))
        for child in cursor.get_children():
            visit(child)

    if include_root:
        visit(root)
    else:
        for child in root.get_children():
            visit(child)
    return {
        path: {line: sorted(keys) for line, keys in lines.items()} for path, lines in found.items()
    }


CONTAINER_KINDS = {"NAMESPACE", "LINKAGE_SPEC", "UNEXPOSED_DECL"}


def top_level_declarations(unit):
    """[(cursor, qualified name)] of the unit's top-level declarations, looking
    through namespaces and extern "C" blocks, macro definitions included."""

    def walk(parent, prefix):
        for child in parent.get_children():
            kind = child.kind
            if kind.name in CONTAINER_KINDS:
                inner = prefix + child.spelling + "::" if kind.name == "NAMESPACE" else prefix
                yield from walk(child, inner)
            elif kind.is_declaration() or kind.name == "MACRO_DEFINITION":
                yield child, prefix + child.spelling

    return list(walk(unit.cursor, ""))
