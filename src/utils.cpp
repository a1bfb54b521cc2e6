// Python adapter of the default string processor.
#include "utils_default_process.hpp"

#include "py/convert.hpp"
#include "py/module.hpp"

#include <bit>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::utils {
namespace {

constexpr py::Signature<2> kDefaultProcess{"default_process", {{{"s"}, {"processor", "None"}}}, 1};

/// A new str of the code points `s`.
py::Object from_code_points(std::span<const char32_t> s) {
    const auto n = static_cast<Py_ssize_t>(s.size());
    if constexpr (sizeof(wchar_t) == sizeof(char32_t)) {
        // wchar_t holds code points here: the interpreter copies them without decoding.
        return py::check(PyUnicode_FromWideChar(reinterpret_cast<const wchar_t*>(s.data()), n));
    } else {
        int order = std::endian::native == std::endian::little ? -1 : 1;
        return py::check(
            PyUnicode_DecodeUTF32(reinterpret_cast<const char*>(s.data()), n * 4, nullptr, &order));
    }
}

/// Output buffers of the processor, one set per thread; released after a call that made
/// them large.
struct Buffers {
    static constexpr std::size_t kKeep = std::size_t{1} << 16;
    std::string ascii;
    std::vector<char32_t> chars;

    struct Release {
        Buffers& b;
        ~Release() {
            if (b.ascii.capacity() > kKeep) std::string().swap(b.ascii);
            if (b.chars.capacity() > kKeep) std::vector<char32_t>().swap(b.chars);
        }
    };
};

/// Whether every byte of `s` is below 0x80.
bool is_ascii(std::string_view s) noexcept {
    unsigned char any = 0;
    for (const char c : s) any |= static_cast<unsigned char>(c);
    return any < 0x80;
}

/// default_process of a str that is not pure ASCII, from its code points, copied from
/// the string's own storage rather than decoded from its UTF-8 form; `out` as for
/// default_process_code_points.
[[gnu::noinline]] py::Object process_code_points(PyObject* s, std::vector<char32_t>& out) {
    char32_t small[256];
    std::vector<char32_t> large;
    char32_t* in = small;
    static_assert(sizeof(uint32_t) == sizeof(char32_t));
    // One call gives the length and, for a text that fits, the code points.
    const std::size_t len = py::str_code_points(s, reinterpret_cast<uint32_t*>(small), std::size(small));
    if (len > std::size(small)) {
        large.resize(len);
        in = large.data();
        py::copy_code_points(s, reinterpret_cast<uint32_t*>(in), len);
    }
    const std::span<const char32_t> r = default_process_code_points({in, len}, out);
    char32_t any = 0;
    for (const char32_t c : r) any |= c;
    if (any >= 0x100 || r.size() > std::size(small)) return from_code_points(r);
    // A result below U+0100 throughout is made from one byte per character, which the
    // interpreter copies as it is, instead of narrowing four bytes per character.
    char* bytes = reinterpret_cast<char*>(small);
    for (std::size_t i = 0; i < r.size(); ++i) bytes[i] = static_cast<char>(r[i]);
    return py::check(PyUnicode_DecodeLatin1(bytes, static_cast<Py_ssize_t>(r.size()), nullptr));
}

py::Object default_process_body(const py::Args<2>& a) {
    PyObject* s = a[0];
    if (s == Py_None) return py::from_str("");
    std::string_view text;
    bool latin1 = false;
    if (PyBytes_Check(s)) {
        char* p = nullptr;
        Py_ssize_t n = 0;
        if (PyBytes_AsStringAndSize(s, &p, &n) < 0) py::throw_already_set();
        text = {p, static_cast<std::size_t>(n)};
        latin1 = true;
    } else {
        text = py::to_str(s);
    }
    // This thread's buffers, kept between calls (never above kKeep elements).
    static thread_local Buffers buffers;
    Buffers& buf = buffers;
    const Buffers::Release release{buf};
    if (is_ascii(text)) return py::from_str(default_process_ascii(text, buf.ascii));
    if (latin1) return from_code_points(default_process_latin1(text, buf.chars));
    return process_code_points(s, buf.chars);
}

}  // namespace

void register_functions(py::Module& m) { m.add_function<kDefaultProcess, &default_process_body>(); }

}  // namespace tarnwick::utils
