#include "search/index_dir/mmap_meta.hpp"

#include "search/index_dir/index_dir_files.hpp"
#include "json/json_describe.hpp"
#include "json/json_value.hpp"

#include <simdjson.h>

#include <array>
#include <cstdlib>
#include <optional>

namespace tarnwick::search {
namespace {

namespace sj = simdjson::ondemand;

constexpr std::array<const char*, 5> kMembers{"corpus", "idf", "dictionary", "num_docs", "normalize"};

bool is_json_space(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

/// The offset just past the first complete JSON value of `text`, if it has one: a scan that
/// matches brackets outside strings, for telling trailing characters from a malformed value.
std::optional<std::size_t> first_value_end(std::string_view text) noexcept {
    std::size_t i = 0;
    while (i < text.size() && is_json_space(text[i])) ++i;
    if (i == text.size()) return std::nullopt;
    std::size_t depth = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            for (++i; i < text.size() && text[i] != '"'; ++i)
                if (text[i] == '\\') ++i;
            if (i >= text.size()) return std::nullopt;
            if (depth == 0) return i + 1;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            if (depth == 0) return std::nullopt;
            if (--depth == 0) return i + 1;
        } else if (depth == 0 && (is_json_space(c) || c == ',' || c == ':')) {
            return i;
        }
    }
    return depth == 0 ? std::optional<std::size_t>(text.size()) : std::nullopt;
}

/// The id of `term` in `meta`, with room for it in every table by id.
uint32_t intern_term(MmapMeta& meta, std::string_view term) {
    const uint32_t id = meta.terms.intern(term);
    if (id == meta.idf.size()) {
        meta.idf.push_back(0.0);
        meta.has_idf.push_back(0);
        meta.in_dictionary.push_back(0);
        meta.dictionary.emplace_back();
    }
    return id;
}

/// A refusal found by the reader: its message and where (an offset into the text, or none).
struct Refusal {
    std::string message;
    std::optional<std::size_t> at;
};

/// One pass of the on-demand parser over the text, building the metadata.
class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    /// Reads `padded` (the text with the parser's padding behind it).
    MmapMeta read(simdjson::padded_string_view padded) {
        if (auto e = parser_.iterate(padded).get(doc_)) {
            if (e == simdjson::EMPTY) syntax(e);
            refuse(simdjson::error_message(e), std::nullopt);  // no document to place it in
        }
        sj::json_type type;
        if (auto e = doc_.type().get(type)) syntax(e);
        const std::size_t at = token_end(doc_);
        if (type == sj::json_type::object) {
            sj::object obj;
            if (auto e = doc_.get_object().get(obj)) syntax(e);
            read_object(obj);
        } else if (type == sj::json_type::array) {
            sj::array arr;
            if (auto e = doc_.get_array().get(arr)) syntax(e);
            read_array(arr);
        } else {
            refuse("invalid type: " + describe(doc_) + ", expected struct MmapMeta", at);
        }
        // Anything but whitespace after the value.
        const char* next = nullptr;
        if (!doc_.current_location().get(next) && next && offset(next) < text_.size())
            refuse("trailing characters", offset(next));
        // The corpus texts view one string of their own.
        const auto owned = std::make_shared<const std::string>(std::move(text_buffer_));
        std::size_t start = 0;
        meta_.docs.reserve(text_ends_.size());
        for (const std::size_t end : text_ends_) {
            meta_.docs.push_back(std::string_view(*owned).substr(start, end - start));
            start = end;
        }
        meta_.storage = owned;
        return std::move(meta_);
    }

private:
    [[noreturn]] static void refuse(std::string message, std::optional<std::size_t> at) {
        throw Refusal{std::move(message), at};
    }

    /// A parser error, placed where the parser stands.
    [[noreturn]] void syntax(simdjson::error_code e) {
        if (e == simdjson::EMPTY) refuse("EOF while parsing a value", text_.size());
        const char* at = nullptr;
        if (!doc_.current_location().get(at) && at) refuse(simdjson::error_message(e), offset(at));
        refuse(simdjson::error_message(e), std::nullopt);
    }

    std::size_t offset(const char* p) const noexcept { return static_cast<std::size_t>(p - text_.data()); }

    /// The raw text of the token at `v`, without the whitespace after it.
    std::string_view raw_token(sj::value& v) { return trimmed(v.raw_json_token()); }
    std::string_view raw_token(sj::document& d) {
        std::string_view raw;
        if (auto e = d.raw_json_token().get(raw)) syntax(e);
        return trimmed(raw);
    }
    static std::string_view trimmed(std::string_view raw) noexcept {
        while (!raw.empty() && is_json_space(raw.back())) raw.remove_suffix(1);
        return raw;
    }

    /// The offset of the last character of the token at `v` (its opening bracket for an
    /// array or object).
    template <class V>
    std::size_t token_end(V& v) {
        const std::string_view raw = raw_token(v);
        return offset(raw.data()) + (raw.empty() ? 0 : raw.size() - 1);
    }

    /// The offset of the last character before the parser's position: the closing bracket
    /// of the container just finished.
    std::size_t container_end() {
        const char* at = nullptr;
        std::size_t i = doc_.current_location().get(at) || !at ? text_.size() : offset(at);
        while (i > 0 && is_json_space(text_[i - 1])) --i;
        return i == 0 ? 0 : i - 1;
    }

    /// The value at `v` as refusals name it.
    template <class V>
    std::string describe(V& v) {
        sj::json_type type;
        if (auto e = v.type().get(type)) syntax(e);
        switch (type) {
            case sj::json_type::null: return "null";
            case sj::json_type::boolean: {
                bool b = false;
                if (auto e = v.get_bool().get(b)) syntax(e);
                return describe_bool(b);
            }
            case sj::json_type::number: {
                sj::number_type kind;
                const std::string_view raw = raw_token(v);
                if (!v.get_number_type().get(kind) && kind != sj::number_type::floating_point_number)
                    return describe_integer(raw);
                return describe_float(std::strtod(std::string(raw).c_str(), nullptr));
            }
            case sj::json_type::string: {
                std::string_view s;
                if (auto e = v.get_string().get(s)) syntax(e);
                return describe_string(s);
            }
            case sj::json_type::array: return "sequence";
            case sj::json_type::object: return "map";
        }
        return {};
    }

    [[noreturn]] void invalid_type(sj::value& v, const char* expected) {
        const std::size_t at = token_end(v);
        refuse("invalid type: " + describe(v) + ", expected " + expected, at);
    }

    sj::json_type type_of(sj::value& v) {
        sj::json_type type;
        if (auto e = v.type().get(type)) syntax(e);
        return type;
    }

    /// A non-negative integer (`what` names the expected type).
    uint64_t read_count(sj::value& v, const char* what) {
        if (type_of(v) != sj::json_type::number) invalid_type(v, what);
        sj::number_type kind;
        if (auto e = v.get_number_type().get(kind)) syntax(e);
        if (kind == sj::number_type::floating_point_number) invalid_type(v, what);
        const std::size_t at = token_end(v);
        if (v.is_negative())
            refuse("invalid value: integer `" + std::string(raw_token(v)) + "`, expected " + what, at);
        uint64_t out = 0;
        if (v.get_uint64().get(out)) {
            // Beyond 64 bits: the number reads as the nearest double.
            const std::string raw(raw_token(v));
            refuse("invalid type: " + describe_float(std::strtod(raw.c_str(), nullptr)) + ", expected " + what, at);
        }
        return out;
    }

    void read_corpus(sj::value& v) {
        if (type_of(v) != sj::json_type::array) invalid_type(v, "a sequence");
        sj::array arr;
        if (auto e = v.get_array().get(arr)) syntax(e);
        for (auto item : arr) {
            sj::value x;
            if (auto e = std::move(item).get(x)) syntax(e);
            if (type_of(x) != sj::json_type::string) invalid_type(x, "a string");
            std::string_view s;
            if (auto e = x.get_string().get(s)) syntax(e);
            text_buffer_.append(s);
            text_ends_.push_back(text_buffer_.size());
        }
    }

    template <class F>
    void for_each_member(sj::value& v, F&& f) {
        if (type_of(v) != sj::json_type::object) invalid_type(v, "a map");
        sj::object obj;
        if (auto e = v.get_object().get(obj)) syntax(e);
        for (auto field : obj) {
            sj::field member;
            if (auto e = std::move(field).get(member)) syntax(e);
            std::string_view key;
            if (auto e = member.unescaped_key().get(key)) syntax(e);
            f(key, member.value());
        }
    }

    void read_idf(sj::value& v) {
        for_each_member(v, [&](std::string_view term, sj::value x) {
            if (type_of(x) != sj::json_type::number) invalid_type(x, "f64");
            double idf = 0.0;
            if (auto e = x.get_double().get(idf)) syntax(e);
            const uint32_t id = intern_term(meta_, term);
            meta_.idf[id] = idf;
            meta_.has_idf[id] = 1;
        });
    }

    void read_dictionary(sj::value& v) {
        for_each_member(v, [&](std::string_view term, sj::value x) {
            if (type_of(x) != sj::json_type::array) invalid_type(x, "an array of length 4");
            sj::array arr;
            if (auto e = x.get_array().get(arr)) syntax(e);
            uint64_t values[4] = {};
            std::size_t count = 0;
            for (auto item : arr) {
                sj::value n;
                if (auto e = std::move(item).get(n)) syntax(e);
                if (count == 4) refuse("trailing characters", offset(raw_token(n).data()));
                values[count++] = read_count(n, "u64");
            }
            if (count < 4)
                refuse("invalid length " + std::to_string(count) + ", expected an array of length 4",
                       container_end());
            const uint32_t id = intern_term(meta_, term);
            meta_.dictionary[id] = {values[0], values[1], values[2], values[3]};
            meta_.in_dictionary[id] = 1;
        });
    }

    void read_member(std::size_t which, sj::value& v) {
        switch (which) {
            case 0: return read_corpus(v);
            case 1: return read_idf(v);
            case 2: return read_dictionary(v);
            case 3: meta_.num_docs = read_count(v, "usize"); return;
            default: break;
        }
        if (type_of(v) != sj::json_type::boolean) invalid_type(v, "a boolean");
        if (auto e = v.get_bool().get(meta_.normalize)) syntax(e);
    }

    void read_object(sj::object& obj) {
        std::array<bool, 5> seen{};
        for (auto field : obj) {
            sj::field member;
            if (auto e = std::move(field).get(member)) syntax(e);
            const std::size_t key_at = key_end(member);  // the key is consumed when unescaped
            std::string_view key;
            if (auto e = member.unescaped_key().get(key)) syntax(e);
            std::size_t which = 0;
            while (which < kMembers.size() && key != kMembers[which]) ++which;
            if (which == kMembers.size()) continue;  // unknown members are skipped
            if (seen[which]) refuse(std::string("duplicate field `") + kMembers[which] + "`", key_at);
            seen[which] = true;
            sj::value v = member.value();
            read_member(which, v);
        }
        for (std::size_t m = 0; m < kMembers.size(); ++m)
            if (!seen[m]) refuse(std::string("missing field `") + kMembers[m] + "`", container_end());
    }

    void read_array(sj::array& arr) {
        std::size_t count = 0;
        for (auto item : arr) {
            sj::value v;
            if (auto e = std::move(item).get(v)) syntax(e);
            if (count == kMembers.size()) refuse("trailing characters", offset(raw_token(v).data()));
            read_member(count++, v);
        }
        if (count < kMembers.size())
            refuse("invalid length " + std::to_string(count) + ", expected struct MmapMeta with 5 elements",
                   container_end());
    }

    /// The offset of the closing quote of a member's key.
    std::size_t key_end(sj::field& member) const {
        const char* p = reinterpret_cast<const char*>(member.key().raw());
        while (*p != '"') p += *p == '\\' ? 2 : 1;
        return offset(p);
    }

    std::string_view text_;
    sj::parser parser_;
    sj::document doc_;
    MmapMeta meta_;
    std::string text_buffer_;            // the corpus texts, one after another
    std::vector<std::size_t> text_ends_;  // where each ends in text_buffer_
};

namespace dom = simdjson::dom;

// The members of the writer's form, read into `meta`; false for a value of another form.

bool canonical_corpus(dom::element value, MmapMeta& meta) {
    dom::array corpus;
    if (value.get_array().get(corpus)) return false;
    for (const dom::element e : corpus) {
        std::string_view s;
        if (e.get_string().get(s)) return false;
        meta.docs.push_back(s);
    }
    return true;
}

bool canonical_idf(dom::element value, MmapMeta& meta) {
    dom::object idf;
    if (value.get_object().get(idf)) return false;
    for (const dom::key_value_pair t : idf) {
        double v = 0.0;
        if (t.value.get_double().get(v)) return false;
        const uint32_t id = intern_term(meta, t.key);
        meta.idf[id] = v;
        meta.has_idf[id] = 1;
    }
    return true;
}

bool canonical_dictionary(dom::element value, MmapMeta& meta) {
    dom::object dictionary;
    if (value.get_object().get(dictionary)) return false;
    for (const dom::key_value_pair t : dictionary) {
        dom::array entry;
        if (t.value.get_array().get(entry)) return false;
        uint64_t values[4];
        std::size_t count = 0;
        for (const dom::element e : entry) {
            if (count == 4 || e.get_uint64().get(values[count])) return false;
            ++count;
        }
        if (count != 4) return false;
        const uint32_t id = intern_term(meta, t.key);
        meta.dictionary[id] = {values[0], values[1], values[2], values[3]};
        meta.in_dictionary[id] = 1;
    }
    return true;
}

/// Member `which` (an index into kMembers) of the writer's form.
bool canonical_member(std::size_t which, dom::element value, MmapMeta& meta) {
    switch (which) {
        case 0: return canonical_corpus(value, meta);
        case 1: return canonical_idf(value, meta);
        case 2: return canonical_dictionary(value, meta);
        case 3: return !value.get_uint64().get(meta.num_docs);
        default: return !value.get_bool().get(meta.normalize);
    }
}

/// The metadata of `text` in the form the writer gives it (an object holding the five
/// members, nothing else, each once and of its type), read through the parser's document
/// model, which picks the fastest code for the processor at run time; nothing for any other
/// text, which the Reader then decides on. `text` has room for the padding behind it.
std::optional<MmapMeta> read_canonical(std::string_view text) {
    dom::parser parser;
    dom::element root;
    if (parser.parse(text.data(), text.size(), false).get(root)) return std::nullopt;
    dom::object top;
    if (root.get_object().get(top)) return std::nullopt;
    MmapMeta meta;
    std::array<bool, 5> seen{};
    for (const dom::key_value_pair member : top) {
        std::size_t which = 0;
        while (which < kMembers.size() && member.key != kMembers[which]) ++which;
        if (which == kMembers.size() || seen[which]) return std::nullopt;
        seen[which] = true;
        if (!canonical_member(which, member.value, meta)) return std::nullopt;
    }
    for (const bool s : seen)
        if (!s) return std::nullopt;
    // The corpus texts stay where the parse wrote them, in the document's string buffer:
    // the metadata keeps that buffer and nothing else of the parser.
    auto strings = std::make_shared<dom::document>(std::move(parser.doc));
    strings->tape.reset();
    meta.storage = std::move(strings);
    return meta;
}

/// Reads `text`, which has the padding behind it; throws Refusal.
MmapMeta read_padded(std::string_view text) {
    Reader reader(text);
    return reader.read(simdjson::padded_string_view(text.data(), text.size(), text.size() + meta_padding()));
}

}  // namespace

std::size_t meta_padding() noexcept { return simdjson::SIMDJSON_PADDING; }

std::size_t meta_max_bytes() noexcept { return simdjson::SIMDJSON_MAXSIZE_BYTES; }

MmapMeta parse_mmap_meta(std::string_view json) {
    const auto fail = [&](const Refusal& r) {
        std::string message = r.message;
        if (r.at) {
            const TextPosition p = *r.at >= json.size() ? position_of(json, json.size())
                                                       : position_of(json, *r.at);
            // The end of the text is the column of its last character (0 on an empty line).
            const std::size_t column = *r.at >= json.size() ? p.column - 1 : p.column;
            message += at_position({p.line, column});
        }
        throw IndexDirError(message);
    };
    try {
        if (auto meta = read_canonical(json)) return std::move(*meta);
        return read_padded(json);
    } catch (const Refusal& r) {
        // A complete value followed by more than whitespace: the parser may have refused
        // the whole text as malformed; the value alone decides whether it is well formed
        // (its own refusal is reported) or the text has trailing characters.
        const auto end = first_value_end(json);
        if (end && *end < json.size() && r.message.rfind("trailing characters", 0) != 0) {
            std::size_t next = *end;
            while (next < json.size() && is_json_space(json[next])) ++next;
            if (next < json.size()) {
                std::string prefix(*end + meta_padding(), '\0');
                prefix.replace(0, *end, json.substr(0, *end));
                try {
                    read_padded(std::string_view(prefix).substr(0, *end));
                } catch (const Refusal& inner) {
                    fail(inner);
                }
                fail(Refusal{"trailing characters", next});
            }
        }
        fail(r);
    }
    return {};
}

}  // namespace tarnwick::search
