# Types of the companion's native helper. Its functions are the companion's
# internals; CursorList is public as astsieve_cindex.CursorList.

import os
from typing import (
    Any,
    Callable,
    ClassVar,
    Dict,
    Iterator,
    List,
    Sequence,
    Tuple,
    Type,
    Union,
    overload,
)

from clang.cindex import Cursor, TranslationUnit

from astsieve_cindex.table import TableDeclaration, TableNode

class CursorList(Sequence[Cursor]):
    """A read-only list of clang.cindex.Cursor objects in a query result."""

    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __len__(self) -> int: ...
    @overload
    def __getitem__(self, index: int) -> Cursor: ...
    @overload
    def __getitem__(self, index: slice) -> List[Cursor]: ...
    def __iter__(self) -> Iterator[Cursor]: ...
    def __eq__(self, other: object) -> bool: ...
    def count(self, value: Any) -> int: ...
    def index(self, value: Any, start: int = ..., stop: int = ...) -> int: ...

_Text = Union[str, bytes]
_Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
_MainPath = Union[_Path, None]

def bind(
    cursor_type: Type[Cursor], unit_type: Type[TranslationUnit], check_libclang: Callable[[], object], /
) -> None: ...
def unit_lines(
    handle: int, unit: TranslationUnit, pattern: _Text, main_path: _MainPath, /
) -> Dict[str, Dict[int, CursorList]]: ...
def subtree_lines(
    node: Union[Cursor, TranslationUnit], pattern: _Text, main_path: _MainPath, /
) -> Dict[str, Dict[int, CursorList]]: ...
def children_by_path(
    node: Union[Cursor, TranslationUnit], pattern: _Text, main_path: _MainPath, /
) -> Dict[str, CursorList]: ...
def bind_records(
    kind_names: Dict[int, str],
    node_type: Type[TableNode],
    declaration_type: Type[TableDeclaration],
    /,
) -> None: ...
def unit_table(
    handle: int, unit: TranslationUnit, pattern: _Text, directory: _Path, /
) -> Tuple[
    Tuple[str, ...], List[TableDeclaration], List[TableNode], List[Tuple[int, int, int]]
]: ...
def included_names(handle: int, unit: TranslationUnit, /) -> List[str]: ...
def part_text(
    declarations: List[TableDeclaration], nodes: List[TableNode], local: List[Union[int, None]], /
) -> str: ...
def libclang_file(address: int, /) -> Union[str, None]: ...
