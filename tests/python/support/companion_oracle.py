"""The oracle's grouping as the companion's tests compare it: each line's
nodes as sorted keys, and the declarations a project command reports."""

from oracle import FileFilter, walk


def node_key(cursor):
    location = cursor.location
    return (cursor.kind.name, cursor.spelling, location.line, location.column)


def oracle_by_path_and_line(root, main_path, pattern="", include_root=False):
    """{path: {line: sorted node keys}} of the accepted nodes below `root`."""
    roots = [root] if include_root else list(root.get_children())
    found = walk(roots, FileFilter(pattern, main_path), node_key)
    return {
        path: {line: sorted(keys) for line, keys in lines.items()} for path, lines in found.items()
    }


CONTAINER_KINDS = {"NAMESPACE", "LINKAGE_SPEC", "UNEXPOSED_DECL"}


def top_level_declarations(unit):
    """[(cursor, qualified name)] of the unit's top-level declarations, looking
    through namespaces and extern "C" blocks, macro definitions included."""

    def declarations(parent, prefix):
        for child in parent.get_children():
            kind = child.kind
            if kind.name in CONTAINER_KINDS:
                inner = prefix + child.spelling + "::" if kind.name == "NAMESPACE" else prefix
                yield from declarations(child, inner)
            elif kind.is_declaration() or kind.name == "MACRO_DEFINITION":
                yield child, prefix + child.spelling

    return list(declarations(unit.cursor, ""))
