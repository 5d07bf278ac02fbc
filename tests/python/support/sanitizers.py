"""Whether this interpreter runs with AddressSanitizer preloaded
(scripts/test_python_sanitize.sh), for the checks that mean nothing there."""

import pytest


def _address_sanitizer_loaded():
    with open("/proc/self/maps") as maps:
        return "libasan" in maps.read()


UNDER_ADDRESS_SANITIZER = _address_sanitizer_loaded()

# ASan keeps freed blocks in quarantine and reserves its heap up front, so
# peak sizes and address-space caps tell nothing about the module there.
skip_under_address_sanitizer = pytest.mark.skipif(
    UNDER_ADDRESS_SANITIZER, reason="memory sizes and caps mean nothing under AddressSanitizer"
)
