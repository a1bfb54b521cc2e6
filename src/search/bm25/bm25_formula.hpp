// The BM25 formulas of the four variants, written once for every structure that computes
// them: the corpus statistics (corpus_stats.hpp) and the weights of the in-memory engine
// (bm25_engine.hpp), the index directory writer (index_dir_writer.hpp) and the join's
// index (join/joiner_index.hpp). Each function evaluates its formula with exactly the
// operations, in exactly the order, given here, so that every structure gets the same
// doubles from the same counts.
//
// With N documents, df(t) the documents holding term t, tf its count in document d, dl(d)
// the document's length in terms and avgdl the mean length:
//   K(d)   = (1 - b) + (b * dl) / avgdl                        (length factor)
//   c      = tf / K(d)                                         (L and T)
//   idf    Okapi, T: ln(((N - df) + 0.5) / (df + 0.5) + 1)
//          L:        ln((N + 1) / (df + 0.5))
//          Plus:     ln((N + 1) / df)
//   w      Okapi:    ((k1 + 1) * tf) / (k1 * K + tf)
//          Plus:     delta + ((k1 + 1) * tf) / (k1 * K + tf)
//          L:        ((k1 + 1) * (delta + c)) / (delta + (k1 + c))
//          T:        ((k1_t + 1) * c) / (k1_t + c)
// where T's per-term saturation is k1_t = (g - m)^2, m the mean over the term's documents
// (in increasing document order) of ln(c + 1), and g = ln(k1) * (k1 / (k1 - 1)), or its
// limit 1.0 when k1 lies within the double machine epsilon of 1. Logarithms are the C
// library's `log`. No parameter is range-checked: zero, negative, infinite and NaN values
// give whatever the arithmetic gives.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace tarnwick::search {

/// The four BM25 variants: they differ only in idf and term weight.
enum class Variant : uint8_t { Okapi, L, Plus, T };

/// Constructor parameters; `delta` is read by L and Plus only.
struct Bm25Params {
    double k1 = 1.5;
    double b = 0.75;
    double delta = 0.0;
    bool normalize = false;
};

namespace bm25 {

/// idf of a term found in `df` (1 <= df <= n) of `n` documents.
inline double idf(Variant v, uint64_t n, uint64_t df) noexcept {
    const double f = static_cast<double>(df);
    switch (v) {
        case Variant::Okapi:
        case Variant::T:
            return std::log((static_cast<double>(n - df) + 0.5) / (f + 0.5) + 1.0);
        case Variant::L:
            return std::log(static_cast<double>(n + 1) / (f + 0.5));
        case Variant::Plus:
            break;
    }
    return std::log(static_cast<double>(n + 1) / f);
}

/// The mean document length: total / n, or 1.0 for no document.
inline double average_length(uint64_t total, uint64_t n) noexcept {
    return n == 0 ? 1.0 : static_cast<double>(total) / static_cast<double>(n);
}

/// K(d) of a document of `dl` terms.
inline double length_factor(double b, uint64_t dl, double avgdl) noexcept {
    return (1.0 - b) + (b * static_cast<double>(dl)) / avgdl;
}

/// g of the T variant.
inline double saturation_base(double k1) noexcept {
    return std::fabs(k1 - 1.0) < std::numeric_limits<double>::epsilon()
               ? 1.0
               : std::log(k1) * (k1 / (k1 - 1.0));
}

/// One document's term of the T variant's sum m: ln(c + 1).
inline double saturation_term(uint32_t tf, double k) noexcept {
    return std::log(static_cast<double>(tf) / k + 1.0);
}

/// k1_t from g, the sum of saturation_term over the term's documents and their number.
inline double term_saturation(double g, double sum, uint64_t df) noexcept {
    const double m = sum / static_cast<double>(df);
    return (g - m) * (g - m);
}

/// w(d, t) for terms occurring `tf` times in documents of length factor `k`, where `Num`
/// is double or a vector of doubles (one term, several documents: each lane is computed
/// with the operations of the scalar formula, so it holds the same bits); `k1_t` is read
/// by T only.
template <Variant V, class Num>
inline Num weight_of(const Bm25Params& p, double k1_t, Num tf, Num k) noexcept {
    const double k1 = p.k1;
    if constexpr (V == Variant::Okapi) {
        return ((k1 + 1.0) * tf) / (k1 * k + tf);
    } else if constexpr (V == Variant::Plus) {
        return p.delta + ((k1 + 1.0) * tf) / (k1 * k + tf);
    } else if constexpr (V == Variant::L) {
        const Num c = tf / k;
        return ((k1 + 1.0) * (p.delta + c)) / (p.delta + (k1 + c));
    } else {
        const Num c = tf / k;
        return ((k1_t + 1.0) * c) / (k1_t + c);
    }
}

/// w(d, t) for a term occurring `tf` times in a document of length factor `k`; `k1_t` is
/// read by T only.
template <Variant V>
inline double weight(const Bm25Params& p, double k1_t, uint32_t tf_count, double k) noexcept {
    return weight_of<V, double>(p, k1_t, static_cast<double>(tf_count), k);
}

/// f.template operator()<V>() for the variant `v` known at run time: the one place where a
/// run-time variant selects the code compiled for it.
template <class F>
decltype(auto) with_variant(Variant v, F&& f) {
    switch (v) {
        case Variant::Okapi: return f.template operator()<Variant::Okapi>();
        case Variant::L: return f.template operator()<Variant::L>();
        case Variant::Plus: return f.template operator()<Variant::Plus>();
        case Variant::T: break;
    }
    return f.template operator()<Variant::T>();
}

/// weight<V> for a variant known at run time.
inline double weight(Variant v, const Bm25Params& p, double k1_t, uint32_t tf, double k) noexcept {
    return with_variant(v, [&]<Variant V>() { return weight<V>(p, k1_t, tf, k); });
}

}  // namespace bm25
}  // namespace tarnwick::search
