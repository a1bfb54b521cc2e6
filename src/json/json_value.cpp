#include "json/json_value.hpp"

#include "cancel.hpp"
#include "parallel.hpp"

#include <nlohmann/json.hpp>
#include <simdjson.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace tarnwick::search {
namespace {

/// Value tags. A string of up to 8 bytes is kShortString plus its length, its bytes in the
/// payload.
enum Tag : uint8_t {
    kNull,
    kFalse,
    kTrue,
    kUnsigned,
    kSigned,
    kDouble,
    kLongString,
    kArray,
    kObject,
    kShortString = 16,  // up to kShortString + 8
};

constexpr std::size_t kInline = 8;

uint64_t pack(uint32_t first, uint32_t count) noexcept {
    return (static_cast<uint64_t>(first) << 32) | count;
}
uint32_t first_of(uint64_t p) noexcept { return static_cast<uint32_t>(p >> 32); }
uint32_t count_of(uint64_t p) noexcept { return static_cast<uint32_t>(p); }

template <class T>
uint64_t bits_of(T v) noexcept {
    uint64_t b = 0;
    std::memcpy(&b, &v, sizeof v);
    return b;
}
template <class T>
T from_bits(uint64_t b) noexcept {
    T v;
    std::memcpy(&v, &b, sizeof v);
    return v;
}

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

TextPosition position_of(std::string_view text, std::size_t offset) noexcept {
    offset = std::min(offset, text.size());
    TextPosition p{1, 1};
    std::size_t line_start = 0;
    for (std::size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++p.line;
            line_start = i + 1;
        }
    }
    p.column = offset - line_start + 1;
    return p;
}

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
        return "recursion limit exceeded at line " + std::to_string(p.line) + " column " +
               std::to_string(p.column);
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

void JsonStore::truncate(std::size_t values, std::size_t bytes) {
    tag_.resize(values);
    payload_.resize(values);
    bytes_.resize(bytes);
}

uint32_t JsonStore::intern_key(std::string_view key) {
    if (const auto it = key_ids_.find(key); it != key_ids_.end()) return it->second;
    if (keys_.size() >= kNoKey) throw std::bad_alloc();
    const auto id = static_cast<uint32_t>(keys_.size());
    keys_.emplace_back(key);
    key_ids_.emplace(std::string_view(keys_.back()), id);
    return id;
}

uint32_t JsonStore::intern_shape(std::span<const uint32_t> keys) {
    const std::string_view bytes(reinterpret_cast<const char*>(keys.data()), keys.size_bytes());
    if (const auto it = shape_ids_.find(bytes); it != shape_ids_.end()) return it->second;
    const std::size_t id = shape_begin_.size() - 1;
    if (id >= std::numeric_limits<uint32_t>::max() ||
        shape_keys_.size() + keys.size() >= std::numeric_limits<uint32_t>::max())
        throw std::bad_alloc();
    shape_keys_.insert(shape_keys_.end(), keys.begin(), keys.end());
    shape_begin_.push_back(static_cast<uint32_t>(shape_keys_.size()));
    shape_table_.push_back(shape_pairs_.size());
    if (keys.size() > kScanKeys) {
        const std::size_t at = shape_pairs_.size();
        for (std::size_t i = 0; i < keys.size(); ++i) shape_pairs_.push_back(pack(keys[i], static_cast<uint32_t>(i)));
        std::sort(shape_pairs_.begin() + static_cast<std::ptrdiff_t>(at), shape_pairs_.end());
    }
    shape_ids_.emplace(std::string(bytes), static_cast<uint32_t>(id));
    return static_cast<uint32_t>(id);
}

void JsonStore::append(std::span<const JsonStore> parts) {
    // Keys and shapes are merged one part after another (they are few); then every part's
    // values, strings and roots are copied into their own ranges, on the pool when there are
    // several parts.
    struct Plan {
        std::vector<uint32_t> shape_map;
        std::size_t values, bytes, roots;
    };
    std::vector<Plan> plans(parts.size());
    std::size_t values = tag_.size(), bytes = bytes_.size(), roots = roots_.size();
    std::vector<uint32_t> key_map, keys;
    cancel::Budget budget;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const JsonStore& other = parts[i];
        key_map.resize(other.keys_.size());
        for (std::size_t k = 0; k < other.keys_.size(); ++k) {
            key_map[k] = intern_key(other.keys_[k]);
            budget.spend(64 + other.keys_[k].size());
        }
        Plan& plan = plans[i];
        plan.shape_map.resize(other.shape_begin_.size() - 1);
        for (std::size_t sh = 0; sh + 1 < other.shape_begin_.size(); ++sh) {
            budget.spend(64 + other.shape_begin_[sh + 1] - other.shape_begin_[sh]);
            keys.clear();
            for (uint32_t k = other.shape_begin_[sh]; k < other.shape_begin_[sh + 1]; ++k)
                keys.push_back(key_map[other.shape_keys_[k]]);
            plan.shape_map[sh] = intern_shape(keys);
        }
        plan.values = values;
        plan.bytes = bytes;
        plan.roots = roots;
        values += other.tag_.size();
        bytes += other.bytes_.size();
        roots += other.roots_.size();
    }
    if (values >= std::numeric_limits<uint32_t>::max()) throw std::bad_alloc();
    tag_.resize(values);
    payload_.resize(values);
    bytes_.resize(bytes);
    roots_.resize(roots);
    parallel::for_each_index(parts.size(), parts.size() > 1, [&](std::size_t i) {
        cancel::cancellation_point();
        const JsonStore& other = parts[i];
        const Plan& plan = plans[i];
        const auto shift = static_cast<uint32_t>(plan.values);
        std::copy(other.tag_.begin(), other.tag_.end(), tag_.begin() + static_cast<std::ptrdiff_t>(plan.values));
        uint64_t* out = payload_.data() + plan.values;
        for (std::size_t v = 0; v < other.tag_.size(); ++v) {
            const uint64_t p = other.payload_[v];
            switch (other.tag_[v]) {
                case kLongString: out[v] = p + plan.bytes; break;
                case kArray: out[v] = pack(first_of(p) + shift, count_of(p)); break;
                case kObject: out[v] = pack(first_of(p) + shift, plan.shape_map[count_of(p)]); break;
                default: out[v] = p; break;
            }
        }
        std::copy(other.bytes_.begin(), other.bytes_.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(plan.bytes));
        for (std::size_t r = 0; r < other.roots_.size(); ++r) roots_[plan.roots + r] = other.roots_[r] + shift;
    });
}

uint32_t JsonStore::key_id(std::string_view key) const noexcept {
    const auto it = key_ids_.find(key);
    return it == key_ids_.end() ? kNoKey : it->second;
}

std::size_t JsonStore::memory_bytes() const noexcept {
    std::size_t keys = 0;
    for (const std::string& k : keys_) keys += k.size();
    return tag_.size() * (sizeof(uint8_t) + sizeof(uint64_t)) + bytes_.size() + keys +
           (shape_keys_.size() + shape_begin_.size() + roots_.size()) * sizeof(uint32_t) +
           shape_pairs_.size() * sizeof(uint64_t);
}

void JsonStore::reserve(std::size_t values, std::size_t string_bytes) {
    tag_.reserve(tag_.size() + values);
    payload_.reserve(payload_.size() + values);
    bytes_.reserve(bytes_.size() + string_bytes);
}

// ---- Reading ----

JsonKind JsonRef::kind() const noexcept {
    switch (store_->tag_[node_]) {
        case kNull: return JsonKind::Null;
        case kFalse:
        case kTrue: return JsonKind::Bool;
        case kUnsigned: return JsonKind::Unsigned;
        case kSigned: return JsonKind::Signed;
        case kDouble: return JsonKind::Double;
        case kArray: return JsonKind::Array;
        case kObject: return JsonKind::Object;
        default: return JsonKind::String;
    }
}

bool JsonRef::boolean() const noexcept { return store_->tag_[node_] == kTrue; }

uint64_t JsonRef::unsigned_value() const noexcept { return store_->payload_[node_]; }

int64_t JsonRef::signed_value() const noexcept { return from_bits<int64_t>(store_->payload_[node_]); }

double JsonRef::number() const noexcept {
    const uint64_t p = store_->payload_[node_];
    switch (store_->tag_[node_]) {
        case kUnsigned: return static_cast<double>(p);
        case kSigned: return static_cast<double>(from_bits<int64_t>(p));
        default: return from_bits<double>(p);
    }
}

std::string_view JsonRef::string() const noexcept {
    const uint8_t tag = store_->tag_[node_];
    if (tag >= kShortString)
        return {reinterpret_cast<const char*>(&store_->payload_[node_]),
                static_cast<std::size_t>(tag - kShortString)};
    const char* p = store_->bytes_.data() + store_->payload_[node_];
    uint64_t n = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(*p++);
        n |= static_cast<uint64_t>(byte & 0x7F) << shift;
        if (byte < 0x80) break;
    }
    return {p, static_cast<std::size_t>(n)};
}

std::size_t JsonRef::size() const noexcept {
    const uint8_t tag = store_->tag_[node_];
    const uint64_t p = store_->payload_[node_];
    if (tag == kArray) return count_of(p);
    if (tag != kObject) return 0;
    return store_->shape_begin_[count_of(p) + 1] - store_->shape_begin_[count_of(p)];
}

JsonRef JsonRef::child(std::size_t i) const noexcept {
    return {*store_, first_of(store_->payload_[node_]) + static_cast<uint32_t>(i)};
}

std::string_view JsonRef::key(std::size_t i) const noexcept {
    const uint32_t shape = count_of(store_->payload_[node_]);
    return store_->key_text(store_->shape_keys_[store_->shape_begin_[shape] + i]);
}

std::optional<JsonRef> JsonRef::find(uint32_t key_id) const noexcept {
    if (store_->tag_[node_] != kObject || key_id == JsonStore::kNoKey) return std::nullopt;
    const uint64_t p = store_->payload_[node_];
    const uint32_t shape = count_of(p);
    const uint32_t begin = store_->shape_begin_[shape], n = store_->shape_begin_[shape + 1] - begin;
    if (n <= JsonStore::kScanKeys) {
        const uint32_t* keys = store_->shape_keys_.data() + begin;
        for (uint32_t i = n; i-- > 0;)  // from the end: the last of repeated keys
            if (keys[i] == key_id) return JsonRef(*store_, first_of(p) + i);
        return std::nullopt;
    }
    const uint64_t* pairs = store_->shape_pairs_.data() + store_->shape_table_[shape];
    const uint64_t* past = std::upper_bound(pairs, pairs + n, pack(key_id, 0xFFFFFFFFu));
    if (past == pairs || first_of(*(past - 1)) != key_id) return std::nullopt;
    return JsonRef(*store_, first_of(p) + count_of(*(past - 1)));
}

std::optional<JsonRef> JsonRef::find(std::string_view key) const noexcept {
    return find(store_->key_id(key));
}

std::optional<JsonRef> resolve_json_attr(JsonRef value, std::string_view path) noexcept {
    JsonRef current = value;
    for (;;) {
        const std::size_t dot = path.find('.');
        const std::optional<JsonRef> next = current.find(path.substr(0, dot));
        if (!next) return std::nullopt;
        current = *next;
        if (dot == std::string_view::npos) return current;
        path.remove_prefix(dot + 1);
    }
}

bool json_eq(JsonRef a, JsonRef b) noexcept {
    const JsonKind ka = a.kind(), kb = b.kind();
    if (a.is_number() && b.is_number()) return a.number() == b.number();
    if (ka != kb) return false;
    switch (ka) {
        case JsonKind::Null: return true;
        case JsonKind::Bool: return a.boolean() == b.boolean();
        case JsonKind::String: return a.string() == b.string();
        default: return false;
    }
}

}  // namespace tarnwick::search
