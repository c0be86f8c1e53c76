"""The package's one exception type."""

from __future__ import annotations

from typing import Optional

from ._abi import CODE_NAMES


class LumetraError(Exception):
    """A library call that did not return Ok (`code` is its result code), or a library that could
    not be loaded (`code` is None)."""

    def __init__(self, code: Optional[int], message: str) -> None:
        if code is None:
            super().__init__(message)
        else:
            super().__init__("%s (0x%08X): %s" % (CODE_NAMES.get(code, "error"), code, message))
        self.code = code
        self.message = message
