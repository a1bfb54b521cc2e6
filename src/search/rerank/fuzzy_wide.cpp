#include "search/rerank/fuzzy_wide.hpp"

#include "algorithms/lcs_lanes.hpp"

namespace tarnwick::search::wide {

namespace {

/// The caller's document source and score array, as the lane kernel's context.
struct Context {
    NextDoc next;
    void* context;
    double* out;
    std::size_t query_size;

    static std::size_t next_texts(void* self, algorithms::LaneText* out, std::size_t room) {
        auto& c = *static_cast<Context*>(self);
        std::size_t k = 0;
        for (Doc d; k < room && c.next(c.context, d); ++k) out[k] = {d.data, d.size, d.slot};
        return k;
    }

    static void scores(void* self, const algorithms::LaneLcs* done, std::size_t count) {
        const auto& c = *static_cast<const Context*>(self);
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t total = c.query_size + done[k].size;
            c.out[done[k].slot] = indel_similarity(total - 2 * done[k].lcs, total);
        }
    }
};

}  // namespace

bool suits(std::string_view query) noexcept { return algorithms::lcs_lanes_suit(query); }

void fuzzy_scores(std::string_view query, NextDoc next, void* context, double* out,
                  std::vector<std::size_t>& given_back) {
    Context c{next, context, out, query.size()};
    algorithms::lcs_lanes(query, &Context::next_texts, &Context::scores, &c, given_back);
}

}  // namespace tarnwick::search::wide
