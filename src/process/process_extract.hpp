// The pool engine of best-match extraction: a block of choices, read by the adapter into
// views of their bytes or converted sequences, scored in chunks on the worker pool with a
// running cut-off shared by every chunk. Free of Python.
#pragma once

#include "process/process_rank.hpp"
#include "process/process_scorer.hpp"
#include "types.hpp"

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tarnwick::process {

/// A scored choice of the pool; its object is found by its index.
using PoolCandidate = Candidate<char>;

/// The lowest score that can still enter the result, shared by the chunks: it starts at
/// the caller's cut-off and rises as chunks hold `limit` choices.
class RunningCutoff {
public:
    explicit RunningCutoff(double start) noexcept : bits_(to_bits(start)) {}
    /// The current value; a stale, lower value only prunes less.
    double get() const noexcept { return std::bit_cast<double>(bits_.load(std::memory_order_relaxed)); }
    /// Raises the value to `score` unless it is already higher.
    void raise(double score) noexcept;

private:
    static uint64_t to_bits(double v) noexcept { return std::bit_cast<uint64_t>(v); }
    std::atomic<uint64_t> bits_;
};

/// Scores the choices of one block on the pool, in chunks, against the query: `views[i]`
/// is the choice at position `base + i`, and `others` holds the sequences the views index.
/// Returns each chunk's kept candidates (all of them without a limit, else at most
/// `limit`), indices being positions.
std::vector<std::vector<PoolCandidate>> score_block(const PreparedQuery& q,
                                                    std::span<const ChoiceView> views,
                                                    std::span<const types::Seq> others,
                                                    std::size_t base, std::optional<uint64_t> limit,
                                                    RunningCutoff& cutoff);

}  // namespace tarnwick::process
