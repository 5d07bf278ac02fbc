"""python -m astsieve_cindex: see astsieve_cindex.cli."""

import sys

from .cli import main

sys.exit(main())
