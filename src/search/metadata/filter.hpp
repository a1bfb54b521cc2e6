// Filter expressions: boolean expression trees tested against one document's JSON metadata.
//
// What the expression guarantees:
// - `parse_filter_json` accepts exactly the two written forms: an object tagged by its "type"
//   key with the node's fields as keys (any order; other keys ignored; every field required,
//   none twice), or an array holding the tag and then the fields in declaration order. A
//   nested expression may name its node kind by index (0 to 10) instead of by tag text.
//   Whatever it refuses, it reports with the exact structural message ("unknown variant
//   ...", "missing field `...`", "invalid type: ..., expected ...", "invalid length ...",
//   "duplicate field `...`") followed by " at line {} column {}", the position of the last
//   character of the JSON value, where decoding (which follows the complete parse) finds
//   it; malformed JSON gives the JSON parser's own message (json_value.hpp). When a text has
//   several faults, the first in text order is reported, a syntax fault before any other.
// - A parsed expression is immutable: many threads may evaluate it at once.
// - Evaluation never fails and never allocates: "and"/"or" evaluate their right side only
//   when needed; "not", the right side of "and"/"or" and chains of them are followed in a
//   loop, so only left operands nest calls. A leaf whose attribute is missing is false.
// - `FilterProgram` binds an expression to one store of metadata once (each path segment
//   becomes the store's key id), so that evaluating it for each document compares integers
//   instead of texts.
#pragma once

#include "cancel.hpp"
#include "json/json_value.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tarnwick::search {

/// The node kinds, by their index in the written form.
enum class FilterKind : uint8_t {
    Comparison,
    Range,
    Exists,
    IsNull,
    IsEmpty,
    In,
    Contains,
    StartsWith,
    Not,
    And,
    Or,
};

/// The operators of a comparison; `Other` is any other text, which matches nothing.
enum class CompareOp : uint8_t { Eq, Ne, Lt, Gt, Le, Ge, Other };

/// One node. Children are indices into FilterAst::nodes; JSON operands are values of
/// FilterAst::json.
struct FilterNode {
    FilterKind kind{};
    CompareOp op = CompareOp::Other;  // Comparison
    std::string attribute;            // leaves: the dotted path
    std::string text;                 // Contains, StartsWith: the value
    double low = 0.0, high = 0.0;     // Range
    uint32_t operand = 0;             // Comparison: `value`; In: `values` (an array), as
                                      // values of FilterAst::json
    uint32_t left = 0, right = 0;     // Not: `left` is the child; And, Or: both sides
};

/// A parsed filter expression: nodes[root] is its top.
struct FilterAst {
    std::vector<FilterNode> nodes;
    uint32_t root = 0;
    JsonStore json;  // the filter text as parsed: holds the comparison values and "in" lists
};

/// The filter of a JSON text, or the text of the error that refuses it.
std::variant<FilterAst, std::string> parse_filter_json(std::string_view text);

/// Whether `metadata` passes `filter`. Binds the paths for this one call (use
/// FilterProgram to test many documents of one store).
bool evaluate_filter_ast(const FilterAst& filter, JsonRef metadata);

/// An expression bound to one store's key ids; both must outlive it.
class FilterProgram {
public:
    FilterProgram(const FilterAst& filter, const JsonStore& store);

    /// Whether `metadata` (a value of the bound store) passes the filter. Spends `budget`
    /// by the values compared: a cancelled call (cancel.hpp) throws cancel::Cancelled.
    bool operator()(JsonRef metadata, cancel::Budget& budget) const;

private:
    bool evaluate(JsonRef metadata, uint32_t index, cancel::Budget& budget) const;
    bool leaf(const FilterNode& node, uint32_t index, JsonRef metadata, cancel::Budget& budget) const;
    std::optional<JsonRef> resolve(uint32_t index, JsonRef metadata) const noexcept;

    const FilterAst& filter_;
    std::vector<uint32_t> keys_;         // the key ids of every leaf's path, leaf after leaf
    std::vector<uint32_t> path_begin_;   // per node: its first key in keys_ (and one past the end)
};

}  // namespace tarnwick::search
