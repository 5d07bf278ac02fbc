"""The oracle's grouping as the companion's tests compare it: each line's
nodes as sorted keys, and the declarations a project command reports."""

import os

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
TAG_KEYWORDS = {"STRUCT_DECL": "struct", "UNION_DECL": "union", "CLASS_DECL": "class", "ENUM_DECL": "enum"}


def own_name(cursor, directory=""):
    """A declaration's name in its scope: an anonymous namespace or type by
    what it is (a type with its file joined to `directory`, and line), a
    type named by a typedef by that name."""
    kind = cursor.kind.name
    if kind == "NAMESPACE":
        return cursor.spelling or "(anonymous namespace)"
    if kind not in TAG_KEYWORDS:
        return cursor.spelling
    if not cursor.is_anonymous():
        # libclang before 16 spells a type named by a typedef "".
        name = cursor.spelling or cursor.type.spelling.rpartition("::")[2]
        if name.isidentifier():
            return name
    location = cursor.location
    path = os.path.join(directory, location.file.name)
    return f"(anonymous {TAG_KEYWORDS[kind]} at {path}:{location.line})"


def qualified_name(cursor, directory=""):
    """The name qualified by every namespace and class it belongs to, as its
    semantic parents give them; extern "C" blocks add none."""
    names = [own_name(cursor, directory)]
    scope = cursor.semantic_parent
    while scope is not None and scope.kind.name != "TRANSLATION_UNIT":
        if scope.kind.name not in CONTAINER_KINDS - {"NAMESPACE"}:
            names.append(own_name(scope, directory))
        scope = scope.semantic_parent
    return "::".join(reversed(names))


def top_level_declarations(unit, directory=""):
    """[(cursor, qualified name)] of the unit's top-level declarations, looking
    through namespaces and extern "C" blocks, macro definitions included."""

    def declarations(parent):
        for child in parent.get_children():
            kind = child.kind
            if kind.name in CONTAINER_KINDS:
                yield from declarations(child)
            elif kind.is_declaration() or kind.name == "MACRO_DEFINITION":
                yield child, qualified_name(child, directory)

    return list(declarations(unit.cursor))
