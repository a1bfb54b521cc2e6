"""Type stubs of the tarnwick package (the names the native module _tarnwick registers)."""

import os
from collections.abc import Callable, Hashable, Iterable, Iterator, Mapping, Sequence
from typing import Any, Literal, NoReturn, Protocol, TypeVar, final, overload

__all__ = [
    "Editop",
    "Editops",
    "Opcode",
    "Opcodes",
    "MatchingBlock",
    "ScoreAlignment",
    "default_process",
    "extract",
    "extract_one",
    "extract_iter",
    "cdist",
    "BM25Index",
    "BM25L",
    "BM25Plus",
    "BM25T",
    "MmapBM25Index",
    "HybridSearchIndex",
    "MmapHybridSearchIndex",
    "save_mmap_bm25",
    "save_mmap_hybrid",
    "cosine_similarity_matrix",
    "normalize_bayes",
    "MultiJoiner",
    "fuzz_ratio",
    "fuzz_partial_ratio",
    "fuzz_partial_ratio_alignment",
    "fuzz_token_sort_ratio",
    "fuzz_token_set_ratio",
    "fuzz_token_ratio",
    "fuzz_partial_token_sort_ratio",
    "fuzz_partial_token_set_ratio",
    "fuzz_partial_token_ratio",
    "fuzz_wratio",
    "fuzz_qratio",
    "levenshtein_distance",
    "levenshtein_similarity",
    "levenshtein_normalized_distance",
    "levenshtein_normalized_similarity",
    "levenshtein_editops",
    "levenshtein_opcodes",
    "hamming_distance",
    "hamming_similarity",
    "hamming_normalized_distance",
    "hamming_normalized_similarity",
    "hamming_editops",
    "hamming_opcodes",
    "indel_distance",
    "indel_similarity",
    "indel_normalized_distance",
    "indel_normalized_similarity",
    "indel_editops",
    "indel_opcodes",
    "jaro_distance",
    "jaro_similarity",
    "jaro_normalized_distance",
    "jaro_normalized_similarity",
    "jaro_winkler_distance",
    "jaro_winkler_similarity",
    "jaro_winkler_normalized_distance",
    "jaro_winkler_normalized_similarity",
    "lcs_seq_distance",
    "lcs_seq_similarity",
    "lcs_seq_normalized_distance",
    "lcs_seq_normalized_similarity",
    "lcs_seq_editops",
    "lcs_seq_opcodes",
    "osa_distance",
    "osa_similarity",
    "osa_normalized_distance",
    "osa_normalized_similarity",
    "damerau_levenshtein_distance",
    "damerau_levenshtein_similarity",
    "damerau_levenshtein_normalized_distance",
    "damerau_levenshtein_normalized_similarity",
    "prefix_distance",
    "prefix_similarity",
    "prefix_normalized_distance",
    "prefix_normalized_similarity",
    "postfix_distance",
    "postfix_similarity",
    "postfix_normalized_distance",
    "postfix_normalized_similarity",
    "soundex_encode",
    "soundex_distance",
    "soundex_similarity",
    "soundex_normalized_similarity",
    "soundex_normalized_distance",
    "gotoh_distance",
    "gotoh_similarity",
    "gotoh_normalized_distance",
    "gotoh_normalized_similarity",
    "sorensen_dice",
    "jaccard",
    "BKTree",
]

_T = TypeVar("_T")
_K = TypeVar("_K")

# An input of the scorers and metrics: str, bytes or any iterable of hashable items; the
# missing values (None, NaN, "<NA>") score 0.
_Input = Iterable[Hashable] | float | None
_Processor = Callable[[Any], Any] | None
_Scorer = Callable[..., float]
_Weights = tuple[int, int, int]
_Tag = Literal["equal", "replace", "insert", "delete"]

class _SupportsArray(Protocol):
    """An array the module reads through the sequence protocol: a numpy array, a pandas
    Series, or anything else with ``__array__`` (numpy is not needed to use these stubs)."""
    def __array__(self) -> Any: ...

# A vector of floats, rows of them (a list of vectors or a 2-d array), a mask of booleans.
_FloatVector = Sequence[float] | _SupportsArray
_FloatRows = Sequence[_FloatVector] | _SupportsArray
_Mask = Sequence[bool] | _SupportsArray

def default_process(s: Any, *, processor: _Processor = None) -> str:
    """``s`` lowercased, every character that is not a letter or a digit replaced by a space,
    and leading and trailing whitespace removed.
    """

def fuzz_ratio(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """100 * the normalized Indel similarity of s1 and s2 (0 to 100; 100.0 for two empty
    inputs). A score below ``score_cutoff`` gives 0.0. None, NaN or "<NA>" on either side
    gives 0.0.
    """
def fuzz_partial_ratio(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """The best fuzz_ratio of the shorter input against every window of the longer one of the
    same length (windows that run over either end included). A score below ``score_cutoff``
    gives 0.0. None, NaN or "<NA>" on either side gives 0.0.
    """
def fuzz_partial_ratio_alignment(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> ScoreAlignment | None:
    """fuzz_partial_ratio with where it was found: the score and the matched ranges of s1 (src)
    and s2 (dest); None when the score is below ``score_cutoff``. None, NaN or "<NA>" on
    either side gives 0.0 (None for the alignment).
    """
def fuzz_token_sort_ratio(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """fuzz_ratio of the two texts with their whitespace-separated words sorted. A score below
    ``score_cutoff`` gives 0.0. None, NaN or "<NA>" on either side gives 0.0.
    """
def fuzz_token_set_ratio(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """Compares the words the texts share with the words each has besides (as sets): 100.0 when
    one text's words are all in the other. A score below ``score_cutoff`` gives 0.0. None,
    NaN or "<NA>" on either side gives 0.0.
    """
def fuzz_token_ratio(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """The larger of fuzz_token_sort_ratio and fuzz_token_set_ratio, computed together. A score
    below ``score_cutoff`` gives 0.0. None, NaN or "<NA>" on either side gives 0.0.
    """
def fuzz_partial_token_sort_ratio(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """fuzz_partial_ratio of the two texts with their words sorted. A score below
    ``score_cutoff`` gives 0.0. None, NaN or "<NA>" on either side gives 0.0.
    """
def fuzz_partial_token_set_ratio(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """fuzz_partial_ratio over the word sets: 100.0 when the texts share a word. A score below
    ``score_cutoff`` gives 0.0. None, NaN or "<NA>" on either side gives 0.0.
    """
def fuzz_partial_token_ratio(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """The larger of fuzz_partial_token_sort_ratio and fuzz_partial_token_set_ratio. A score
    below ``score_cutoff`` gives 0.0. None, NaN or "<NA>" on either side gives 0.0.
    """
def fuzz_wratio(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """A weighted blend of the other ratios chosen by the lengths of the inputs: fuzz_ratio,
    and for inputs of different lengths the partial and token ratios scaled down. A score
    below ``score_cutoff`` gives 0.0. None, NaN or "<NA>" on either side gives 0.0.
    """
def fuzz_qratio(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """fuzz_ratio, but 0.0 when either input is empty. A score below ``score_cutoff`` gives
    0.0. None, NaN or "<NA>" on either side gives 0.0.
    """
def levenshtein_distance(
    s1: _Input, s2: _Input, *, weights: _Weights | None = None, processor: _Processor = None, score_cutoff: float | None = None
) -> int:
    """The distance: the fewest insertions, deletions and substitutions that turn s1 into s2
    (with ``weights`` = (insertion, deletion, substitution) each costs its weight). A
    distance above ``score_cutoff`` gives score_cutoff + 1. None, NaN or "<NA>" on either
    side gives 0 (1.0 for the normalized distance).
    """
def levenshtein_similarity(
    s1: _Input, s2: _Input, *, weights: _Weights | None = None, processor: _Processor = None, score_cutoff: float | None = None
) -> int:
    """The similarity: the largest distance of two inputs of these lengths minus the distance.
    A similarity below ``score_cutoff`` gives 0. None, NaN or "<NA>" on either side gives 0
    (1.0 for the normalized distance).
    """
def levenshtein_normalized_distance(
    s1: _Input, s2: _Input, *, weights: _Weights | None = None, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """The distance scaled to 0.0 (equal) to 1.0. A value above ``score_cutoff`` gives 1.0.
    None, NaN or "<NA>" on either side gives 0 (1.0 for the normalized distance).
    """
def levenshtein_normalized_similarity(
    s1: _Input, s2: _Input, *, weights: _Weights | None = None, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """1 - the normalized distance. A value below ``score_cutoff`` gives 0.0. None, NaN or
    "<NA>" on either side gives 0 (1.0 for the normalized distance).
    """
def levenshtein_editops(
    s1: _Input, s2: _Input, *, processor: _Processor = None
) -> Editops:
    """The edit operations of levenshtein_distance that turn s1 into s2."""
def levenshtein_opcodes(
    s1: _Input, s2: _Input, *, processor: _Processor = None
) -> Opcodes:
    """The edit operations of levenshtein_distance as opcodes, the equal stretches included."""
def hamming_distance(
    s1: _Input, s2: _Input, *, pad: bool = True, processor: _Processor = None, score_cutoff: float | None = None
) -> int:
    """The distance: the number of positions whose elements differ; with ``pad`` the shorter
    input counts as padded, without it inputs of different lengths raise ValueError. A
    distance above ``score_cutoff`` gives score_cutoff + 1. None, NaN or "<NA>" on either
    side gives 0 (1.0 for the normalized distance).
    """
def hamming_similarity(
    s1: _Input, s2: _Input, *, pad: bool = True, processor: _Processor = None, score_cutoff: float | None = None
) -> int:
    """The similarity: the length of the longer input minus the distance. A similarity below
    ``score_cutoff`` gives 0. None, NaN or "<NA>" on either side gives 0 (1.0 for the
    normalized distance).
    """
def hamming_normalized_distance(
    s1: _Input, s2: _Input, *, pad: bool = True, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """The distance scaled to 0.0 (equal) to 1.0. A value above ``score_cutoff`` gives 1.0.
    None, NaN or "<NA>" on either side gives 0 (1.0 for the normalized distance).
    """
def hamming_normalized_similarity(
    s1: _Input, s2: _Input, *, pad: bool = True, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """1 - the normalized distance. A value below ``score_cutoff`` gives 0.0. None, NaN or
    "<NA>" on either side gives 0 (1.0 for the normalized distance).
    """
def hamming_editops(
    s1: _Input, s2: _Input, *, pad: bool = True, processor: _Processor = None
) -> Editops:
    """The edit operations of hamming_distance that turn s1 into s2."""
def hamming_opcodes(
    s1: _Input, s2: _Input, *, pad: bool = True, processor: _Processor = None
) -> Opcodes:
    """The edit operations of hamming_distance as opcodes, the equal stretches included."""
def indel_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> int:
    """The distance: the fewest insertions and deletions that turn s1 into s2 (a substitution
    counts 2). A distance above ``score_cutoff`` gives score_cutoff + 1. None, NaN or "<NA>"
    on either side gives 0 (1.0 for the normalized distance).
    """
def indel_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> int:
    """The similarity: len(s1) + len(s2) minus the distance (twice the longest common
    subsequence). A similarity below ``score_cutoff`` gives 0. None, NaN or "<NA>" on either
    side gives 0 (1.0 for the normalized distance).
    """
def indel_normalized_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """The distance scaled to 0.0 (equal) to 1.0. A value above ``score_cutoff`` gives 1.0.
    None, NaN or "<NA>" on either side gives 0 (1.0 for the normalized distance).
    """
def indel_normalized_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """1 - the normalized distance. A value below ``score_cutoff`` gives 0.0. None, NaN or
    "<NA>" on either side gives 0 (1.0 for the normalized distance).
    """
def indel_editops(
    s1: _Input, s2: _Input, *, processor: _Processor = None
) -> Editops:
    """The edit operations of indel_distance that turn s1 into s2."""
def indel_opcodes(
    s1: _Input, s2: _Input, *, processor: _Processor = None
) -> Opcodes:
    """The edit operations of indel_distance as opcodes, the equal stretches included."""
def jaro_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """The distance: 1 - the Jaro similarity. A distance above ``score_cutoff`` gives 1.0.
    None, NaN or "<NA>" on either side gives 0 (1.0 for the normalized distance).
    """
def jaro_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """The similarity: the Jaro similarity (0 to 1): matching elements within half the longer
    length, and their transpositions. A similarity below ``score_cutoff`` gives 0. None, NaN
    or "<NA>" on either side gives 0 (1.0 for the normalized distance).
    """
def jaro_normalized_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """Equal to jaro_distance. A value above ``score_cutoff`` gives 1.0. None, NaN or "<NA>" on
    either side gives 0 (1.0 for the normalized distance).
    """
def jaro_normalized_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """Equal to jaro_similarity. A value below ``score_cutoff`` gives 0.0. None, NaN or "<NA>"
    on either side gives 0 (1.0 for the normalized distance).
    """
def jaro_winkler_distance(
    s1: _Input, s2: _Input, *, prefix_weight: float = 0.1, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """The distance: 1 - the Jaro-Winkler similarity. A distance above ``score_cutoff`` gives
    1.0. None, NaN or "<NA>" on either side gives 0 (1.0 for the normalized distance).
    """
def jaro_winkler_similarity(
    s1: _Input, s2: _Input, *, prefix_weight: float = 0.1, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """The similarity: the Jaro similarity raised by ``prefix_weight`` per element of the
    common prefix (at most 4). A similarity below ``score_cutoff`` gives 0. None, NaN or
    "<NA>" on either side gives 0 (1.0 for the normalized distance).
    """
def jaro_winkler_normalized_distance(
    s1: _Input, s2: _Input, *, prefix_weight: float = 0.1, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """Equal to jaro_winkler_distance. A value above ``score_cutoff`` gives 1.0. None, NaN or
    "<NA>" on either side gives 0 (1.0 for the normalized distance).
    """
def jaro_winkler_normalized_similarity(
    s1: _Input, s2: _Input, *, prefix_weight: float = 0.1, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """Equal to jaro_winkler_similarity. A value below ``score_cutoff`` gives 0.0. None, NaN or
    "<NA>" on either side gives 0 (1.0 for the normalized distance).
    """
def lcs_seq_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> int:
    """The distance: the length of the longer input minus that of their longest common
    subsequence. A distance above ``score_cutoff`` gives score_cutoff + 1. None, NaN or
    "<NA>" on either side gives 0 (1.0 for the normalized distance).
    """
def lcs_seq_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> int:
    """The similarity: the length of the longest common subsequence. A similarity below
    ``score_cutoff`` gives 0. None, NaN or "<NA>" on either side gives 0 (1.0 for the
    normalized distance).
    """
def lcs_seq_normalized_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """The distance scaled to 0.0 (equal) to 1.0. A value above ``score_cutoff`` gives 1.0.
    None, NaN or "<NA>" on either side gives 0 (1.0 for the normalized distance).
    """
def lcs_seq_normalized_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """1 - the normalized distance. A value below ``score_cutoff`` gives 0.0. None, NaN or
    "<NA>" on either side gives 0 (1.0 for the normalized distance).
    """
def lcs_seq_editops(
    s1: _Input, s2: _Input, *, processor: _Processor = None
) -> Editops:
    """The edit operations of lcs_seq_distance that turn s1 into s2."""
def lcs_seq_opcodes(
    s1: _Input, s2: _Input, *, processor: _Processor = None
) -> Opcodes:
    """The edit operations of lcs_seq_distance as opcodes, the equal stretches included."""
def osa_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> int:
    """The distance: the optimal string alignment distance: Levenshtein with transpositions of
    adjacent elements, no element edited twice. A distance above ``score_cutoff`` gives
    score_cutoff + 1. None, NaN or "<NA>" on either side gives 0 (1.0 for the normalized
    distance).
    """
def osa_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> int:
    """The similarity: the length of the longer input minus the distance. A similarity below
    ``score_cutoff`` gives 0. None, NaN or "<NA>" on either side gives 0 (1.0 for the
    normalized distance).
    """
def osa_normalized_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """The distance scaled to 0.0 (equal) to 1.0. A value above ``score_cutoff`` gives 1.0.
    None, NaN or "<NA>" on either side gives 0 (1.0 for the normalized distance).
    """
def osa_normalized_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """1 - the normalized distance. A value below ``score_cutoff`` gives 0.0. None, NaN or
    "<NA>" on either side gives 0 (1.0 for the normalized distance).
    """
def damerau_levenshtein_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> int:
    """The distance: Levenshtein with unrestricted transpositions of adjacent elements. A
    distance above ``score_cutoff`` gives score_cutoff + 1. None, NaN or "<NA>" on either
    side gives 0 (1.0 for the normalized distance).
    """
def damerau_levenshtein_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> int:
    """The similarity: the length of the longer input minus the distance. A similarity below
    ``score_cutoff`` gives 0. None, NaN or "<NA>" on either side gives 0 (1.0 for the
    normalized distance).
    """
def damerau_levenshtein_normalized_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """The distance scaled to 0.0 (equal) to 1.0. A value above ``score_cutoff`` gives 1.0.
    None, NaN or "<NA>" on either side gives 0 (1.0 for the normalized distance).
    """
def damerau_levenshtein_normalized_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """1 - the normalized distance. A value below ``score_cutoff`` gives 0.0. None, NaN or
    "<NA>" on either side gives 0 (1.0 for the normalized distance).
    """
def prefix_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> int:
    """The distance: the length of the longer input minus that of the common prefix. A distance
    above ``score_cutoff`` gives score_cutoff + 1. None, NaN or "<NA>" on either side gives
    0 (1.0 for the normalized distance).
    """
def prefix_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> int:
    """The similarity: the length of the common prefix. A similarity below ``score_cutoff``
    gives 0. None, NaN or "<NA>" on either side gives 0 (1.0 for the normalized distance).
    """
def prefix_normalized_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """The distance scaled to 0.0 (equal) to 1.0. A value above ``score_cutoff`` gives 1.0.
    None, NaN or "<NA>" on either side gives 0 (1.0 for the normalized distance).
    """
def prefix_normalized_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """1 - the normalized distance. A value below ``score_cutoff`` gives 0.0. None, NaN or
    "<NA>" on either side gives 0 (1.0 for the normalized distance).
    """
def postfix_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> int:
    """The distance: the length of the longer input minus that of the common suffix. A distance
    above ``score_cutoff`` gives score_cutoff + 1. None, NaN or "<NA>" on either side gives
    0 (1.0 for the normalized distance).
    """
def postfix_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> int:
    """The similarity: the length of the common suffix. A similarity below ``score_cutoff``
    gives 0. None, NaN or "<NA>" on either side gives 0 (1.0 for the normalized distance).
    """
def postfix_normalized_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """The distance scaled to 0.0 (equal) to 1.0. A value above ``score_cutoff`` gives 1.0.
    None, NaN or "<NA>" on either side gives 0 (1.0 for the normalized distance).
    """
def postfix_normalized_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """1 - the normalized distance. A value below ``score_cutoff`` gives 0.0. None, NaN or
    "<NA>" on either side gives 0 (1.0 for the normalized distance).
    """
def soundex_encode(s: str) -> str:
    """The Soundex code of ``s``: its first letter and three digits, padded with zeros
    ("Robert" gives "R163").
    """
def soundex_distance(s1: str, s2: str) -> int:
    """0 when the Soundex codes of s1 and s2 are equal, else the number of their differing
    positions.
    """
def soundex_similarity(s1: str, s2: str) -> int:
    """4 minus soundex_distance."""
def soundex_normalized_similarity(s1: str, s2: str) -> float:
    """soundex_similarity / 4."""
def soundex_normalized_distance(s1: str, s2: str) -> float:
    """soundex_distance / 4."""
def gotoh_distance(
    s1: _Input, s2: _Input, *, open_penalty: float = 1.0, extend_penalty: float = 0.5, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """The distance: the cheapest global alignment with affine gaps: a mismatch costs 1, a gap
    of k elements ``open_penalty`` + k * ``extend_penalty``. A distance above
    ``score_cutoff`` gives score_cutoff + 1.
    """
def gotoh_similarity(
    s1: _Input, s2: _Input, *, open_penalty: float = 1.0, extend_penalty: float = 0.5, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """The similarity: the largest cost that the distance is measured against minus the
    distance. A similarity below ``score_cutoff`` gives 0.
    """
def gotoh_normalized_distance(
    s1: _Input, s2: _Input, *, open_penalty: float = 1.0, extend_penalty: float = 0.5, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """The distance scaled to 0.0 (equal) to 1.0. A value above ``score_cutoff`` gives 1.0."""
def gotoh_normalized_similarity(
    s1: _Input, s2: _Input, *, open_penalty: float = 1.0, extend_penalty: float = 0.5, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """1 - the normalized distance. A value below ``score_cutoff`` gives 0.0."""
def sorensen_dice(
    s1: _Input, s2: _Input, *, n: int = 2, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """The Sorensen-Dice coefficient of the sets of ``n``-grams of s1 and s2 (0.0 to 1.0; 0.0
    when either has fewer than ``n`` elements). A value below ``score_cutoff`` gives 0.0.
    """
def jaccard(
    s1: _Input, s2: _Input, *, n: int = 2, processor: _Processor = None, score_cutoff: float | None = None
) -> float:
    """The Jaccard index of the sets of ``n``-grams of s1 and s2 (0.0 to 1.0; 0.0 when either
    has fewer than ``n`` elements). A value below ``score_cutoff`` gives 0.0.
    """

# ---- Batch matching (the package's wrappers: the scorer is a function) ----

@overload
def extract(
    query: Any,
    choices: Mapping[_K, _T],
    scorer: _Scorer = ...,
    processor: _Processor = None,
    limit: int | None = 5,
    score_cutoff: float | None = None,
) -> list[tuple[_T | _K, float, int]]: ...
@overload
def extract(
    query: Any,
    choices: Iterable[_T],
    scorer: _Scorer = ...,
    processor: _Processor = None,
    limit: int | None = 5,
    score_cutoff: float | None = None,
) -> list[tuple[_T, float, int]]: ...
@overload
def extract_one(
    query: Any,
    choices: Mapping[_K, _T],
    scorer: _Scorer = ...,
    processor: _Processor = None,
    score_cutoff: float | None = None,
) -> tuple[_T | _K, float, int] | None: ...
@overload
def extract_one(
    query: Any,
    choices: Iterable[_T],
    scorer: _Scorer = ...,
    processor: _Processor = None,
    score_cutoff: float | None = None,
) -> tuple[_T, float, int] | None: ...
@overload
def extract_iter(
    query: Any,
    choices: Mapping[_K, _T],
    scorer: _Scorer = ...,
    processor: _Processor = None,
    score_cutoff: float | None = None,
) -> list[tuple[_T | _K, float, int]]: ...
@overload
def extract_iter(
    query: Any,
    choices: Iterable[_T],
    scorer: _Scorer = ...,
    processor: _Processor = None,
    score_cutoff: float | None = None,
) -> list[tuple[_T, float, int]]: ...
def cdist(
    queries: Iterable[Any],
    choices: Iterable[Any],
    scorer: _Scorer = ...,
    processor: _Processor = None,
    score_cutoff: float | None = None,
) -> tuple[list[float], int, int]: ...

# ---- Score utilities ----

def normalize_bayes(scores: Iterable[tuple[str, float]]) -> list[tuple[str, float]]: ...
def cosine_similarity_matrix(a: _FloatRows, b: _FloatRows) -> tuple[list[float], int, int]: ...

# ---- Result classes ----

@final
class Editop:
    tag: _Tag
    src_pos: int
    dest_pos: int
    def __new__(cls, tag: str, src_pos: int, dest_pos: int) -> Editop: ...
    @overload
    def __getitem__(self, key: Literal[0, -3], /) -> _Tag: ...
    @overload
    def __getitem__(self, key: Literal[1, 2, -1, -2], /) -> int: ...
    @overload
    def __getitem__(self, key: int, /) -> str | int: ...
    def __iter__(self) -> Iterator[str | int]: ...

@final
class Editops:
    src_len: int
    dest_len: int
    def __new__(
        cls, ops: Iterable[Editop | tuple[str, int, int]] | Editops | Opcodes, src_len: int, dest_len: int
    ) -> Editops: ...
    def as_opcodes(self) -> Opcodes: ...
    def as_matching_blocks(self) -> list[MatchingBlock]: ...
    def as_list(self) -> list[tuple[str, int, int]]: ...
    def copy(self) -> Editops: ...
    def inverse(self) -> Editops: ...
    def remove_subsequence(self, other: Editops) -> Editops: ...
    def __len__(self) -> int: ...
    @overload
    def __getitem__(self, key: int, /) -> Editop: ...
    @overload
    def __getitem__(self, key: slice, /) -> Editops: ...
    def __iter__(self) -> Iterator[Editop]: ...
    @overload
    def __setitem__(self, key: int, value: Editop, /) -> None: ...
    @overload
    def __setitem__(self, key: slice, value: Iterable[Editop], /) -> None: ...
    def __delitem__(self, key: int | slice, /) -> None: ...

@final
class Opcode:
    tag: _Tag
    src_start: int
    src_end: int
    dest_start: int
    dest_end: int
    def __new__(
        cls, tag: str = "equal", src_start: int = 0, src_end: int = 0, dest_start: int = 0, dest_end: int = 0
    ) -> Opcode: ...
    @overload
    def __getitem__(self, key: Literal[0, -5], /) -> _Tag: ...
    @overload
    def __getitem__(self, key: Literal[1, 2, 3, 4, -1, -2, -3, -4], /) -> int: ...
    @overload
    def __getitem__(self, key: int, /) -> str | int: ...
    def __iter__(self) -> Iterator[str | int]: ...

@final
class Opcodes:
    src_len: int
    dest_len: int
    def __new__(
        cls, ops: Iterable[Opcode | tuple[str, int, int, int, int]] | Editops | Opcodes, src_len: int, dest_len: int
    ) -> Opcodes: ...
    def as_editops(self) -> Editops: ...
    def as_matching_blocks(self) -> list[MatchingBlock]: ...
    def as_list(self) -> list[tuple[str, int, int, int, int]]: ...
    def copy(self) -> Opcodes: ...
    def inverse(self) -> Opcodes: ...
    def __len__(self) -> int: ...
    def __getitem__(self, key: int, /) -> Opcode: ...
    def __iter__(self) -> Iterator[Opcode]: ...

@final
class MatchingBlock:
    a: int
    b: int
    size: int
    def __new__(cls, a: int, b: int, size: int) -> MatchingBlock: ...

@final
class ScoreAlignment:
    score: float
    src_start: int
    src_end: int
    dest_start: int
    dest_end: int
    def __new__(cls, score: float, src_start: int, src_end: int, dest_start: int, dest_end: int) -> ScoreAlignment: ...
    @overload
    def __getitem__(self, key: Literal[0, -5], /) -> float: ...
    @overload
    def __getitem__(self, key: Literal[1, 2, 3, 4, -1, -2, -3, -4], /) -> int: ...
    @overload
    def __getitem__(self, key: int, /) -> float | int: ...
    def __iter__(self) -> Iterator[float | int]: ...

# ---- Search ----

class _BM25Base:
    @property
    def num_docs(self) -> int: ...
    def get_scores(self, query: str) -> list[float]: ...
    def get_scores_filtered(self, query: str, allowed: _Mask | None = None) -> list[float]: ...
    def get_batch_scores(self, queries: Iterable[str]) -> list[list[float]]: ...
    def get_top_n(self, query: str, n: int = 5) -> list[tuple[str, float]]: ...
    def get_top_n_filtered(
        self, query: str, n: int = 5, allowed: _Mask | None = None
    ) -> list[tuple[str, float]]: ...
    def fuzzy_only(self, query: str, n: int) -> list[tuple[str, float]]: ...
    def get_top_n_fuzzy(
        self, query: str, n: int = 5, bm25_candidates: int = 50, fuzzy_weight: float = 0.3
    ) -> list[tuple[str, float]]: ...
    def get_top_n_rrf(
        self, query: str, n: int = 5, bm25_candidates: int = 100, rrf_k: int = 60
    ) -> list[tuple[str, float]]: ...
    def get_top_n_rrf_filtered(
        self,
        query: str,
        n: int = 5,
        bm25_candidates: int = 100,
        rrf_k: int = 60,
        allowed: _Mask | None = None,
    ) -> list[tuple[str, float]]: ...
    def explain(self, query: str, doc_idx: int) -> list[tuple[str, float, float, float]]: ...
    def get_idf_map(self) -> dict[str, float]: ...
    def get_document_vector(self, doc_idx: int) -> dict[str, float]: ...
    def get_top_n_phrase(
        self, query: str, n: int = 5, proximity_window: int = 3, phrase_boost: float = 2.0
    ) -> list[tuple[str, float]]: ...

@final
class BM25Index(_BM25Base):
    def __new__(cls, corpus: Iterable[str], k1: float = 1.5, b: float = 0.75, normalize: bool = False) -> BM25Index: ...

@final
class BM25L(_BM25Base):
    def __new__(
        cls, corpus: Iterable[str], k1: float = 1.5, b: float = 0.75, delta: float = 0.5, normalize: bool = False
    ) -> BM25L: ...

@final
class BM25Plus(_BM25Base):
    def __new__(
        cls, corpus: Iterable[str], k1: float = 1.5, b: float = 0.75, delta: float = 1.0, normalize: bool = False
    ) -> BM25Plus: ...

@final
class BM25T(_BM25Base):
    def __new__(cls, corpus: Iterable[str], k1: float = 1.5, b: float = 0.75, normalize: bool = False) -> BM25T: ...

@final
class MmapBM25Index(_BM25Base):
    @staticmethod
    def load(path: str | os.PathLike[str]) -> MmapBM25Index:
        """Opens the index directory that save_mmap_bm25 (or save_mmap_hybrid) wrote at
        ``path`` (its files mapped read-only, nothing rebuilt). Raises OSError when the
        directory is missing, incomplete or corrupt."""
    def search_filtered_sorted(
        self,
        query: str,
        _query_embedding: _FloatVector | None = None,
        _n: int = 5,
        _rrf_k: int = 60,
        _bm25_candidates: int = 100,
        _filter_json: str | None = None,
        _sort_keys: Sequence[tuple[str, bool]] | None = None,
    ) -> NoReturn: ...

class _HybridSearchBase:
    @property
    def num_docs(self) -> int: ...
    @property
    def has_vectors(self) -> bool: ...
    def search(
        self,
        query: str,
        query_embedding: _FloatVector | None = None,
        n: int = 5,
        rrf_k: int = 60,
        bm25_candidates: int = 100,
    ) -> list[tuple[str, float]]: ...
    def search_filtered(
        self,
        query: str,
        query_embedding: _FloatVector | None = None,
        n: int = 5,
        rrf_k: int = 60,
        bm25_candidates: int = 100,
        allowed: _Mask | None = None,
    ) -> list[tuple[str, float]]: ...
    def set_metadata_json(self, json_strings: Sequence[str]) -> None: ...

@final
class HybridSearchIndex(_HybridSearchBase):
    def __new__(
        cls,
        corpus: Iterable[str],
        embeddings: _FloatRows | None = None,
        k1: float = 1.5,
        b: float = 0.75,
        algorithm: str | None = None,
        delta: float | None = None,
    ) -> HybridSearchIndex: ...
    @property
    def dim(self) -> int: ...
    @property
    def has_metadata(self) -> bool: ...
    def evaluate_filter_mask(self, filter_json: str) -> list[bool]: ...
    def search_filtered_sorted(
        self,
        query: str,
        query_embedding: _FloatVector | None = None,
        n: int = 5,
        rrf_k: int = 60,
        bm25_candidates: int = 100,
        filter_json: str | None = None,
        sort_keys: Sequence[tuple[str, bool]] | None = None,
    ) -> list[tuple[str, float]]: ...

@final
class MmapHybridSearchIndex(_HybridSearchBase):
    @staticmethod
    def load(path: str | os.PathLike[str]) -> MmapHybridSearchIndex:
        """Opens the index directory that save_mmap_hybrid wrote at ``path`` (its files
        mapped read-only, nothing rebuilt). Raises OSError when the directory is missing,
        incomplete or corrupt."""
    def set_metadata_json(self, json_strings: Sequence[str]) -> None: ...

# ---- Index directories ----

def save_mmap_bm25(
    path: str | os.PathLike[str],
    corpus_iter: Iterable[Any],
    k1: float,
    b: float,
    normalize: bool,
    algorithm: str = "bm25",
    delta: float | None = None,
    include_positions: bool = False,
) -> None:
    """Writes a BM25 index of ``corpus_iter`` (texts, or objects with a ``page_content``
    text, read once) into the directory ``path`` for MmapBM25Index.load: "meta.json", the
    posting records and, with ``include_positions``, the token positions that phrase
    boosting and explanations need. ``algorithm`` is "bm25l", "bm25+" (or "bm25plus"),
    "bm25t", or Okapi BM25 for any other name (compared exactly); ``normalize`` selects the
    multilingual terms. Each file is written under a temporary name and replaces the old
    ones only when all are complete.
    """
def save_mmap_hybrid(
    path: str | os.PathLike[str],
    corpus_iter: Iterable[Any],
    k1: float,
    b: float,
    normalize: bool,
    algorithm: str = "bm25",
    delta: float | None = None,
    embeddings: _FloatRows | None = None,
    include_positions: bool = False,
) -> None:
    """As save_mmap_bm25, for MmapHybridSearchIndex.load, with one embedding row per
    document when ``embeddings`` is given."""

# ---- Join ----

@final
class MultiJoiner:
    def __new__(
        cls,
        text_weight: float = 1.0,
        sparse_weight: float = 1.0,
        dense_weight: float = 1.0,
        bm25_k1: float = 1.5,
        bm25_b: float = 0.75,
        bm25_variant: str = ...,
        rrf_k: int = 60,
        bm25_candidates: int = 100,
    ) -> MultiJoiner: ...
    @property
    def num_arrays(self) -> int: ...
    def add_array(
        self,
        name: str,
        texts: Sequence[str | None] | _SupportsArray | None = None,
        sparse: Sequence[Mapping[int, float] | None] | None = None,
        dense: Sequence[_FloatVector | None] | _SupportsArray | None = None,
    ) -> None: ...
    def join(self, n: int = 1, score_cutoff: float | None = None) -> list[dict[str, Any]]: ...
    def join_pair(
        self, src_name: str, tgt_name: str, n: int = 1, score_cutoff: float | None = None
    ) -> list[dict[str, Any]]: ...

# ---- BKTree ----

@final
class BKTree:
    """A tree of distinct strings under the Levenshtein distance of their UTF-8 bytes (so a
    non-ASCII character counts as several), for near-duplicate removal."""
    def __new__(cls) -> BKTree: ...
    def insert(self, item: str) -> None:
        """Adds ``item`` unless an equal string is stored."""
    def dedupe(self, items: Iterable[str], threshold: int) -> list[str]:
        """The items to keep, in their order: an item is kept, and added to the tree at
        once, when no stored string (earlier kept items included) lies within
        ``threshold`` of it."""
    def all_values(self) -> list[str]:
        """Every stored string, each after the one it hangs from (depth-first)."""
    def __getstate__(self) -> list[str]: ...
    def __setstate__(self, state: Iterable[str], /) -> None: ...
