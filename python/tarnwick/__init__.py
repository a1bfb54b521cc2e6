"""Fast approximate string matching and ranked text retrieval.

The native module ``_tarnwick`` does the work; this package re-exports every name it
registers. Its result classes declare ``tarnwick`` as their module, so pickles refer to
this package.

The batch functions ``extract``, ``extract_one``, ``extract_iter`` and ``cdist`` take a
scorer function here and hand the native module its name and the function itself. The
extraction functions also take the metric functions (``levenshtein_distance`` and the
other distances and similarities) as scorers: a distance ranks the smallest first and its
``score_cutoff`` is a maximum. Directory paths may be any ``os.PathLike``.
"""

import functools
import math
import os

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


# The metric functions usable as extraction scorers: function -> (whether smaller is
# better, whether the values are integers, whether it takes processor and score_cutoff,
# whether None, NaN and "<NA>" are missing values to it rather than errors).
_INTEGRAL_FAMILIES = frozenset((
    "levenshtein", "hamming", "indel", "lcs_seq", "osa", "damerau_levenshtein", "prefix",
    "postfix", "soundex",
))
_METRICS = {}
for _family in sorted(_INTEGRAL_FAMILIES | {"jaro", "jaro_winkler", "gotoh"}):
    for _kind in ("distance", "similarity", "normalized_distance", "normalized_similarity"):
        _metric = getattr(_tarnwick, f"{_family}_{_kind}", None)
        if _metric is not None:
            _METRICS[_metric] = (_kind.endswith("distance"),
                                 _family in _INTEGRAL_FAMILIES and "normalized" not in _kind,
                                 _family != "soundex", _family not in ("soundex", "gotoh"))
for _metric in (getattr(_tarnwick, "jaccard", None), getattr(_tarnwick, "sorensen_dice", None)):
    if _metric is not None:
        _METRICS[_metric] = (False, False, True, False)
del _family, _kind, _metric


def _is_missing(value):
    """Whether the metrics treat ``value`` as a missing value (None, NaN, "<NA>"): such a
    value is the only one whose normalized distance to itself is 1."""
    try:
        return _tarnwick.prefix_normalized_distance(value, value) == 1.0
    except Exception:
        return False


class _MetricRanking:
    """A metric function as an extraction scorer. The native extraction ranks higher
    scores first, so a distance is handed to it negated; the cut-off is applied here (in
    the metric's own terms, and passed on to the metric when it can shorten its work), so
    that an integer metric never receives a float cut-off.

    A distance is ranked rather than refused: whoever passes one asks for the closest
    choices, and its similarity counterpart does not always rank alike
    (levenshtein_similarity, the longer length minus the distance, favours long choices).
    """

    def __init__(self, metric, processor, score_cutoff):
        self.lower, integral, keywords, self.has_missing = _METRICS[metric]
        self.metric = metric
        self.processor = processor
        self.cutoff = score_cutoff
        self.kwargs = {}
        if keywords and processor is not None:
            self.kwargs["processor"] = processor
        if keywords and score_cutoff is not None and 0 <= score_cutoff <= 2.0**53:
            if integral:
                score_cutoff = math.floor(score_cutoff) if self.lower else math.ceil(score_cutoff)
            self.kwargs["score_cutoff"] = score_cutoff

    def __call__(self, query, choice, **_native_kwargs):
        if self.lower and self.has_missing and (_is_missing(query) or _is_missing(choice)):
            return -math.inf  # a missing value has no distance: left out below
        if self.processor is not None and "processor" not in self.kwargs:
            query, choice = self.processor(query), self.processor(choice)
        score = self.metric(query, choice, **self.kwargs)
        return -score if self.lower else score

    def result(self, found):
        """The (choice, score, index) of a native result, or None when it is left out."""
        choice, score, index = found
        if self.lower:
            if score == -math.inf:
                return None
            score = 0.0 - score
            keep = self.cutoff is None or score <= self.cutoff
        else:
            keep = self.cutoff is None or score >= self.cutoff
        return (choice, score, index) if keep else None

    def results(self, found):
        return [r for r in map(self.result, found) if r is not None]


def extract(query, choices, scorer=_tarnwick.fuzz_wratio, processor=None, limit=5,
            score_cutoff=None):
    """The best matches of ``query`` among ``choices``, best first.

    Returns a list of (choice, score, index) tuples, at most ``limit`` of them (all when
    ``limit`` is None). A dict given as ``choices`` is matched by its values when
    ``scorer`` is one of this package's scorers and neither a processor nor a custom
    scorer is given, by its keys otherwise. With a distance as ``scorer`` the smallest
    distances come first, ``score_cutoff`` is the largest distance kept and a missing
    choice (None, NaN, "<NA>") is left out.
    """
    if scorer in _METRICS:
        ranking = _MetricRanking(scorer, processor, score_cutoff)
        found = _tarnwick.extract(query, choices, "", ranking, None, limit, None)
        return ranking.results(found)
    name, obj = _scorer_args(scorer)
    return _tarnwick.extract(query, choices, name, obj, processor, limit, score_cutoff)


def extract_one(query, choices, scorer=_tarnwick.fuzz_wratio, processor=None,
                score_cutoff=None):
    """The best match of ``query`` as (choice, score, index), or None. With a distance as
    ``scorer`` the best match is the one at the smallest distance."""
    if scorer in _METRICS:
        ranking = _MetricRanking(scorer, processor, score_cutoff)
        found = _tarnwick.extract_one(query, choices, "", ranking, None, None)
        return None if found is None else ranking.result(found)
    name, obj = _scorer_args(scorer)
    return _tarnwick.extract_one(query, choices, name, obj, processor, score_cutoff)


def extract_iter(query, choices, scorer=_tarnwick.fuzz_wratio, processor=None,
                 score_cutoff=None):
    """Every choice that reaches ``score_cutoff``, best first, as a list of
    (choice, score, index) tuples. With a distance as ``scorer``, every choice within
    ``score_cutoff``, the smallest distance first."""
    if scorer in _METRICS:
        ranking = _MetricRanking(scorer, processor, score_cutoff)
        found = _tarnwick.extract_iter(query, choices, "", ranking, None, None)
        return ranking.results(found)
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


# Directory paths: any os.PathLike is turned into its text before the native call; other
# values reach the native function as they are, so its messages stay the same.
def _fspath(path):
    return os.fspath(path) if isinstance(path, os.PathLike) else path


@functools.wraps(_tarnwick.save_mmap_bm25)
def save_mmap_bm25(path, *args, **kwargs):
    return _tarnwick.save_mmap_bm25(_fspath(path), *args, **kwargs)


@functools.wraps(_tarnwick.save_mmap_hybrid)
def save_mmap_hybrid(path, *args, **kwargs):
    return _tarnwick.save_mmap_hybrid(_fspath(path), *args, **kwargs)


for _wrapper, _native in ((save_mmap_bm25, _tarnwick.save_mmap_bm25),
                         (save_mmap_hybrid, _tarnwick.save_mmap_hybrid)):
    _wrapper.__text_signature__ = _native.__text_signature__
del _wrapper, _native


def _load_taking_pathlike(cls):
    """Makes ``cls.load`` accept an os.PathLike. The native classes can be neither
    subclassed nor replaced (loaded indexes are their instances), so their static ``load``
    is wrapped in place; its name, text signature and docstring stay those of the native
    one, and so does everything it does with any other argument."""
    native = cls.__dict__["load"].__func__ if isinstance(
        cls.__dict__["load"], staticmethod) else cls.__dict__["load"]
    if getattr(native, "_takes_pathlike", False):
        return

    @functools.wraps(native)
    def load(path):
        return native(_fspath(path))

    load.__text_signature__ = native.__text_signature__
    load._takes_pathlike = True
    cls.load = staticmethod(load)


for _cls in (_tarnwick.MmapBM25Index, _tarnwick.MmapHybridSearchIndex):
    _load_taking_pathlike(_cls)
del _cls
