#include "search/json_value.hpp"

#include <nlohmann/json.hpp>

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
    kObjectSorted,
    kObjectAsWritten,
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

/// The SAX handler that appends one parsed value to a store. Values wait on a stack until
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
        key_ = intern(k);
        return true;
    }
    bool end_object() { return close(order_ == MemberOrder::Sorted ? kObjectSorted : kObjectAsWritten); }
    bool start_array(std::size_t) { return open(); }
    bool end_array() { return close(kArray); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) {
        error_ = library_message(e.what());
        return false;
    }

    /// Parses `text`; on success appends the root's run and returns its index.
    std::optional<std::string> run(std::string_view text, uint32_t& root) {
        const bool ok = json::sax_parse(text.data(), text.data() + text.size(), this);
        if (!ok) {
            if (too_deep_) {
                const TextPosition p = position_of(text, too_deep_offset(text));
                return "recursion limit exceeded at line " + std::to_string(p.line) + " column " +
                       std::to_string(p.column);
            }
            return error_;
        }
        root = append_run(0, 1);
        return std::nullopt;
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
        for (uint64_t n = v.size(); ; n >>= 7) {
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

    uint32_t intern(const std::string& k) {
        if (const auto it = s_.key_ids_.find(std::string_view(k)); it != s_.key_ids_.end())
            return it->second;
        if (s_.keys_.size() >= JsonStore::kNoKey) throw std::bad_alloc();
        const auto id = static_cast<uint32_t>(s_.keys_.size());
        s_.keys_.push_back(k);
        s_.key_ids_.emplace(std::string_view(s_.keys_.back()), id);
        return id;
    }

    /// The id of the key list of the members pending_[first, first + count).
    uint32_t intern_shape(std::size_t first, std::size_t count) {
        shape_.clear();
        for (std::size_t i = first; i < first + count; ++i) shape_.push_back(pending_[i].key);
        const std::string_view bytes(reinterpret_cast<const char*>(shape_.data()),
                                     shape_.size() * sizeof(uint32_t));
        if (const auto it = s_.shape_ids_.find(bytes); it != s_.shape_ids_.end()) return it->second;
        const auto id = static_cast<uint32_t>(s_.shape_begin_.size() - 1);
        if (id == std::numeric_limits<uint32_t>::max()) throw std::bad_alloc();
        s_.shape_keys_.insert(s_.shape_keys_.end(), shape_.begin(), shape_.end());
        s_.shape_begin_.push_back(static_cast<uint32_t>(s_.shape_keys_.size()));
        s_.shape_ids_.emplace(std::string(bytes), id);
        return id;
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

    bool close(uint8_t tag) {
        const Frame f = frames_.back();
        frames_.pop_back();
        std::size_t count = pending_.size() - f.first;
        if (tag == kObjectSorted) count = sort_members(f.first, count);
        const uint32_t shape = tag == kArray ? static_cast<uint32_t>(count) : intern_shape(f.first, count);
        const uint32_t first = append_run(f.first, count);
        key_ = f.key;
        return push(tag, pack(first, shape));
    }

    /// Sorts the members pending_[first, first + count) by key id, stably, and keeps only
    /// the last of several with one key. Returns the new count.
    std::size_t sort_members(std::size_t first, std::size_t count) {
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
        for (std::size_t i = first; i < first + count; ++i) {
            s_.tag_.push_back(pending_[i].tag);
            s_.payload_.push_back(pending_[i].payload);
        }
        pending_.resize(first);
        return static_cast<uint32_t>(at);
    }

    JsonStore& s_;
    const MemberOrder order_;
    std::vector<Pending> pending_;
    std::vector<Frame> frames_;
    std::vector<uint32_t> shape_;
    uint32_t key_ = JsonStore::kNoKey;
    bool too_deep_ = false;
    std::string error_;
};

std::optional<std::string> JsonStore::parse(std::string_view text, MemberOrder order) {
    const std::size_t values = tag_.size(), bytes = bytes_.size();
    auto roll_back = [&] {
        tag_.resize(values);
        payload_.resize(values);
        bytes_.resize(bytes);
    };
    uint32_t root = 0;
    std::optional<std::string> error;
    try {
        JsonBuilder builder(*this, order);
        error = builder.run(text, root);
    } catch (...) {
        roll_back();
        throw;
    }
    if (error) {
        roll_back();
        return error;
    }
    roots_.push_back(root);
    return std::nullopt;
}

uint32_t JsonStore::key_id(std::string_view key) const noexcept {
    const auto it = key_ids_.find(key);
    return it == key_ids_.end() ? kNoKey : it->second;
}

std::size_t JsonStore::memory_bytes() const noexcept {
    std::size_t keys = 0;
    for (const std::string& k : keys_) keys += k.size();
    return tag_.size() * (sizeof(uint8_t) + sizeof(uint64_t)) + bytes_.size() + keys +
           (shape_keys_.size() + shape_begin_.size() + roots_.size()) * sizeof(uint32_t);
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
        case kObjectSorted:
        case kObjectAsWritten: return JsonKind::Object;
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
    if (tag == kArray) return count_of(store_->payload_[node_]);
    if (tag != kObjectSorted && tag != kObjectAsWritten) return 0;
    const uint32_t shape = count_of(store_->payload_[node_]);
    return store_->shape_begin_[shape + 1] - store_->shape_begin_[shape];
}

JsonRef JsonRef::child(std::size_t i) const noexcept {
    return {*store_, first_of(store_->payload_[node_]) + static_cast<uint32_t>(i)};
}

std::string_view JsonRef::key(std::size_t i) const noexcept {
    const uint32_t shape = count_of(store_->payload_[node_]);
    return store_->key_text(store_->shape_keys_[store_->shape_begin_[shape] + i]);
}

std::optional<JsonRef> JsonRef::find(uint32_t key_id) const noexcept {
    const uint8_t tag = store_->tag_[node_];
    if ((tag != kObjectSorted && tag != kObjectAsWritten) || key_id == JsonStore::kNoKey)
        return std::nullopt;
    const uint64_t p = store_->payload_[node_];
    const uint32_t shape = count_of(p);
    const uint32_t* keys = store_->shape_keys_.data() + store_->shape_begin_[shape];
    const uint32_t n = store_->shape_begin_[shape + 1] - store_->shape_begin_[shape];
    if (tag == kObjectSorted) {
        const uint32_t* it = n <= 16 ? std::find(keys, keys + n, key_id)
                                     : std::lower_bound(keys, keys + n, key_id);
        if (it == keys + n || *it != key_id) return std::nullopt;
        return JsonRef(*store_, first_of(p) + static_cast<uint32_t>(it - keys));
    }
    for (uint32_t i = n; i-- > 0;)
        if (keys[i] == key_id) return JsonRef(*store_, first_of(p) + i);
    return std::nullopt;
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
