import ctypes

import astsieve


def test_main_file_nodes_grouped_by_line(cindex, tmp_path):
    source = tmp_path / "m.c"
    source.write_text("int a;\nint b;\n")
    unit = cindex.TranslationUnit.from_source(str(source))
    result = astsieve.get_path_to_lineno_to_nodes(ctypes.cast(unit.obj, ctypes.c_void_p).value, "", str(source))
    assert set(result) == {str(source)}
    assert sorted(result[str(source)]) == [1, 2]
