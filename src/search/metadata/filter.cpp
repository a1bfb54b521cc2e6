#include "search/metadata/filter.hpp"

#include "json/json_describe.hpp"

#include <array>
#include <optional>

namespace tarnwick::search {
namespace {

/// The written form of each node kind: its tag, its name in messages and its fields in
/// declaration order (which is also their order in the array form).
enum class Field : uint8_t { Text, Number, Values, Any, Expr };
struct FieldSpec {
    const char* name;
    Field type;
};
struct KindSpec {
    const char* tag;
    const char* variant;
    std::size_t count;
    std::array<FieldSpec, 3> fields;
};

constexpr std::array<KindSpec, 11> kKinds{{
    {"comparison", "Comparison", 3, {{{"attribute", Field::Text}, {"op", Field::Text}, {"value", Field::Any}}}},
    {"range", "Range", 3, {{{"attribute", Field::Text}, {"low", Field::Number}, {"high", Field::Number}}}},
    {"exists", "Exists", 1, {{{"attribute", Field::Text}}}},
    {"is_null", "IsNull", 1, {{{"attribute", Field::Text}}}},
    {"is_empty", "IsEmpty", 1, {{{"attribute", Field::Text}}}},
    {"in", "In", 2, {{{"attribute", Field::Text}, {"values", Field::Values}}}},
    {"contains", "Contains", 2, {{{"attribute", Field::Text}, {"value", Field::Text}}}},
    {"starts_with", "StartsWith", 2, {{{"attribute", Field::Text}, {"value", Field::Text}}}},
    {"not", "Not", 1, {{{"child", Field::Expr}}}},
    {"and", "And", 2, {{{"left", Field::Expr}, {"right", Field::Expr}}}},
    {"or", "Or", 2, {{{"left", Field::Expr}, {"right", Field::Expr}}}},
}};

/// A refusal: its message, without the position.
struct Refusal {
    std::string message;
};

/// What a value is, as a refusal names it.
std::string describe(JsonRef v) {
    switch (v.kind()) {
        case JsonKind::Null: return "null";
        case JsonKind::Bool: return describe_bool(v.boolean());
        case JsonKind::Unsigned: return describe_integer(std::to_string(v.unsigned_value()));
        case JsonKind::Signed: return describe_integer(std::to_string(v.signed_value()));
        case JsonKind::Double: return describe_float(v.number());
        case JsonKind::String: return describe_string(v.string());
        case JsonKind::Array: return "sequence";
        case JsonKind::Object: return "map";
    }
    return {};
}

[[noreturn]] void refuse(std::string message) { throw Refusal{std::move(message)}; }

[[noreturn]] void invalid_type(JsonRef v, const char* expected) {
    refuse("invalid type: " + describe(v) + ", expected " + expected);
}

std::string one_of_tags() {
    std::string s = "one of ";
    for (std::size_t k = 0; k < kKinds.size(); ++k) {
        if (k) s += ", ";
        s += '`';
        s += kKinds[k].tag;
        s += '`';
    }
    return s;
}

/// Builds the tree of one parsed filter text.
class Decoder {
public:
    explicit Decoder(FilterAst& ast) : ast_(ast) {}

    /// Decodes the expression at `v` and returns its node index.
    uint32_t expression(JsonRef v, bool nested) {
        if (v.kind() == JsonKind::Object) return from_object(v, nested);
        if (v.kind() == JsonKind::Array) return from_array(v, nested);
        invalid_type(v, "internally tagged enum FilterAst");
    }

private:
    static FilterKind tag(JsonRef t, bool nested) {
        if (t.kind() == JsonKind::String) {
            const std::string_view name = t.string();
            for (std::size_t k = 0; k < kKinds.size(); ++k)
                if (name == kKinds[k].tag) return static_cast<FilterKind>(k);
            refuse("unknown variant `" + std::string(name) + "`, expected " + one_of_tags());
        }
        if (nested && t.kind() == JsonKind::Unsigned) {
            if (t.unsigned_value() < kKinds.size()) return static_cast<FilterKind>(t.unsigned_value());
            refuse("invalid value: integer `" + std::to_string(t.unsigned_value()) +
                   "`, expected variant index 0 <= i < 11");
        }
        invalid_type(t, "variant identifier");
    }

    uint32_t from_object(JsonRef v, bool nested) {
        // The tag first, as it is met; every other member waits for the node's fields.
        std::optional<FilterKind> kind;
        for (std::size_t i = 0; i < v.size(); ++i) {
            if (v.key(i) != "type") continue;
            if (kind) refuse("duplicate field `type`");
            kind = tag(v.child(i), nested);
        }
        if (!kind) refuse("missing field `type`");
        const KindSpec& spec = kKinds[static_cast<std::size_t>(*kind)];
        Fields given;
        for (std::size_t i = 0; i < v.size(); ++i) {
            const std::string_view key = v.key(i);
            for (std::size_t f = 0; f < spec.count; ++f) {
                if (key != spec.fields[f].name) continue;
                if (given[f]) refuse(std::string("duplicate field `") + spec.fields[f].name + "`");
                given[f] = field(spec.fields[f].type, v.child(i));
            }
        }
        for (std::size_t f = 0; f < spec.count; ++f)
            if (!given[f]) refuse(std::string("missing field `") + spec.fields[f].name + "`");
        return build(*kind, given);
    }

    uint32_t from_array(JsonRef v, bool nested) {
        if (v.size() == 0) refuse("missing field `type`");
        const FilterKind kind = tag(v.child(0), nested);
        const KindSpec& spec = kKinds[static_cast<std::size_t>(kind)];
        const std::size_t found = v.size() - 1;
        Fields given;
        for (std::size_t f = 0; f < spec.count; ++f) {
            if (f >= found)
                refuse("invalid length " + std::to_string(f) + ", expected struct variant FilterAst::" +
                       spec.variant + " with " + std::to_string(spec.count) +
                       (spec.count == 1 ? " element" : " elements"));
            given[f] = field(spec.fields[f].type, v.child(1 + f));
        }
        if (found > spec.count)
            refuse("invalid length " + std::to_string(found) + ", expected " +
                   std::to_string(spec.count) +
                   (spec.count == 1 ? " element in sequence" : " elements in sequence"));
        return build(kind, given);
    }

    /// A decoded field: its value, and for a nested expression the node built from it.
    struct Decoded {
        JsonRef value;
        uint32_t expression;
    };
    using Fields = std::array<std::optional<Decoded>, 3>;

    /// Refuses a field value of the wrong kind, and decodes a nested expression at once, so
    /// that faults are found in text order.
    Decoded field(Field type, JsonRef v) {
        switch (type) {
            case Field::Text:
                if (v.kind() != JsonKind::String) invalid_type(v, "a string");
                break;
            case Field::Number:
                if (!v.is_number()) invalid_type(v, "f64");
                break;
            case Field::Values:
                if (v.kind() != JsonKind::Array) invalid_type(v, "a sequence");
                break;
            case Field::Expr: return {v, expression(v, true)};
            case Field::Any: break;
        }
        return {v, 0};
    }

    uint32_t build(FilterKind kind, const Fields& f) {
        FilterNode n;
        n.kind = kind;
        switch (kind) {
            case FilterKind::Not:
                n.left = f[0]->expression;
                break;
            case FilterKind::And:
            case FilterKind::Or:
                n.left = f[0]->expression;
                n.right = f[1]->expression;
                break;
            default:
                n.attribute = std::string(f[0]->value.string());
                break;
        }
        switch (kind) {
            case FilterKind::Comparison: {
                n.operand = f[2]->value.index();
                const std::string_view op = f[1]->value.string();
                n.op = op == "="    ? CompareOp::Eq
                       : op == "!=" ? CompareOp::Ne
                       : op == "<"  ? CompareOp::Lt
                       : op == ">"  ? CompareOp::Gt
                       : op == "<=" ? CompareOp::Le
                       : op == ">=" ? CompareOp::Ge
                                    : CompareOp::Other;
                break;
            }
            case FilterKind::Range:
                n.low = f[1]->value.number();
                n.high = f[2]->value.number();
                break;
            case FilterKind::In: n.operand = f[1]->value.index(); break;
            case FilterKind::Contains:
            case FilterKind::StartsWith: n.text = std::string(f[1]->value.string()); break;
            default: break;
        }
        ast_.nodes.push_back(std::move(n));
        return static_cast<uint32_t>(ast_.nodes.size() - 1);
    }

    FilterAst& ast_;
};

}  // namespace

std::variant<FilterAst, std::string> parse_filter_json(std::string_view text) {
    FilterAst ast;
    if (std::optional<std::string> error = ast.json.parse(text, MemberOrder::AsWritten))
        return std::move(*error);
    try {
        Decoder decoder(ast);
        ast.root = decoder.expression(ast.json.root(0), false);
    } catch (Refusal& r) {
        std::size_t last = text.find_last_not_of(" \t\n\r");
        const TextPosition p = position_of(text, last);
        return r.message + at_position(p);
    }
    return ast;
}

FilterProgram::FilterProgram(const FilterAst& filter, const JsonStore& store) : filter_(filter) {
    path_begin_.reserve(filter.nodes.size() + 1);
    for (const FilterNode& n : filter.nodes) {
        path_begin_.push_back(static_cast<uint32_t>(keys_.size()));
        if (n.kind == FilterKind::Not || n.kind == FilterKind::And || n.kind == FilterKind::Or)
            continue;
        std::string_view path = n.attribute;
        for (;;) {
            const std::size_t dot = path.find('.');
            keys_.push_back(store.key_id(path.substr(0, dot)));
            if (dot == std::string_view::npos) break;
            path.remove_prefix(dot + 1);
        }
    }
    path_begin_.push_back(static_cast<uint32_t>(keys_.size()));
}

std::optional<JsonRef> FilterProgram::resolve(uint32_t index, JsonRef metadata) const noexcept {
    JsonRef current = metadata;
    for (uint32_t k = path_begin_[index]; k < path_begin_[index + 1]; ++k) {
        const std::optional<JsonRef> next = current.find(keys_[k]);
        if (!next) return std::nullopt;
        current = *next;
    }
    return current;
}

bool FilterProgram::leaf(const FilterNode& n, uint32_t index, JsonRef metadata,
                         cancel::Budget& budget) const {
    const std::optional<JsonRef> found = resolve(index, metadata);
    budget.spend(8);
    if (!found) return false;
    const JsonRef a = *found;
    switch (n.kind) {
        case FilterKind::Exists: return true;
        case FilterKind::IsNull: return a.kind() == JsonKind::Null;
        case FilterKind::IsEmpty:
            return a.kind() == JsonKind::String ? a.string().empty()
                                                : (a.kind() == JsonKind::Array || a.kind() == JsonKind::Object) &&
                                                      a.size() == 0;
        case FilterKind::Range: {
            if (!a.is_number()) return false;
            const double x = a.number();
            return n.low <= x && x <= n.high;
        }
        case FilterKind::In: {
            const JsonRef values(filter_.json, n.operand);
            auto listed = [&](JsonRef x) {
                budget.spend(values.size());
                for (std::size_t i = 0; i < values.size(); ++i)
                    if (json_eq(x, values.child(i))) return true;
                return false;
            };
            if (a.kind() != JsonKind::Array) return listed(a);
            for (std::size_t i = 0; i < a.size(); ++i)
                if (listed(a.child(i))) return true;
            return false;
        }
        case FilterKind::Contains:
            if (a.kind() == JsonKind::String) budget.spend(a.string().size() / 16);
            return a.kind() == JsonKind::String && a.string().find(n.text) != std::string_view::npos;
        case FilterKind::StartsWith:
            return a.kind() == JsonKind::String && a.string().starts_with(n.text);
        case FilterKind::Comparison: {
            const JsonRef value(filter_.json, n.operand);
            if (a.kind() == JsonKind::Array) {
                if (n.op != CompareOp::Eq && n.op != CompareOp::Ne) return false;
                budget.spend(a.size());
                bool any = false;
                for (std::size_t i = 0; i < a.size() && !any; ++i) any = json_eq(a.child(i), value);
                return n.op == CompareOp::Eq ? any : !any;
            }
            switch (n.op) {
                case CompareOp::Eq: return json_eq(a, value);
                case CompareOp::Ne: return !json_eq(a, value);
                case CompareOp::Other: return false;
                default: break;
            }
            if (!a.is_number() || !value.is_number()) return false;
            const double x = a.number(), y = value.number();
            switch (n.op) {
                case CompareOp::Lt: return x < y;
                case CompareOp::Gt: return x > y;
                case CompareOp::Le: return x <= y;
                default: return x >= y;
            }
        }
        default: return false;
    }
}

bool FilterProgram::operator()(JsonRef metadata, cancel::Budget& budget) const {
    return evaluate(metadata, filter_.root, budget);
}

bool FilterProgram::evaluate(JsonRef metadata, uint32_t index, cancel::Budget& budget) const {
    bool negate = false;
    for (;;) {
        const FilterNode& n = filter_.nodes[index];
        switch (n.kind) {
            case FilterKind::Not:
                negate = !negate;
                index = n.left;
                continue;
            case FilterKind::And:
                if (!evaluate(metadata, n.left, budget)) return negate;
                index = n.right;
                continue;
            case FilterKind::Or:
                if (evaluate(metadata, n.left, budget)) return !negate;
                index = n.right;
                continue;
            default: return leaf(n, index, metadata, budget) != negate;
        }
    }
}

bool evaluate_filter_ast(const FilterAst& filter, JsonRef metadata) {
    cancel::Budget budget;
    return FilterProgram(filter, metadata.store())(metadata, budget);
}

}  // namespace tarnwick::search
