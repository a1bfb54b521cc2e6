"""Fast approximate string matching and ranked text retrieval.

The native module ``_tarnwick`` does the work; this package re-exports every name it
registers. Its result classes declare ``tarnwick`` as their module, so pickles refer to
this package.

The batch functions ``extract``, ``extract_one``, ``extract_iter`` and ``cdist`` take a
scorer function here and hand the native module its name and the function itself.
"""

import _tarnwick
from _tarnwick import *  # noqa: F401,F403

__all__ = list(_tarnwick.__all__)

# The float scorers of the native module, which the batch functions select by name.
_OWN_SCORERS = frozenset(
    getattr(_tarnwick, name)
    for name in (
        "fuzz_ratio", "fuzz_qratio", "fuzz_wratio", "fuzz_partial_ratio",
        "fuzz_token_sort_ratio", "fuzz_partial_token_sort_ratio", "fuzz_token_set_ratio",
        "fuzz_partial_token_set_ratio", "fuzz_token_ratio", "fuzz_partial_token_ratio",
    )
    if hasattr(_tarnwick, name)
)


def _scorer_args(scorer):
    """(name, object) for the native batch functions.

    One of this package's scorers goes by name alone, so that the native fast paths apply.
    Any other callable goes with an empty name, so that a function that merely shares a
    scorer's name is still the one called, once per choice.
    """
    if scorer in _OWN_SCORERS:
        return scorer.__name__, None
    if not callable(scorer):
        raise TypeError(f"scorer must be callable, not {type(scorer).__name__}")
    return "", scorer


def extract(query, choices, scorer=_tarnwick.fuzz_wratio, processor=None, limit=5,
            score_cutoff=None):
    """The best matches of ``query`` among ``choices``, best first.

    Returns a list of (choice, score, index) tuples, at most ``limit`` of them (all when
    ``limit`` is None). A dict given as ``choices`` is matched by its values when
    ``scorer`` is one of this package's scorers and neither a processor nor a custom
    scorer is given, by its keys otherwise.
    """
    name, obj = _scorer_args(scorer)
    return _tarnwick.extract(query, choices, name, obj, processor, limit, score_cutoff)


def extract_one(query, choices, scorer=_tarnwick.fuzz_wratio, processor=None,
                score_cutoff=None):
    """The best match of ``query`` as (choice, score, index), or None."""
    name, obj = _scorer_args(scorer)
    return _tarnwick.extract_one(query, choices, name, obj, processor, score_cutoff)


def extract_iter(query, choices, scorer=_tarnwick.fuzz_wratio, processor=None,
                 score_cutoff=None):
    """Every choice that reaches ``score_cutoff``, best first, as a list of
    (choice, score, index) tuples."""
    name, obj = _scorer_args(scorer)
    return _tarnwick.extract_iter(query, choices, name, obj, processor, score_cutoff)


def cdist(queries, choices, scorer=_tarnwick.fuzz_ratio, processor=None, score_cutoff=None):
    """The score of every query against every choice: (scores, N, M), scores being a flat
    row-major list of N * M floats (N queries, M choices).

    ``scorer`` must be one of this package's scorers.
    """
    if scorer not in _OWN_SCORERS:
        raise TypeError("cdist takes one of the tarnwick fuzz_ scorers "
                        "(fuzz_partial_ratio_alignment excluded)")
    return _tarnwick.cdist(queries, choices, scorer.__name__, scorer, processor, score_cutoff)
