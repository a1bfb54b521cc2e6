// The registration function of every Python-facing group, defined in the group's adapter
// and called by module.cpp in the module's fixed order.
#pragma once

namespace tarnwick {

namespace py { class Module; }

namespace distance::initialize {
/// Editop, Editops, Opcode, Opcodes, MatchingBlock, ScoreAlignment.
void register_classes(py::Module& m);
}  // namespace distance::initialize

namespace utils {
/// default_process.
void register_functions(py::Module& m);
}  // namespace utils

namespace process {
/// extract, extract_one, extract_iter.
void register_extract(py::Module& m);
/// cdist.
void register_cdist(py::Module& m);
}  // namespace process

namespace search {
/// BM25Index, BM25L, BM25Plus, BM25T.
void register_bm25_classes(py::Module& m);
/// MmapBM25Index.
void register_mmap_bm25_class(py::Module& m);
/// HybridSearchIndex.
void register_hybrid_class(py::Module& m);
/// MmapHybridSearchIndex.
void register_mmap_hybrid_class(py::Module& m);
/// save_mmap_bm25, save_mmap_hybrid.
void register_index_dir_writers(py::Module& m);
/// cosine_similarity_matrix, normalize_bayes.
void register_score_utils(py::Module& m);
}  // namespace search

namespace join {
/// MultiJoiner.
void register_class(py::Module& m);
}  // namespace join

namespace fuzz {
/// The eleven fuzz_ scorers.
void register_functions(py::Module& m);
}  // namespace fuzz

namespace distance::metrics {
struct Levenshtein;
struct Hamming;
struct Indel;
struct LcsSeq;
struct Jaro;
struct JaroWinkler;
struct Osa;
struct DamerauLevenshtein;
struct Prefix;
struct Postfix;
/// The functions of one metric family: <name>_distance, _similarity,
/// _normalized_distance, _normalized_similarity, and for the edit-script families
/// _editops and _opcodes.
template <class Family>
void register_metric_family(py::Module& m);
}  // namespace distance::metrics

namespace distance::phonetic {
/// soundex_encode and the four Soundex comparisons.
void register_functions(py::Module& m);
}  // namespace distance::phonetic

namespace distance::gotoh {
/// gotoh_distance, gotoh_similarity and their normalized forms.
void register_functions(py::Module& m);
}  // namespace distance::gotoh

namespace distance::ngram {
/// sorensen_dice, jaccard.
void register_functions(py::Module& m);
}  // namespace distance::ngram

namespace distance::bktree {
/// BKTree.
void register_class(py::Module& m);
}  // namespace distance::bktree

}  // namespace tarnwick
