"""Type stubs of the tarnwick package (the names the native module _tarnwick registers)."""

from collections.abc import Callable, Hashable, Iterable, Iterator, Mapping, Sequence
from typing import Any, Literal, NoReturn, TypeVar, final, overload

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

def default_process(s: Any, *, processor: _Processor = None) -> str: ...

def fuzz_ratio(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def fuzz_partial_ratio(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def fuzz_partial_ratio_alignment(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> ScoreAlignment | None: ...
def fuzz_token_sort_ratio(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def fuzz_token_set_ratio(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def fuzz_token_ratio(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def fuzz_partial_token_sort_ratio(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def fuzz_partial_token_set_ratio(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def fuzz_partial_token_ratio(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def fuzz_wratio(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def fuzz_qratio(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def levenshtein_distance(
    s1: _Input, s2: _Input, *, weights: _Weights | None = None, processor: _Processor = None, score_cutoff: float | None = None
) -> int: ...
def levenshtein_similarity(
    s1: _Input, s2: _Input, *, weights: _Weights | None = None, processor: _Processor = None, score_cutoff: float | None = None
) -> int: ...
def levenshtein_normalized_distance(
    s1: _Input, s2: _Input, *, weights: _Weights | None = None, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def levenshtein_normalized_similarity(
    s1: _Input, s2: _Input, *, weights: _Weights | None = None, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def levenshtein_editops(
    s1: _Input, s2: _Input, *, processor: _Processor = None
) -> Editops: ...
def levenshtein_opcodes(
    s1: _Input, s2: _Input, *, processor: _Processor = None
) -> Opcodes: ...
def hamming_distance(
    s1: _Input, s2: _Input, *, pad: bool = True, processor: _Processor = None, score_cutoff: float | None = None
) -> int: ...
def hamming_similarity(
    s1: _Input, s2: _Input, *, pad: bool = True, processor: _Processor = None, score_cutoff: float | None = None
) -> int: ...
def hamming_normalized_distance(
    s1: _Input, s2: _Input, *, pad: bool = True, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def hamming_normalized_similarity(
    s1: _Input, s2: _Input, *, pad: bool = True, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def hamming_editops(
    s1: _Input, s2: _Input, *, pad: bool = True, processor: _Processor = None
) -> Editops: ...
def hamming_opcodes(
    s1: _Input, s2: _Input, *, pad: bool = True, processor: _Processor = None
) -> Opcodes: ...
def indel_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> int: ...
def indel_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> int: ...
def indel_normalized_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def indel_normalized_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def indel_editops(
    s1: _Input, s2: _Input, *, processor: _Processor = None
) -> Editops: ...
def indel_opcodes(
    s1: _Input, s2: _Input, *, processor: _Processor = None
) -> Opcodes: ...
def jaro_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def jaro_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def jaro_normalized_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def jaro_normalized_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def jaro_winkler_distance(
    s1: _Input, s2: _Input, *, prefix_weight: float = 0.1, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def jaro_winkler_similarity(
    s1: _Input, s2: _Input, *, prefix_weight: float = 0.1, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def jaro_winkler_normalized_distance(
    s1: _Input, s2: _Input, *, prefix_weight: float = 0.1, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def jaro_winkler_normalized_similarity(
    s1: _Input, s2: _Input, *, prefix_weight: float = 0.1, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def lcs_seq_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> int: ...
def lcs_seq_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> int: ...
def lcs_seq_normalized_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def lcs_seq_normalized_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def lcs_seq_editops(
    s1: _Input, s2: _Input, *, processor: _Processor = None
) -> Editops: ...
def lcs_seq_opcodes(
    s1: _Input, s2: _Input, *, processor: _Processor = None
) -> Opcodes: ...
def osa_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> int: ...
def osa_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> int: ...
def osa_normalized_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def osa_normalized_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def damerau_levenshtein_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> int: ...
def damerau_levenshtein_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> int: ...
def damerau_levenshtein_normalized_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def damerau_levenshtein_normalized_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def prefix_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> int: ...
def prefix_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> int: ...
def prefix_normalized_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def prefix_normalized_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def postfix_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> int: ...
def postfix_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> int: ...
def postfix_normalized_distance(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def postfix_normalized_similarity(
    s1: _Input, s2: _Input, *, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def soundex_encode(s: str) -> str: ...
def soundex_distance(s1: str, s2: str) -> int: ...
def soundex_similarity(s1: str, s2: str) -> int: ...
def soundex_normalized_similarity(s1: str, s2: str) -> float: ...
def soundex_normalized_distance(s1: str, s2: str) -> float: ...
def gotoh_distance(
    s1: _Input, s2: _Input, *, open_penalty: float = 1.0, extend_penalty: float = 0.5, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def gotoh_similarity(
    s1: _Input, s2: _Input, *, open_penalty: float = 1.0, extend_penalty: float = 0.5, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def gotoh_normalized_distance(
    s1: _Input, s2: _Input, *, open_penalty: float = 1.0, extend_penalty: float = 0.5, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def gotoh_normalized_similarity(
    s1: _Input, s2: _Input, *, open_penalty: float = 1.0, extend_penalty: float = 0.5, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def sorensen_dice(
    s1: _Input, s2: _Input, *, n: int = 2, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...
def jaccard(
    s1: _Input, s2: _Input, *, n: int = 2, processor: _Processor = None, score_cutoff: float | None = None
) -> float: ...

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
def cosine_similarity_matrix(
    a: Sequence[Sequence[float]], b: Sequence[Sequence[float]]
) -> tuple[list[float], int, int]: ...

# ---- Result classes ----

@final
class Editop:
    tag: _Tag
    src_pos: int
    dest_pos: int
    def __new__(cls, tag: str, src_pos: int, dest_pos: int) -> Editop: ...
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
    def __getitem__(self, key: int, /) -> float | int: ...
    def __iter__(self) -> Iterator[float | int]: ...

# ---- Search ----

class _BM25Base:
    @property
    def num_docs(self) -> int: ...
    def get_scores(self, query: str) -> list[float]: ...
    def get_scores_filtered(self, query: str, allowed: Sequence[bool] | None = None) -> list[float]: ...
    def get_batch_scores(self, queries: Iterable[str]) -> list[list[float]]: ...
    def get_top_n(self, query: str, n: int = 5) -> list[tuple[str, float]]: ...
    def get_top_n_filtered(
        self, query: str, n: int = 5, allowed: Sequence[bool] | None = None
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
        allowed: Sequence[bool] | None = None,
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
    def load(path: str) -> MmapBM25Index: ...
    def search_filtered_sorted(
        self,
        query: str,
        _query_embedding: Sequence[float] | None = None,
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
        query_embedding: Sequence[float] | None = None,
        n: int = 5,
        rrf_k: int = 60,
        bm25_candidates: int = 100,
    ) -> list[tuple[str, float]]: ...
    def search_filtered(
        self,
        query: str,
        query_embedding: Sequence[float] | None = None,
        n: int = 5,
        rrf_k: int = 60,
        bm25_candidates: int = 100,
        allowed: Sequence[bool] | None = None,
    ) -> list[tuple[str, float]]: ...
    def set_metadata_json(self, json_strings: Sequence[str]) -> None: ...
    def evaluate_filter_mask(self, filter_json: str) -> list[bool]: ...
    def search_filtered_sorted(
        self,
        query: str,
        query_embedding: Sequence[float] | None = None,
        n: int = 5,
        rrf_k: int = 60,
        bm25_candidates: int = 100,
        filter_json: str | None = None,
        sort_keys: Sequence[tuple[str, bool]] | None = None,
    ) -> list[tuple[str, float]]: ...

@final
class HybridSearchIndex(_HybridSearchBase):
    def __new__(
        cls,
        corpus: Iterable[str],
        embeddings: Sequence[Sequence[float]] | None = None,
        k1: float = 1.5,
        b: float = 0.75,
        algorithm: str | None = None,
        delta: float | None = None,
    ) -> HybridSearchIndex: ...
    @property
    def dim(self) -> int: ...
    @property
    def has_metadata(self) -> bool: ...

@final
class MmapHybridSearchIndex(_HybridSearchBase):
    @staticmethod
    def load(path: str) -> MmapHybridSearchIndex: ...
    def set_metadata_json(self, json_strings: Sequence[str]) -> None: ...

# ---- Index directories ----

def save_mmap_bm25(
    path: str,
    corpus_iter: Iterable[Any],
    k1: float,
    b: float,
    normalize: bool,
    algorithm: str = "bm25",
    delta: float | None = None,
    include_positions: bool = False,
) -> None: ...
def save_mmap_hybrid(
    path: str,
    corpus_iter: Iterable[Any],
    k1: float,
    b: float,
    normalize: bool,
    algorithm: str = "bm25",
    delta: float | None = None,
    embeddings: Sequence[Sequence[float]] | None = None,
    include_positions: bool = False,
) -> None: ...

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
        texts: Sequence[str | None] | None = None,
        sparse: Sequence[Mapping[int, float] | None] | None = None,
        dense: Sequence[Sequence[float] | None] | None = None,
    ) -> None: ...
    def join(self, n: int = 1, score_cutoff: float | None = None) -> list[dict[str, Any]]: ...
    def join_pair(
        self, src_name: str, tgt_name: str, n: int = 1, score_cutoff: float | None = None
    ) -> list[dict[str, Any]]: ...

# ---- BKTree ----

@final
class BKTree:
    def __new__(cls) -> BKTree: ...
    def insert(self, item: str) -> None: ...
    def dedupe(self, items: Iterable[str], threshold: int) -> list[str]: ...
    def all_values(self) -> list[str]: ...
    def __getstate__(self) -> list[str]: ...
    def __setstate__(self, state: Iterable[str], /) -> None: ...
