// JSON values held compactly, many documents' values in one store.
//
// What a store guarantees:
// - It holds any number of JSON values, its roots, each parsed from one complete JSON text
//   as nlohmann/json's SAX parser reads it: nothing but whitespace around the value; every
//   string, escapes included, is valid UTF-8 (no lone surrogates); arrays and objects nest
//   at most kMaxDepth (128) deep, the 129th level is an error. simdjson reads the texts it
//   accepts (several times faster, to the same values); nlohmann/json reads the rest and
//   words every error (json_builder.cpp says where the two differ).
// - The value model has eight kinds: null, boolean, unsigned 64-bit integer (a non-negative
//   integer), signed 64-bit integer (a negative integer), double (a number with a fraction
//   or an exponent, an integer beyond 64 bits, and -0), string, array, object.
// - Objects parsed in `MemberOrder::Unique` mode hold each key once, with the value given
//   last for a key written twice; the order of their members carries no meaning.
//   `MemberOrder::AsWritten` keeps the members in text order, repeats included, for a
//   reader that must see them as written (the filter decoder); a lookup there finds the
//   last member with the key.
// - A failed parse leaves the store's roots and values as they were (keys it met may stay
//   interned, which no value sees) and reports the parser's message:
//   nlohmann/json's own wording and position for malformed JSON, "recursion limit exceeded
//   at line {} column {}" for nesting deeper than kMaxDepth.
// - Reading (every const member, and JsonRef) is safe from many threads at once and never
//   allocates. A JsonRef stays valid as long as its store; the string views it hands out
//   stay valid until the store is next changed.
//
// Layout: 9 bytes per value (a tag byte and an 8-byte payload, in two parallel arrays).
// Numbers and strings of up to 8 bytes live in the payload; longer strings in one byte
// buffer behind a varint length. The children of an array or object are consecutive
// values, so an array's payload is (first child, count). Object keys are interned once per
// store, and so is each object's list of key ids, its shape: documents with the same keys
// share one shape, and an object's payload is (first child, shape). A path lookup resolves
// each segment to a key id once instead of comparing texts per document, then scans the
// shape (up to 16 keys) or searches the shape's sorted key table (more keys).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <absl/container/flat_hash_map.h>

#include "fx_hash.hpp"
#include "json/json_position.hpp"

namespace tarnwick::search {

/// The kinds of JSON values.
enum class JsonKind : uint8_t { Null, Bool, Unsigned, Signed, Double, String, Array, Object };

/// How a parse keeps the members of objects (see the file comment).
enum class MemberOrder : uint8_t { Unique, AsWritten };

class JsonStore;

/// One value inside a store: two words, copied freely.
class JsonRef {
public:
    JsonRef(const JsonStore& store, uint32_t node) noexcept : store_(&store), node_(node) {}

    JsonKind kind() const noexcept;
    bool is_number() const noexcept {
        const JsonKind k = kind();
        return k == JsonKind::Unsigned || k == JsonKind::Signed || k == JsonKind::Double;
    }
    /// The boolean (kind Bool).
    bool boolean() const noexcept;
    /// The integer of kind Unsigned or Signed, as stored.
    uint64_t unsigned_value() const noexcept;
    int64_t signed_value() const noexcept;
    /// Any number converted to double (integers by ordinary conversion).
    double number() const noexcept;
    /// The bytes of a string (kind String).
    std::string_view string() const noexcept;
    /// Elements of an array or members of an object; 0 for every other kind.
    std::size_t size() const noexcept;
    /// Element i of an array, or the value of member i of an object.
    JsonRef child(std::size_t i) const noexcept;
    /// The key of member i of an object.
    std::string_view key(std::size_t i) const noexcept;
    /// The value under a key id of the store (the last one in an AsWritten object), or
    /// nothing; nothing for every kind but Object.
    std::optional<JsonRef> find(uint32_t key_id) const noexcept;
    /// The same by key text.
    std::optional<JsonRef> find(std::string_view key) const noexcept;

    const JsonStore& store() const noexcept { return *store_; }
    /// Its index among the store's values (what the constructor takes).
    uint32_t index() const noexcept { return node_; }

private:
    const JsonStore* store_;
    uint32_t node_;
};

class JsonStore {
public:
    static constexpr std::size_t kMaxDepth = 128;
    /// The key id no key has.
    static constexpr uint32_t kNoKey = 0xFFFFFFFFu;

    JsonStore() = default;
    JsonStore(JsonStore&&) noexcept = default;
    JsonStore& operator=(JsonStore&&) noexcept = default;
    JsonStore(const JsonStore&) = delete;
    JsonStore& operator=(const JsonStore&) = delete;

    /// Parses `text` as one more root. Returns the error message on failure, when the roots
    /// and values are left as they were. Throws std::bad_alloc when memory or the 2^32
    /// values run out.
    std::optional<std::string> parse(std::string_view text,
                                     MemberOrder order = MemberOrder::Unique);

    /// The first of several texts that failed to parse, and the parser's message.
    struct Failure {
        std::size_t index;
        std::string message;
    };
    /// Parses the texts in order, one root each, up to the first that fails (the roots of
    /// the texts before it stay). A cancellation point between texts (cancel.hpp): a
    /// cancelled call throws cancel::Cancelled with the roots of the texts before it kept.
    std::optional<Failure> parse_each(std::span<const std::string_view> texts,
                                      MemberOrder order = MemberOrder::Unique);

    /// Appends copies of all roots of the parts, part after part (copying on the worker pool
    /// when there are several parts). A cancelled call throws cancel::Cancelled and leaves
    /// the store to be dropped.
    void append(std::span<const JsonStore> parts);

    /// Number of roots, and root i.
    std::size_t size() const noexcept { return roots_.size(); }
    JsonRef root(std::size_t i) const noexcept { return {*this, roots_[i]}; }

    /// The id of a key that some object member of the store carries, else kNoKey.
    uint32_t key_id(std::string_view key) const noexcept;
    /// The text of a key id.
    std::string_view key_text(uint32_t id) const noexcept { return keys_[id]; }

    /// Number of values (roots and everything inside them), and bytes of long strings.
    std::size_t value_count() const noexcept { return tag_.size(); }
    std::size_t string_bytes() const noexcept { return bytes_.size(); }

    /// Bytes held by the values, strings and keys (capacity not counted).
    std::size_t memory_bytes() const noexcept;

    /// Makes room for about `values` more values and `string_bytes` more string bytes.
    void reserve(std::size_t values, std::size_t string_bytes);

private:
    friend class JsonRef;
    friend class JsonBuilder;

    uint32_t intern_key(std::string_view key);
    uint32_t intern_shape(std::span<const uint32_t> keys);
    void truncate(std::size_t values, std::size_t bytes);

    std::vector<uint8_t> tag_;       // per value: its tag (json_layout.hpp)
    std::vector<uint64_t> payload_;  // per value: number, inline string, string offset,
                                     // (first, count) of an array, (first, shape) of an object
    std::string bytes_;              // strings longer than 8 bytes: varint length, then bytes
    std::deque<std::string> keys_;   // key texts by id (a deque: views into it stay valid)
    absl::flat_hash_map<std::string_view, uint32_t, FxHash, TextEq> key_ids_;
    std::vector<uint32_t> shape_keys_;      // the key ids of every shape, one after another
    std::vector<uint32_t> shape_begin_{0};  // shape s: shape_keys_[begin[s], begin[s + 1])
    absl::flat_hash_map<std::string, uint32_t, FxHash, TextEq> shape_ids_;  // by key-id bytes
    // Shapes of more than kScanKeys keys also have their (key id, position) pairs sorted,
    // at shape_pairs_[shape_table_[s]] (as many as the shape has keys).
    static constexpr std::size_t kScanKeys = 16;
    std::vector<uint64_t> shape_pairs_;
    std::vector<std::size_t> shape_table_;
    std::vector<uint32_t> roots_;
};

/// The value at a dotted path: the path splits at every '.' into segments (an empty path is
/// one empty segment, and so are the texts around adjacent or trailing dots); each segment
/// must be a key of the current value, which must be an object. Arrays are never indexed.
std::optional<JsonRef> resolve_json_attr(JsonRef value, std::string_view path) noexcept;

/// Equality of two values (possibly of different stores): both null; both booleans alike;
/// both numbers equal as doubles (1 equals 1.0); both strings with the same bytes. Every
/// other pair is unequal, any two arrays or objects included.
bool json_eq(JsonRef a, JsonRef b) noexcept;

}  // namespace tarnwick::search
