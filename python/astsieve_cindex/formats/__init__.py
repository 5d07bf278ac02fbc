"""Output formats of a scan: a unit's output in sections by file, the
choice of sections written, and one module per format."""
