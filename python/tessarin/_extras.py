"""The pip command that adds an optional feature, as this installation needs it."""

from __future__ import annotations

import json
from pathlib import Path


def _from_checkout() -> bool:
    from importlib import metadata

    # A source tree on the path, or a wheel that pip built from a local directory.
    if (Path(__file__).resolve().parents[2] / "pyproject.toml").is_file():
        return True
    try:
        text = metadata.distribution("tessarin").read_text("direct_url.json")
    except metadata.PackageNotFoundError:
        return False
    return bool(text) and "dir_info" in json.loads(text)


def install_hint(extra: str) -> str:
    """``pip install '.[extra]'`` for a checkout, ``pip install 'tessarin[extra]'`` otherwise."""
    if _from_checkout():
        return f"pip install '.[{extra}]' (in the tessarin checkout)"
    return f"pip install 'tessarin[{extra}]'"
