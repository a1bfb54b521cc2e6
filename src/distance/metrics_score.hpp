// The score metric families: osa, damerau_levenshtein, jaro, jaro_winkler, prefix and
// postfix, four functions each (_distance, _similarity, _normalized_distance,
// _normalized_similarity) on the shared metric calling convention.
#pragma once

#include "py/python.hpp"

namespace tarnwick::distance::metrics {

/// Module builtins, in registration order within each family.
extern PyMethodDef jaro_distance_def, jaro_similarity_def, jaro_normalized_distance_def,
    jaro_normalized_similarity_def;
extern PyMethodDef jaro_winkler_distance_def, jaro_winkler_similarity_def,
    jaro_winkler_normalized_distance_def, jaro_winkler_normalized_similarity_def;
extern PyMethodDef osa_distance_def, osa_similarity_def, osa_normalized_distance_def,
    osa_normalized_similarity_def;
extern PyMethodDef damerau_levenshtein_distance_def, damerau_levenshtein_similarity_def,
    damerau_levenshtein_normalized_distance_def, damerau_levenshtein_normalized_similarity_def;
extern PyMethodDef prefix_distance_def, prefix_similarity_def, prefix_normalized_distance_def,
    prefix_normalized_similarity_def;
extern PyMethodDef postfix_distance_def, postfix_similarity_def,
    postfix_normalized_distance_def, postfix_normalized_similarity_def;

}  // namespace tarnwick::distance::metrics
