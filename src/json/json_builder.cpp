// The builder of a JsonStore: parses JSON texts (simdjson first, nlohmann/json for what it
// refuses or to word an error) and appends their values to the store.
#include "cancel.hpp"
#include "json/json_layout.hpp"
#include "json/json_position.hpp"
#include "json/json_value.hpp"

#include <nlohmann/json.hpp>
#include <simdjson.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace tarnwick::search {

using namespace json_layout;

namespace {

/// nlohmann/json's message without its "[json.exception.parse_error.101] " prefix.
std::string library_message(const char* what) {
    std::string_view m(what);
    if (!m.empty() && m.front() == '[') {
        const std::size_t close = m.find("] ");
        if (close != std::string_view::npos) m.remove_prefix(close + 2);
    }
    return std::string(m);
}

/// Offset of the bracket that opens nesting level kMaxDepth + 1 in `text`, a text whose
/// prefix up to that bracket is well-formed JSON.
std::size_t too_deep_offset(std::string_view text) noexcept {
    std::size_t depth = 0;
    bool in_string = false, escaped = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (in_string) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            if (++depth > JsonStore::kMaxDepth) return i;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return text.size();
}

}  // namespace

/// The SAX handler that appends parsed values to a store. Values wait on a stack until
/// their container closes; the container then moves its children to the store as one run.
class JsonBuilder {
public:
    using json = nlohmann::json;

    JsonBuilder(JsonStore& store, MemberOrder order) : s_(store), order_(order) {}

    bool null() { return push(kNull, 0); }
    bool boolean(bool b) { return push(b ? kTrue : kFalse, 0); }
    bool number_integer(json::number_integer_t v) {
        // The parser reads non-negative integers as unsigned, so a signed zero is "-0",
        // which is kept as the double -0.0.
        if (v == 0) return push(kDouble, bits_of(-0.0));
        return push(kSigned, bits_of(static_cast<int64_t>(v)));
    }
    bool number_unsigned(json::number_unsigned_t v) { return push(kUnsigned, static_cast<uint64_t>(v)); }
    bool number_float(json::number_float_t v, const std::string&) { return push(kDouble, bits_of(v)); }
    bool string(std::string& v) { return push_string(v); }
    bool binary(json::binary_t&) { return false; }  // never produced from JSON text
    bool start_object(std::size_t) { return open(); }
    bool key(std::string& k) {
        key_ = s_.intern_key(k);
        return true;
    }
    bool end_object() { return close(true); }
    bool start_array(std::size_t) { return open(); }
    bool end_array() { return close(false); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) {
        error_ = library_message(e.what());
        return false;
    }

    /// Parses `text` as one more root of the store; on failure returns the message and
    /// leaves the store as it was.
    std::optional<std::string> run(std::string_view text) {
        const std::size_t values = s_.tag_.size(), bytes = s_.bytes_.size();
        bool ok = false;
        try {
            reset();
            ok = read_fast(text);
            if (!ok) {
                s_.truncate(values, bytes);
                reset();
                ok = json::sax_parse(text.data(), text.data() + text.size(), this);
            }
            if (ok) s_.roots_.push_back(append_run(0, 1));
        } catch (...) {
            s_.truncate(values, bytes);
            throw;
        }
        if (ok) return std::nullopt;
        s_.truncate(values, bytes);
        if (!too_deep_) return std::move(error_);
        const TextPosition p = position_of(text, too_deep_offset(text));
        return "recursion limit exceeded" + at_position(p);
    }

private:
    struct Pending {
        uint64_t payload;
        uint32_t key;
        uint8_t tag;
    };
    struct Frame {
        std::size_t first;  // where its children start in pending_
        uint32_t key;       // its own key in the enclosing object
    };

    void reset() {
        pending_.clear();
        frames_.clear();
        key_ = JsonStore::kNoKey;
        too_deep_ = false;
    }

    // ---- The fast reading ----
    //
    // simdjson's DOM parser reads a text several times faster than nlohmann/json's lexer.
    // It accepts a text only when nlohmann/json does too (strict JSON, valid UTF-8, escapes
    // that pair surrogates, no unescaped control characters, finite numbers, nothing but
    // whitespace around the value) and gives the same values: integers exactly, every other
    // number correctly rounded to a double, as strtod does. Where they differ the text goes
    // to nlohmann/json: everything simdjson refuses (a byte order mark, which nlohmann/json
    // skips, integers beyond 64 bits, which it reads as doubles, and every malformed text,
    // whose message is nlohmann/json's), nesting beyond kMaxDepth, and a zero in a text
    // that holds "-0" (simdjson reads -0 as the integer 0, nlohmann/json as signed).

    /// Reads `text` into pending_ through simdjson; false when nlohmann/json must read it.
    bool read_fast(std::string_view text) {
        // simdjson's buffers take about 14 bytes per byte of text; longer texts, rare as
        // metadata, go to nlohmann/json, which needs no more than the values themselves.
        constexpr std::size_t kFastMaxBytes = std::size_t{1} << 20;
        if (text.size() > kFastMaxBytes) return false;
        if (text.size() > capacity_) {
            // Grown by doubling, so a run of growing texts reallocates only a few times.
            const std::size_t want =
                std::min(kFastMaxBytes, std::max({text.size(), 2 * capacity_, std::size_t{4096}}));
            if (dom_.allocate(want) != simdjson::SUCCESS) return false;
            capacity_ = want;
        }
        simdjson::dom::element root;
        if (dom_.parse(text.data(), text.size(), true).get(root) != simdjson::SUCCESS) return false;
        text_ = text;
        return walk(root);
    }

    bool walk(simdjson::dom::element e) {
        using simdjson::dom::element_type;
        switch (e.type()) {
            case element_type::ARRAY: {
                if (!open()) return false;
                simdjson::dom::array a;
                if (e.get(a) != simdjson::SUCCESS) return false;
                for (const simdjson::dom::element child : a)
                    if (!walk(child)) return false;
                return close(false);
            }
            case element_type::OBJECT: {
                if (!open()) return false;
                simdjson::dom::object o;
                if (e.get(o) != simdjson::SUCCESS) return false;
                std::size_t i = 0;
                for (const simdjson::dom::key_value_pair member : o) {
                    key_ = member_key(i++, member.key);
                    if (!walk(member.value)) return false;
                }
                return close(true);
            }
            case element_type::INT64: {
                int64_t v = 0;
                if (e.get(v) != simdjson::SUCCESS) return false;
                if (v < 0) return push(kSigned, bits_of(v));
                if (v == 0 && text_.find("-0") != std::string_view::npos) return false;
                return push(kUnsigned, static_cast<uint64_t>(v));
            }
            case element_type::UINT64: {
                uint64_t v = 0;
                if (e.get(v) != simdjson::SUCCESS) return false;
                return push(kUnsigned, v);
            }
            case element_type::DOUBLE: {
                double v = 0.0;
                if (e.get(v) != simdjson::SUCCESS) return false;
                return push(kDouble, bits_of(v));
            }
            case element_type::STRING: {
                std::string_view v;
                if (e.get(v) != simdjson::SUCCESS) return false;
                return push_string(v);
            }
            case element_type::BOOL: {
                bool v = false;
                if (e.get(v) != simdjson::SUCCESS) return false;
                return push(v ? kTrue : kFalse, 0);
            }
            case element_type::NULL_VALUE: return push(kNull, 0);
        }
        return false;
    }

    /// The key id of member i of the object being read, guessed first from member i of
    /// the last object read at the same depth: documents of one corpus mostly repeat their
    /// keys in one order, and comparing one key text is cheaper than hashing it.
    uint32_t member_key(std::size_t i, std::string_view key) {
        const std::size_t depth = frames_.size();
        if (recent_keys_.size() < depth) recent_keys_.resize(depth);
        std::vector<uint32_t>& recent = recent_keys_[depth - 1];
        if (i < recent.size() && s_.key_text(recent[i]) == key) return recent[i];
        const uint32_t id = s_.intern_key(key);
        if (i < recent.size()) recent[i] = id;
        else recent.push_back(id);
        return id;
    }

    bool push(uint8_t tag, uint64_t payload) {
        pending_.push_back({payload, key_, tag});
        key_ = JsonStore::kNoKey;
        return true;
    }

    bool push_string(std::string_view v) {
        if (v.size() <= kInline) {
            uint64_t p = 0;
            std::memcpy(&p, v.data(), v.size());
            return push(static_cast<uint8_t>(kShortString + v.size()), p);
        }
        const uint64_t offset = s_.bytes_.size();
        for (uint64_t n = v.size();; n >>= 7) {
            const auto byte = static_cast<char>(n & 0x7F);
            if (n < 0x80) {
                s_.bytes_.push_back(byte);
                break;
            }
            s_.bytes_.push_back(static_cast<char>(byte | 0x80));
        }
        s_.bytes_.append(v);
        return push(kLongString, offset);
    }

    bool open() {
        if (frames_.size() == JsonStore::kMaxDepth) {
            too_deep_ = true;
            return false;
        }
        frames_.push_back({pending_.size(), key_});
        key_ = JsonStore::kNoKey;
        return true;
    }

    bool close(bool object) {
        const Frame f = frames_.back();
        frames_.pop_back();
        std::size_t count = pending_.size() - f.first;
        uint32_t second = static_cast<uint32_t>(count);
        if (object) {
            if (order_ == MemberOrder::Unique) count = drop_repeated_keys(f.first, count);
            keys_.clear();
            for (std::size_t i = f.first; i < f.first + count; ++i) keys_.push_back(pending_[i].key);
            second = object_shape(frames_.size());
        }
        const uint32_t first = append_run(f.first, count);
        key_ = f.key;
        return push(object ? kObject : kArray, pack(first, second));
    }

    /// The shape of keys_, guessed first as the shape of the last object closed at the same
    /// depth (one comparison of key ids instead of hashing them).
    uint32_t object_shape(std::size_t depth) {
        if (recent_shapes_.size() <= depth) recent_shapes_.resize(depth + 1, JsonStore::kNoKey);
        uint32_t& recent = recent_shapes_[depth];
        if (recent != JsonStore::kNoKey) {
            const uint32_t* begin = s_.shape_keys_.data() + s_.shape_begin_[recent];
            const uint32_t* end = s_.shape_keys_.data() + s_.shape_begin_[recent + 1];
            if (std::equal(begin, end, keys_.begin(), keys_.end())) return recent;
        }
        recent = s_.intern_shape(keys_);
        return recent;
    }

    /// Keeps, of the members pending_[first, first + count) that share a key, only the
    /// last. Returns the new count; the members end up ordered by key id.
    std::size_t drop_repeated_keys(std::size_t first, std::size_t count) {
        auto b = pending_.begin() + static_cast<std::ptrdiff_t>(first);
        auto e = b + static_cast<std::ptrdiff_t>(count);
        auto by_key = [](const Pending& x, const Pending& y) { return x.key < y.key; };
        if (count <= 32) {
            for (auto i = b + 1; i < e; ++i)  // insertion sort: stable, no allocation
                for (auto j = i; j > b && by_key(*j, *(j - 1)); --j) std::iter_swap(j, j - 1);
        } else {
            std::stable_sort(b, e, by_key);
        }
        auto out = b;
        for (auto i = b; i < e; ++i) {
            if (i + 1 < e && (i + 1)->key == i->key) continue;  // a later one has the key
            *out++ = *i;
        }
        const auto kept = static_cast<std::size_t>(out - b);
        pending_.resize(first + kept);
        return kept;
    }

    /// Moves pending_[first, first + count) to the store as one run and returns the run's
    /// first index.
    uint32_t append_run(std::size_t first, std::size_t count) {
        const std::size_t at = s_.tag_.size();
        if (at + count >= std::numeric_limits<uint32_t>::max()) throw std::bad_alloc();
        s_.tag_.resize(at + count);
        s_.payload_.resize(at + count);
        for (std::size_t i = 0; i < count; ++i) {
            s_.tag_[at + i] = pending_[first + i].tag;
            s_.payload_[at + i] = pending_[first + i].payload;
        }
        pending_.resize(first);
        return static_cast<uint32_t>(at);
    }

    JsonStore& s_;
    const MemberOrder order_;
    std::vector<Pending> pending_;
    std::vector<Frame> frames_;
    std::vector<uint32_t> keys_;
    uint32_t key_ = JsonStore::kNoKey;
    bool too_deep_ = false;
    std::string error_;
    simdjson::dom::parser dom_;  // allocates nothing until the first text
    std::size_t capacity_ = 0;
    std::string_view text_;  // the text read_fast reads
    std::vector<std::vector<uint32_t>> recent_keys_;  // per depth: the last object's key ids
    std::vector<uint32_t> recent_shapes_;              // per depth: the last object's shape
};

// ---- Building ----

std::optional<std::string> JsonStore::parse(std::string_view text, MemberOrder order) {
    JsonBuilder builder(*this, order);
    return builder.run(text);
}

std::optional<JsonStore::Failure> JsonStore::parse_each(std::span<const std::string_view> texts,
                                                        MemberOrder order) {
    JsonBuilder builder(*this, order);
    cancel::Budget budget;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (std::optional<std::string> error = builder.run(texts[i]))
            return Failure{i, std::move(*error)};
        // A text costs about a nanosecond per byte, besides the parser's start.
        budget.spend(64 + texts[i].size());
    }
    return std::nullopt;
}

}  // namespace tarnwick::search
