#include "json/json_value.hpp"

#include "cancel.hpp"
#include "json/json_layout.hpp"
#include "parallel.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace tarnwick::search {

using namespace json_layout;

// ---- Building ----

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
