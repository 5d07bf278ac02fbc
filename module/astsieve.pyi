# Types of the astsieve extension module.
#
# A cursor tuple is (kind, xdata, [data0, data1, data2]); arguments may be any
# sequences of that shape, results are tuples holding a list. Paths and
# patterns are taken as str (UTF-8) or bytes (unchanged) and returned as str.

from typing import Dict, List, Sequence, Tuple, Union

_CursorTuple = Tuple[int, int, List[int]]
_CursorArgument = Union[Tuple[int, int, Sequence[int]], Sequence[Union[int, Sequence[int]]]]
_Text = Union[str, bytes]

def get_path_to_lineno_to_nodes(
    arg0: int, arg1: _Text, arg2: _Text, /
) -> Dict[str, Dict[int, List[_CursorTuple]]]: ...
def update_path_lineno(
    arg0: _CursorArgument, arg1: _Text, arg2: _Text, /
) -> Dict[str, Dict[int, List[_CursorTuple]]]: ...
def get_path_to_nodes(
    arg0: _CursorArgument, arg1: _Text, arg2: _Text, /
) -> Dict[str, List[_CursorTuple]]: ...
