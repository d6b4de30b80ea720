"""Sphinx configuration: MyST pages, the API reference by autodoc, and the pages that
generate.py makes from the library and the benchmarks at build time."""

import importlib
import inspect
import sys
from pathlib import Path

import tessarin

sys.path.insert(0, str(Path(__file__).resolve().parent))
import generate  # noqa: E402

project = "Tessarin"
author = "The Tessarin developers"
copyright = "2026, the Tessarin developers"
release = version = tessarin.__version__

extensions = ["myst_parser", "sphinx.ext.autodoc"]
source_suffix = {".md": "markdown"}
exclude_patterns = ["_build", "_generated/native.md"]
myst_heading_anchors = 3
html_theme = "alabaster"
html_title = "Tessarin"
html_static_path: list[str] = []

autodoc_member_order = "bysource"
autodoc_typehints = "signature"
autodoc_default_options = {"members": True, "show-inheritance": False}
# The names below come from the package's own modules; their annotations may name types
# (pandas, matplotlib, distributed) that autodoc need not resolve.
nitpicky = False
# The stubs' annotations name YieldCurve, which both tessarin and _tessarin define.
suppress_warnings = ["myst.xref_missing", "ref.python"]

generate.main()

# Every public name of tessarin and of _tessarin must be documented somewhere on the
# site: the reference pages list them through autodoc, and a name that none of them
# reaches fails the build.
PUBLIC_MODULES = ["tessarin", "tessarin.book", "tessarin.calendars", "tessarin.conventions", "tessarin.explain",
                  "tessarin.files", "tessarin.frames", "tessarin.plot", "tessarin.revaluation",
                  "tessarin.scenarios", "tessarin.tables", "tessarin.cli"]


def _public_names():
    names = {}
    native = importlib.import_module("_tessarin")
    for name in dir(native):
        if not name.startswith("_"):
            names[f"_tessarin.{name}"] = getattr(native, name)
    for module_name in PUBLIC_MODULES:
        module = importlib.import_module(module_name)
        exported = getattr(module, "__all__", None)
        for name in exported if exported is not None else dir(module):
            if name.startswith("_") and name != "__version__":
                continue
            value = getattr(module, name)
            if exported is None and not ((inspect.isclass(value) or inspect.isfunction(value))
                                         and value.__module__ == module_name):
                continue  # constants, and names imported from elsewhere
            names[f"{module_name}.{name}"] = value
    return names


def _resolve(name):
    parts = name.split(".")
    for cut in range(len(parts), 0, -1):
        try:
            value = importlib.import_module(".".join(parts[:cut]))
        except ImportError:
            continue
        try:
            for part in parts[cut:]:
                value = getattr(value, part)
        except AttributeError:
            return None
        return value
    return None


def _check_public_names(app, env):
    found = set(env.domaindata["py"]["objects"]) | set(env.domaindata["py"]["modules"])
    # A name documented under another of its names (tessarin.load_market is
    # tessarin.files.load_market) counts once.
    seen = {id(v) for v in map(_resolve, found) if v is not None}
    missing = [name for name, value in _public_names().items()
               if name not in found and id(value) not in seen]
    if missing:
        from sphinx.util import logging

        logging.getLogger(__name__).warning(
            "public names missing from the API reference: %s", ", ".join(sorted(missing)))


# The aliases of tessarin._types (CashFlows, DateLike) are documented where they are defined;
# autodoc would otherwise show the docstring of dict or of a union.
def _alias_docstring(app, what, name, obj, options, lines):
    if what == "data" and name.startswith("tessarin.") and name.count(".") == 1:
        from sphinx.pycode import ModuleAnalyzer

        found = ModuleAnalyzer.for_module("tessarin._types").find_attr_docs()
        if ("", name.split(".")[1]) in found:
            lines[:] = list(found["", name.split(".")[1]])


def setup(app):
    app.connect("autodoc-process-docstring", _alias_docstring)
    app.connect("env-check-consistency", _check_public_names)
