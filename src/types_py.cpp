#include "types_py.hpp"

#include "cancel.hpp"
#include "py/convert.hpp"
#include "text/block_bytes.hpp"
#include "text/utf8.hpp"

#include <cmath>
#include <cstring>
#include <optional>
#include <span>
#include <tuple>
#include <utility>

namespace tarnwick::types {
namespace {

/// One element of an Items sequence.
uint64_t item_element(PyObject* item) {
    if (PyUnicode_Check(item)) {
        Py_ssize_t n = 0;
        if (!PyUnicode_AsUTF8AndSize(item, &n)) py::throw_already_set();
        if (PyUnicode_GetLength(item) == 1) return PyUnicode_ReadChar(item, 0);
    } else if (PyLong_Check(item)) {
        const unsigned long long v = PyLong_AsUnsignedLongLong(item);
        if (!(v == static_cast<unsigned long long>(-1) && PyErr_Occurred())) return v;
        PyErr_Clear();
    } else if (PyIndex_Check(item)) {
        py::Object idx = py::Object::steal(py::number_index(item));
        if (idx) {
            const unsigned long long v = PyLong_AsUnsignedLongLong(idx.get());
            if (!(v == static_cast<unsigned long long>(-1) && PyErr_Occurred())) return v;
        }
        py::clear_ordinary_error();
    }
    const Py_hash_t h = py::hash(item);
    if (h == -1 && PyErr_Occurred()) py::throw_already_set();
    return static_cast<uint64_t>(h);
}

/// Whether a str whose UTF-8 form is `utf8` is pure ASCII: its UTF-8 form then has one
/// byte per code point. A word's bytes are tested inline; a longer text compares its
/// length instead, which costs the same at any length, and sets `len` to it (else `len`
/// stays 0: not read).
inline bool str_is_ascii(PyObject* obj, std::string_view utf8, std::size_t& len) {
    if (utf8.size() <= 16) return text::is_ascii(utf8);
    const Py_ssize_t n = PyUnicode_GetLength(obj);
    if (n < 0) py::throw_already_set();
    len = static_cast<std::size_t>(n);
    return len == utf8.size();
}

/// The text forms of the conversion: str and bytes. Returns false for any other object.
/// A str whose code points all lie below 128 or in one block of two-byte code points is
/// given as the bytes `block_bytes(utf8, block)` gives, when it gives them (see
/// text::decode_block_bytes). Any other non-ASCII text is decoded
/// into the code points at `first` when they fit there, else into the `len` code points
/// at `buffer(len)`; then `make(out, p, len)` makes `out` the sequence of the `len` code
/// points at `p`.
template <class BlockBytes, class Buffer, class Make>
bool extract_text(PyObject* obj, std::span<uint32_t> first, BlockBytes&& block_bytes, Buffer&& buffer,
                  Seq& out, Make&& make) {
    // The exact type first: the subclass test is a call into the interpreter.
    if (PyUnicode_CheckExact(obj) || PyUnicode_Check(obj)) {
        Py_ssize_t n = 0;
        const char* p = PyUnicode_AsUTF8AndSize(obj, &n);
        if (!p) py::throw_already_set();
        const std::string_view utf8(p, static_cast<std::size_t>(n));
        std::size_t len = 0;
        if (str_is_ascii(obj, utf8, len)) {
            out.view_bytes(reinterpret_cast<const uint8_t*>(p), utf8.size(), Seq::kNoHighBytes);
            return true;
        }
        // Text of one block has at most two UTF-8 bytes per code point: a text known to
        // have more is not read (its separately allocated UTF-8 form may be out of cache).
        if (len == 0 || utf8.size() <= 2 * len) {
            uint32_t block = text::kLatin1Block;
            if (const std::optional<std::span<const uint8_t>> bytes = block_bytes(utf8, block)) {
                out.view_bytes(bytes->data(), bytes->size(), block);
                return true;
            }
        }
        // The code points are copied from the string's own storage, which lies next to the
        // object, rather than decoded from its separately allocated UTF-8 form.
        // One call copies them into `first` and tells their number, unless they are known
        // not to fit there; a text too long for it is copied into room for all of it.
        uint32_t* buf = first.data();
        if (len == 0 || len <= first.size()) len = py::str_code_points(obj, buf, first.size());
        if (len > first.size()) {
            buf = buffer(len);
            py::copy_code_points(obj, buf, len);
        }
        make(out, buf, len);
        out.set_text(utf8);
        return true;
    }
    if (PyBytes_Check(obj)) {
        char* p = nullptr;
        Py_ssize_t n = 0;
        if (PyBytes_AsStringAndSize(obj, &p, &n) < 0) py::throw_already_set();
        out.view_bytes(reinterpret_cast<const uint8_t*>(p), static_cast<std::size_t>(n));
        return true;
    }
    return false;
}

/// The items form of the conversion: one element per item of any iterable.
Seq extract_items(PyObject* obj) {
    py::Object it = py::Object::steal(py::get_iter(obj));
    if (!it) {
        py::clear_ordinary_error();
        throw py::Error{PyExc_TypeError, "expected str, bytes, or sequence", {}};
    }
    std::vector<uint64_t> items;
    py::reserve_for(obj, items);
    while (true) {
        // An endless iterator written in C (itertools.count()) runs no Python code that
        // would see Ctrl-C.
        cancel::cancellation_point();
        py::Object item = py::Object::steal(py::iter_next(it.get()));
        if (!item) {
            if (PyErr_Occurred()) py::throw_already_set();
            break;
        }
        items.push_back(item_element(item.get()));
    }
    return Seq::items(std::move(items));
}

}  // namespace

Seq extract_single(PyObject* obj) {
    std::vector<uint32_t> buffer;
    Seq out;
    const auto no_bytes = [](std::string_view, uint32_t&) {
        return std::optional<std::span<const uint8_t>>();
    };
    if (extract_text(
            obj, {}, no_bytes,
            [&](std::size_t len) {
                buffer.resize(len);
                return buffer.data();
            },
            out, [&](Seq& o, const uint32_t*, std::size_t) { o = Seq::chars(std::move(buffer)); }))
        return out;
    return extract_items(obj);
}

bool is_none(PyObject* obj) {
    if (obj == Py_None) return true;
    // Exact str and bytes have no float value: skip the failing conversion.
    if (PyUnicode_CheckExact(obj)) {
        if (PyUnicode_GetLength(obj) != 4) return false;
        Py_ssize_t n = 0;
        const char* p = PyUnicode_AsUTF8AndSize(obj, &n);
        if (!p) {
            PyErr_Clear();
            return false;
        }
        return n == 4 && std::memcmp(p, "<NA>", 4) == 0;
    }
    if (PyBytes_CheckExact(obj)) return false;
    if (PyFloat_Check(obj)) return std::isnan(PyFloat_AsDouble(obj));
    const double v = py::float_value(obj);
    if (!(v == -1.0 && PyErr_Occurred())) return std::isnan(v);
    py::clear_ordinary_error();
    py::Object s = py::Object::steal(py::str(obj));
    if (!s) {
        py::clear_ordinary_error();
        return false;
    }
    Py_ssize_t n = 0;
    const char* p = PyUnicode_AsUTF8AndSize(s.get(), &n);
    if (!p) {
        PyErr_Clear();
        return false;
    }
    return n == 4 && std::memcmp(p, "<NA>", 4) == 0;
}

std::pair<py::Object, py::Object> get_processed_args(PyObject* s1, PyObject* s2, PyObject* processor) {
    if (processor == nullptr || processor == Py_None)
        return {py::Object::borrow(s1), py::Object::borrow(s2)};
    py::Object a = py::check(py::call(processor, s1));
    py::Object b = py::check(py::call(processor, s2));
    return {std::move(a), std::move(b)};
}


// ---- Prepared pairs ----

/// This thread's buffers for the code points of two inputs, lent to one prepared pair at a
/// time (a nested call, e.g. from a __hash__ or a finalizer, gets owned vectors instead).
/// A buffer only grows, so that decoding into it never clears it first.
struct PreparedPair::Scratch {
    std::vector<uint32_t> chars[2];
    bool busy = false;

    /// This thread's instance.
    static Scratch& get() noexcept {
        static thread_local Scratch s;
        return s;
    }
};

namespace {

/// Buffers above this many elements are released after use rather than kept.
constexpr std::size_t kScratchKeep = std::size_t{1} << 16;

}  // namespace

PreparedPair::PreparedPair(PreparedPair&& o) noexcept
    : p1(std::move(o.p1)), p2(std::move(o.p2)), a(std::move(o.a)), b(std::move(o.b)),
      scratch_(std::exchange(o.scratch_, nullptr)) {
    // Sequences viewing the other pair's own buffers view this pair's copies.
    Seq* seqs[2] = {&a, &b};
    for (std::size_t k = 0; k < 2; ++k) {
        Seq& s = *seqs[k];
        const auto* own_bytes = reinterpret_cast<const uint8_t*>(o.inline_[k]);
        if (s.kind() == SeqKind::Bytes && s.as_bytes().data() == own_bytes) {  // Latin1::Bytes
            std::memcpy(inline_[k], o.inline_[k], s.size());
            s.view_bytes(reinterpret_cast<const uint8_t*>(inline_[k]), s.size(), s.byte_block());
            continue;
        }
        if (s.kind() != SeqKind::Chars || s.as_chars().data() != o.inline_[k]) continue;
        std::memcpy(inline_[k], o.inline_[k], s.size() * sizeof(uint32_t));
        const std::string_view* text = s.text();
        const std::string_view t = text ? *text : std::string_view();
        s.view_chars(inline_[k], s.size());
        if (text) s.set_text(t);
    }
}

PreparedPair::~PreparedPair() {
    if (!scratch_) return;
    for (auto& v : scratch_->chars)
        if (v.capacity() > kScratchKeep) std::vector<uint32_t>().swap(v);
    scratch_->busy = false;
}

/// One input of the pair, written into `out`: the code points (or, with Latin1::Bytes, the
/// Latin-1 bytes) of a short text are kept in the pair; a longer text is decoded into
/// scratch buffer `slot` of this thread when the pair holds (or can take) the scratch,
/// else into an owned vector.
void PreparedPair::extract(PyObject* obj, std::size_t slot, Seq& out, Latin1 latin1) {
    std::vector<uint32_t> own;
    bool view = false;
    auto buffer = [&](std::size_t len) -> uint32_t* {
        if (!scratch_) {
            Scratch& s = Scratch::get();
            if (!s.busy) {
                s.busy = true;
                scratch_ = &s;
            }
        }
        if (!scratch_) {
            own.resize(len);
            return own.data();
        }
        std::vector<uint32_t>& buf = scratch_->chars[slot];
        if (buf.size() < len) buf.resize(len);
        view = true;
        return buf.data();
    };
    // A Latin1::Bytes text is decoded into the pair's own buffer, when it fits there.
    auto block_bytes = [&](std::string_view utf8, uint32_t& block) -> std::optional<std::span<const uint8_t>> {
        if (latin1 != Latin1::Bytes || utf8.size() + text::kBlockBytesSlack > sizeof inline_[slot])
            return std::nullopt;
        auto* room = reinterpret_cast<uint8_t*>(inline_[slot]);
        const std::size_t len = text::decode_block_bytes(utf8, room, block);
        if (len == text::kNotOneBlock) return std::nullopt;
        return std::span<const uint8_t>(room, len);
    };
    const auto make = [&](Seq& o, const uint32_t* p, std::size_t len) {
        if (view || p == inline_[slot]) o.view_chars(p, len);
        else o = Seq::chars(std::move(own));
    };
    if (!extract_text(obj, inline_[slot], block_bytes, buffer, out, make)) out = extract_items(obj);
}

namespace {

/// Whether the byte codes of `s` (a sequence of a block other than Latin-1) keep equality
/// against the elements of `other`: bytes of the same block, or bytes below 0x80 only.
bool codes_agree(const Seq& s, const Seq& other) noexcept {
    return other.kind() == SeqKind::Bytes &&
           (other.byte_block() == Seq::kNoHighBytes || other.byte_block() == s.byte_block());
}

/// Whether `s` holds the byte codes of a block other than Latin-1.
bool other_block(const Seq& s) noexcept { return s.byte_block() > Seq::kIdentityBlock; }

}  // namespace

void PreparedPair::fill(PyObject* s1, PyObject* s2, PyObject* processor, Latin1 latin1) {
    if (processor == nullptr || processor == Py_None) {
        p1 = py::Object::borrow(s1);
        p2 = py::Object::borrow(s2);
    } else {
        std::tie(p1, p2) = get_processed_args(s1, s2, processor);
    }
    // The inputs' first lines (a str's header and the start of its characters) are
    // fetched together, rather than each when its conversion reaches it.
    const auto* first = reinterpret_cast<const char*>(p1.get());
    const auto* second = reinterpret_cast<const char*>(p2.get());
    for (int k = 1; k < 3; ++k) __builtin_prefetch(first + 64 * k);
    for (int k = 0; k < 3; ++k) __builtin_prefetch(second + 64 * k);
    py::length_arg("s1", [&] { extract(p1.get(), 0, a, latin1); });
    py::length_arg("s2", [&] { extract(p2.get(), 1, b, latin1); });
    if (other_block(a) || other_block(b)) [[unlikely]]
        match_blocks();
}

void PreparedPair::match_blocks() {
    // The codes of a block other than Latin-1 are compared only with bytes of the same
    // block (or ASCII): otherwise that text is converted again, to its code points.
    const bool redo_a = other_block(a) && !codes_agree(a, b);
    const bool redo_b = other_block(b) && !codes_agree(b, a);
    if (redo_a) py::length_arg("s1", [&] { extract(p1.get(), 0, a, Latin1::Chars); });
    if (redo_b) py::length_arg("s2", [&] { extract(p2.get(), 1, b, Latin1::Chars); });
}

PreparedPair prepare_required(PyObject* s1, PyObject* s2, PyObject* processor) {
    PreparedPair p;
    p.fill(s1, s2, processor);
    return p;
}

bool prepare_pair(PreparedPair& p, PyObject* s1, PyObject* s2, PyObject* processor, Latin1 latin1) {
    if (is_none(s1) || is_none(s2)) return false;
    p.fill(s1, s2, processor, latin1);
    return true;
}

}  // namespace tarnwick::types
