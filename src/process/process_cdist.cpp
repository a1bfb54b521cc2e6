#include "process/process_cdist.hpp"

#include "cancel.hpp"
#include "parallel.hpp"

#include <algorithm>

namespace tarnwick::process {

void score_rows(ScorerType scorer, std::span<const std::optional<types::Seq>> queries,
                std::span<const std::optional<types::Seq>> choices, std::optional<double> cutoff,
                std::size_t first, std::size_t last, bool use_pool, double* out) {
    const std::size_t m = choices.size();
    parallel::for_each_index(last - first, use_pool, [&](std::size_t k) {
        double* row = out + k * m;
        const std::optional<types::Seq>& query = queries[first + k];
        if (!query) {
            std::fill(row, row + m, 0.0);
            return;
        }
        // Built inside the row task, so that only the rows being computed hold one.
        const PreparedQuery q(scorer, *query);
        q.score_row(choices, cutoff, row);
    });
}

}  // namespace tarnwick::process
