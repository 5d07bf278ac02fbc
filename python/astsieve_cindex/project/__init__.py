"""Whole projects: the compilation database and its units, parsing with
clang's builtin headers, the worker pool, scan_unit and scan, and the cache."""
