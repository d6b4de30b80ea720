"""``python -m tessarin``: the same command line as the ``tessarin`` script."""

from tessarin.cli import script

script()
