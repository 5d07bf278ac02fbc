"""The module object and its functions as the interpreter sees them."""

import ctypes
import os
import subprocess
import sys
import types

import pytest

import astsieve

NAMES = ["get_path_to_lineno_to_nodes", "update_path_lineno", "get_path_to_nodes"]

CURSOR = "tuple[int, int, Annotated[list[int], FixedSize(3)]]"
NODES = f"list[{CURSOR}]"
SIGNATURES = {
    "get_path_to_lineno_to_nodes": f"(arg0: int, arg1: str, arg2: str) -> dict[str, dict[int, {NODES}]]",
    "update_path_lineno": f"(arg0: {CURSOR}, arg1: str, arg2: str) -> dict[str, dict[int, {NODES}]]",
    "get_path_to_nodes": f"(arg0: {CURSOR}, arg1: str, arg2: str) -> dict[str, {NODES}]",
}


class PyModuleDef(ctypes.Structure):
    _fields_ = [
        ("ob_refcnt", ctypes.c_ssize_t),
        ("ob_type", ctypes.c_void_p),
        ("m_init", ctypes.c_void_p),
        ("m_index", ctypes.c_ssize_t),
        ("m_copy", ctypes.c_void_p),
        ("m_name", ctypes.c_char_p),
        ("m_doc", ctypes.c_char_p),
        ("m_size", ctypes.c_ssize_t),
        ("m_methods", ctypes.c_void_p),
        ("m_slots", ctypes.c_void_p),
        ("m_traverse", ctypes.c_void_p),
        ("m_clear", ctypes.c_void_p),
        ("m_free", ctypes.c_void_p),
    ]


def test_module_object():
    assert astsieve.__name__ == "astsieve"
    assert astsieve.__doc__ is None
    assert [name for name in vars(astsieve) if not name.startswith("__")] == NAMES


def test_module_definition_is_single_phase_without_method_table():
    get_def = ctypes.pythonapi.PyModule_GetDef
    get_def.argtypes = [ctypes.py_object]
    get_def.restype = ctypes.POINTER(PyModuleDef)
    definition = get_def(astsieve).contents
    assert definition.m_name == b"astsieve"
    assert definition.m_doc is None
    assert definition.m_size == -1
    assert not any((definition.m_methods, definition.m_slots, definition.m_traverse, definition.m_clear, definition.m_free))


def test_functions_carry_names_module_and_rendered_signature():
    for name in NAMES:
        function = getattr(astsieve, name)
        assert isinstance(function, types.BuiltinFunctionType)
        assert function.__name__ == name
        assert function.__module__ == "astsieve"
        assert function.__doc__ == name + SIGNATURES[name] + "\n"


def test_mismatch_message_names_function_signature_and_arguments():
    with pytest.raises(TypeError) as raised:
        astsieve.get_path_to_nodes([1, 2], "p", b"m")
    assert str(raised.value) == (
        "get_path_to_nodes(): incompatible function arguments. The following argument types are supported:\n"
        f"    1. {SIGNATURES['get_path_to_nodes']}\n\nInvoked with: [1, 2], 'p', b'm'"
    )


def test_each_call_returns_a_new_result():
    first = astsieve.get_path_to_lineno_to_nodes(0, "", "")
    second = astsieve.get_path_to_lineno_to_nodes(0, "", "")
    assert first == second == {} and first is not second


def test_only_the_entry_point_is_exported():
    symbols = subprocess.run(
        ["nm", "-D", "--defined-only", astsieve.__file__], check=True, capture_output=True, text=True
    ).stdout.split()
    assert symbols[1::3] == ["T"] and symbols[2::3] == ["PyInit_astsieve"]


@pytest.fixture(scope="module")
def version_shim(tmp_path_factory):
    """A preloadable library whose Py_GetVersion returns $FAKE_PY_VERSION."""
    directory = tmp_path_factory.mktemp("shim")
    source = directory / "shim.c"
    source.write_text(
        "#include <stdlib.h>\n"
        'const char *Py_GetVersion(void) { return getenv("FAKE_PY_VERSION"); }\n'
    )
    library = directory / "shim.so"
    subprocess.run(["g++", "-x", "c", "-shared", "-fPIC", "-o", str(library), str(source)], check=True)
    return library


def import_with_version(shim, version):
    probe = "import astsieve; print(astsieve.__name__)"
    # After whatever is preloaded already (the sanitizer runtime must stay first).
    preload = " ".join(filter(None, [os.environ.get("LD_PRELOAD"), str(shim)]))
    env = {**os.environ, "LD_PRELOAD": preload, "FAKE_PY_VERSION": version}
    return subprocess.run([sys.executable, "-c", probe], env=env, capture_output=True, text=True)


def test_import_checks_major_and_minor_version(version_shim):
    built_for = f"{sys.version_info.major}.{sys.version_info.minor}"
    for passing in (built_for, built_for + ".9 (fake build)", built_for + "+"):
        run = import_with_version(version_shim, passing)
        assert (run.returncode, run.stdout) == (0, "astsieve\n"), run.stderr
    for failing in (built_for + "0.1", built_for[:-1], "2.7.18", f"{sys.version_info.major}.{sys.version_info.minor + 1}.0"):
        run = import_with_version(version_shim, failing)
        assert run.returncode != 0
        assert run.stderr.rstrip().splitlines()[-1] == (
            f"ImportError: Python version mismatch: module was compiled for Python {built_for}, "
            f"but the interpreter version is incompatible: {failing}."
        )
