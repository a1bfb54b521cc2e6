// The edit-script metric families: levenshtein, hamming, indel and lcs_seq, six functions
// each (_distance, _similarity, _normalized_distance, _normalized_similarity, _editops,
// _opcodes) on the shared metric calling convention.
#pragma once

#include "py/python.hpp"

namespace tarnwick::distance::metrics {

/// Module builtins, in registration order within each family.
extern PyMethodDef levenshtein_distance_def, levenshtein_similarity_def,
    levenshtein_normalized_distance_def, levenshtein_normalized_similarity_def,
    levenshtein_editops_def, levenshtein_opcodes_def;
extern PyMethodDef hamming_distance_def, hamming_similarity_def, hamming_normalized_distance_def,
    hamming_normalized_similarity_def, hamming_editops_def, hamming_opcodes_def;
extern PyMethodDef indel_distance_def, indel_similarity_def, indel_normalized_distance_def,
    indel_normalized_similarity_def, indel_editops_def, indel_opcodes_def;
extern PyMethodDef lcs_seq_distance_def, lcs_seq_similarity_def, lcs_seq_normalized_distance_def,
    lcs_seq_normalized_similarity_def, lcs_seq_editops_def, lcs_seq_opcodes_def;

}  // namespace tarnwick::distance::metrics
