"""Fast approximate string matching and ranked text retrieval.

The native module ``_tarnwick`` does the work; this package re-exports every name it
registers. Its result classes declare ``tarnwick`` as their module, so pickles refer to
this package.
"""

import _tarnwick
from _tarnwick import *  # noqa: F401,F403

__all__ = list(_tarnwick.__all__)
