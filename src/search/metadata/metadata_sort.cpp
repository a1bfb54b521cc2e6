#include "search/metadata/metadata_sort.hpp"

#include "cancel.hpp"
#include "text/lower.hpp"
#include "text/utf8.hpp"

#include <algorithm>
#include <cstdint>
#include <numeric>

namespace tarnwick::search {
namespace {

/// What a result holds under one key. Classes below kAbsent are present values.
enum Class : uint8_t { kNumber, kString, kBoolean, kUnordered, kAbsent };

struct Entry {
    Class cls;
    double number;       // kNumber; kBoolean as 0 or 1
    std::size_t string;  // kString: index into the lowered texts
};

/// The full Unicode lower-case form of `s` (root locale).
std::string lowered(std::string_view s) {
    std::string out;
    if (!text::is_ascii(s)) {
        text::lower(s, out);
        return out;
    }
    out.assign(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    return out;
}

}  // namespace

std::vector<std::size_t> sort_by_attributes(const JsonStore& metadata,
                                            std::span<const std::size_t> docs,
                                            std::span<const SortKey> keys) {
    const std::size_t m = docs.size(), nk = keys.size();
    std::vector<Entry> entries(m * nk);  // result r, key k at r * nk + k
    std::vector<std::string> texts;
    cancel::Budget budget;
    for (std::size_t k = 0; k < nk; ++k) {
        unsigned kinds = 0;  // bit per present class seen
        for (std::size_t r = 0; r < m; ++r) {
            Entry e{kAbsent, 0.0, 0};
            std::optional<JsonRef> v;
            if (docs[r] != kNoMetadata) v = resolve_json_attr(metadata.root(docs[r]), keys[k].path);
            if (v) {
                switch (v->kind()) {
                    case JsonKind::Null: break;
                    case JsonKind::Bool: e = {kBoolean, v->boolean() ? 1.0 : 0.0, 0}; break;
                    case JsonKind::String:
                        e = {kString, 0.0, texts.size()};
                        texts.push_back(lowered(v->string()));
                        break;
                    case JsonKind::Array:
                    case JsonKind::Object: e.cls = kUnordered; break;
                    default: e = {kNumber, v->number(), 0}; break;
                }
            }
            if (e.cls != kAbsent) kinds |= 1u << e.cls;
            entries[r * nk + k] = e;
            budget.spend(e.cls == kString ? 64 + texts.back().size() : 16);
        }
        if (kinds & (kinds - 1)) {  // more than one kind: present values do not order
            for (std::size_t r = 0; r < m; ++r)
                if (entries[r * nk + k].cls != kAbsent) entries[r * nk + k].cls = kUnordered;
        }
    }

    // The comparison is a cancellation point too: a cancelled sort throws out of
    // std::stable_sort, which frees its buffer, and the order is dropped.
    auto before = [&](std::size_t x, std::size_t y) {
        budget.spend(8 * nk);
        for (std::size_t k = 0; k < nk; ++k) {
            const Entry& a = entries[x * nk + k];
            const Entry& b = entries[y * nk + k];
            const bool absent_a = a.cls == kAbsent, absent_b = b.cls == kAbsent;
            if (absent_a != absent_b) return absent_b;
            if (absent_a || a.cls == kUnordered) continue;
            // Both present and of one class (a key of mixed classes is all kUnordered).
            int c = 0;
            if (a.cls == kString) {
                const int t = texts[a.string].compare(texts[b.string]);
                c = (t > 0) - (t < 0);
            } else {
                c = (a.number > b.number) - (a.number < b.number);
            }
            if (keys[k].reverse) c = -c;
            if (c != 0) return c < 0;
        }
        return false;
    };
    std::vector<std::size_t> order(m);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), before);
    return order;
}

}  // namespace tarnwick::search
