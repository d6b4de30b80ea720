"""A one-line progress bar for long calls."""

from __future__ import annotations

import sys
from typing import IO


class Progress:
    """A one-line progress bar on a terminal; silent elsewhere."""

    def __init__(self, total: int, stream: IO[str] | None, label: str, unit: str) -> None:
        self.stream = stream if stream is not None else sys.stderr
        self.total, self.done = total, 0
        self.label, self.unit = label, unit
        self.active = total > 1 and getattr(self.stream, "isatty", lambda: False)()

    def step(self) -> None:
        self.update(self.done + 1)

    def update(self, done: int) -> None:
        self.done = min(done, self.total)
        if self.active:
            filled = 30 * self.done // self.total
            self.stream.write(f"\r{self.label} [{'#' * filled}{'.' * (30 - filled)}] "
                              f"{self.done}/{self.total} {self.unit}")
            self.stream.flush()

    def close(self) -> None:
        if self.active:
            self.stream.write("\r" + " " * 70 + "\r")
            self.stream.flush()
