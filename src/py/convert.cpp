#include "py/convert.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace tarnwick::py {

uint64_t to_u64(PyObject* o) {
    if (PyLong_Check(o)) {
        const unsigned long long v = PyLong_AsUnsignedLongLong(o);
        if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw_already_set();
        return v;
    }
    Object idx = check(py::number_index(o));
    const unsigned long long v = PyLong_AsUnsignedLongLong(idx.get());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw_already_set();
    return v;
}

double to_f64(PyObject* o) {
    const double v = py::float_value(o);
    if (v == -1.0 && PyErr_Occurred()) throw_already_set();
    return v;
}

namespace {

/// Whether `o` is a numpy bool scalar (numpy.bool_, named numpy.bool from numpy 2 on).
bool is_numpy_bool(PyObject* o) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(o));
    const Object module = Object::steal(py::get_attr(type, "__module__"));
    if (!module) {
        PyErr_Clear();
        return false;
    }
    if (!PyUnicode_Check(module.get()) || PyUnicode_CompareWithASCIIString(module.get(), "numpy") != 0)
        return false;
    const Object name = Object::steal(py::get_attr(type, "__name__"));
    if (!name) {
        PyErr_Clear();
        return false;
    }
    return PyUnicode_Check(name.get()) &&
           (PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
            PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0);
}

}  // namespace

float to_f32(PyObject* o) { return round_f32(to_f64(o)); }

void require_sequence(PyObject* o, const char* what) {
    if (PyUnicode_Check(o))
        throw Error{PyExc_TypeError, std::string("a str is not accepted as ") + what, {}};
    if (!PySequence_Check(o))
        throw Error{PyExc_TypeError,
                    "'" + type_name(o) + "' object cannot be converted to 'Sequence'", {}};
}

bool to_bool(PyObject* o) {
    if (o == Py_True) return true;
    if (o == Py_False) return false;
    if (is_numpy_bool(o)) {
        const int v = py::is_true(o);
        if (v < 0) throw_already_set();
        return v != 0;
    }
    throw Error{PyExc_TypeError, "'" + type_name(o) + "' object cannot be converted to 'PyBool'", {}};
}

std::string_view to_str(PyObject* o) {
    if (!PyUnicode_Check(o))
        throw Error{PyExc_TypeError,
                    "'" + type_name(o) + "' object cannot be converted to 'PyString'", {}};
    Py_ssize_t n = 0;
    const char* p = PyUnicode_AsUTF8AndSize(o, &n);
    if (!p) throw_already_set();
    return {p, static_cast<std::size_t>(n)};
}

std::size_t str_code_points(PyObject* s, uint32_t* out, std::size_t room) {
    static_assert(sizeof(Py_UCS4) == sizeof(uint32_t));
#if defined(__STDC_ISO_10646__) || defined(__APPLE__)
    if constexpr (sizeof(wchar_t) == sizeof(uint32_t)) {
        // wchar_t holds code points here, so the interpreter copies them as they are and
        // reports how many it copied: fewer than `room` is the whole text (it stops at the
        // end, after writing a terminator that still fits), so no separate length is read.
        if (room != 0) {
            const Py_ssize_t r =
                PyUnicode_AsWideChar(s, reinterpret_cast<wchar_t*>(out), static_cast<Py_ssize_t>(room));
            if (r < 0) throw_already_set();
            if (static_cast<std::size_t>(r) < room) return static_cast<std::size_t>(r);
        }
        const Py_ssize_t len = PyUnicode_GetLength(s);
        if (len < 0) throw_already_set();
        return static_cast<std::size_t>(len);
    }
#endif
    const Py_ssize_t len = PyUnicode_GetLength(s);
    if (len < 0) throw_already_set();
    const auto n = static_cast<std::size_t>(len);
    if (n <= room) copy_code_points(s, out, n);
    return n;
}

void copy_code_points(PyObject* s, uint32_t* out, std::size_t len) {
    if (len != 0 && !PyUnicode_AsUCS4(s, reinterpret_cast<Py_UCS4*>(out), static_cast<Py_ssize_t>(len), 0))
        throw_already_set();
}

std::string to_str_lossy(PyObject* o) {
    if (!PyUnicode_Check(o))
        throw Error{PyExc_TypeError,
                    "'" + type_name(o) + "' object cannot be converted to 'PyString'", {}};
    Py_ssize_t n = 0;
    if (const char* p = PyUnicode_AsUTF8AndSize(o, &n)) return std::string(p, static_cast<std::size_t>(n));
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw_already_set();
    PyErr_Clear();
    // With "surrogatepass" a surrogate becomes the three bytes ED A0..BF 80..BF, which no
    // well-formed UTF-8 holds (ED is followed by 80..9F there): each such triple is one
    // code point to replace.
    const Object bytes = check(PyUnicode_AsEncodedString(o, "utf-8", "surrogatepass"));
    char* data = nullptr;
    if (PyBytes_AsStringAndSize(bytes.get(), &data, &n) < 0) throw_already_set();
    std::string out;
    out.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (static_cast<unsigned char>(data[i]) == 0xED && i + 2 < n &&
            static_cast<unsigned char>(data[i + 1]) >= 0xA0) {
            out.append("\xef\xbf\xbd");
            i += 2;
            continue;
        }
        out.push_back(data[i]);
    }
    return out;
}

std::size_t room_for(PyObject* o, Py_ssize_t n, std::size_t item_bytes) {
    // Beyond the machine's memory no claim can be true; below it a list's or tuple's
    // items exist, and any other object gets at most kMaxGuess bytes up front: a false
    // claim then costs one MiB per conversion (a processor returning such an object costs
    // it once per item), and an honest long iterable grows the vector by doubling past it.
    constexpr std::size_t kMaxGuess = std::size_t{1} << 20;
    static const std::size_t memory = [] {
        const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
        return pages > 0 && page > 0 ? static_cast<std::size_t>(pages) * static_cast<std::size_t>(page)
                                     : SIZE_MAX;
    }();
    const auto count = static_cast<std::size_t>(n);
    if (count > memory / std::max<std::size_t>(item_bytes, 1)) throw TooLong{count};
    if (PyList_CheckExact(o) || PyTuple_CheckExact(o)) return count;
    return std::min(count, kMaxGuess / std::max<std::size_t>(item_bytes, 1));
}

StrList to_str_list(PyObject* o) {
    require_sequence(o, "a sequence of str");
    StrList out;
    const Py_ssize_t n = park_if_ended([&] { return PySequence_Size(o); });
    if (n < 0) throw_already_set();
    const std::size_t room = room_for(o, n, sizeof(Object) + sizeof(std::string_view));
    out.objects.reserve(room);
    out.views.reserve(room);
    const Object it = check(py::get_iter(o));
    cancel::Budget budget;
    while (Object item = Object::steal(py::iter_next(it.get()))) {
        out.views.push_back(to_str(item.get()));
        out.objects.push_back(std::move(item));
        // A str's first UTF-8 form costs about a nanosecond per byte.
        budget.spend(64 + out.views.back().size());
    }
    check_error();
    return out;
}

std::vector<uint8_t> to_bool_list(PyObject* o) {
    require_sequence(o, "a sequence of bool");
    std::vector<uint8_t> out;
    const Py_ssize_t n = park_if_ended([&] { return PySequence_Size(o); });
    if (n < 0) throw_already_set();
    out.reserve(room_for(o, n, sizeof(uint8_t)));
    const Object it = check(py::get_iter(o));
    cancel::Budget budget;
    while (const Object item = Object::steal(py::iter_next(it.get()))) {
        out.push_back(to_bool(item.get()) ? 1 : 0);
        budget.spend(64);
    }
    check_error();
    return out;
}

void check_tuple(PyObject* o, Py_ssize_t n) {
    if (!PyTuple_Check(o))
        throw Error{PyExc_TypeError,
                    "'" + type_name(o) + "' object cannot be converted to 'PyTuple'", {}};
    const Py_ssize_t len = PyTuple_Size(o);
    if (len != n)
        throw Error{PyExc_ValueError, "expected tuple of length " + std::to_string(n) +
                                          ", but got tuple of length " + std::to_string(len),
                    {}};
}

void append_f32(PyObject* seq, std::vector<float>& out) {
    if (PyList_CheckExact(seq)) {
        // Reading an exact float runs no Python code, so the list cannot change under the
        // loop; any other item may run __float__ or __index__, after which the length is
        // read again, as the list's own iterator would.
        const std::size_t base = out.size();
        Py_ssize_t n = PyList_Size(seq);
        const std::size_t need = base + static_cast<std::size_t>(n);
        if (need > out.capacity()) out.reserve(std::max(need, 2 * out.capacity()));
        out.resize(need);
        for (Py_ssize_t k = 0; k < n; ++k) {
            PyObject* x = PyList_GetItem(seq, k);
            if (PyFloat_CheckExact(x)) {
                out[base + static_cast<std::size_t>(k)] = round_f32(PyFloat_AsDouble(x));
                continue;
            }
            const Object held = Object::borrow(x);
            out[base + static_cast<std::size_t>(k)] = to_f32(x);
            n = std::max(PyList_Size(seq), k + 1);
            out.resize(base + static_cast<std::size_t>(n));
        }
        return;
    }
    require_sequence(seq, "a sequence");
    reserve_for(seq, out);
    for_each_item(seq, [&](PyObject* x) { out.push_back(to_f32(x)); });
}

namespace {

/// The memory error of a matrix list that could not be allocated.
[[noreturn]] void throw_matrix_memory_error(std::size_t rows, std::size_t cols, const char* what) {
    if (!PyErr_ExceptionMatches(PyExc_MemoryError)) throw_already_set();
    PyErr_Clear();
    PyErr_Format(PyExc_MemoryError, "out of memory for the %zu x %zu %s", rows, cols, what);
    throw_already_set();
}

}  // namespace

Object new_matrix_list(std::size_t rows, std::size_t cols, const char* what) {
    if (cols != 0 && rows > static_cast<std::size_t>(PY_SSIZE_T_MAX) / cols) throw std::bad_alloc();
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(rows * cols));
    if (!list) throw_matrix_memory_error(rows, cols, what);
    return Object::steal(list);
}

namespace {

/// The iterator that matrix_list hands to the list constructor: it reports the list's
/// length (so that the storage is allocated once, exactly) and gives out the items of
/// its buffer, refilled by the fill function when it runs out.
struct FillIter {
    static constexpr std::size_t kBatch = 512;

    PyObject ob_base;
    ListFill fill;
    void* ctx;
    std::size_t left;   // items not yet filled
    std::size_t pos;    // the next item of the buffer to give out
    std::size_t count;  // items in the buffer
    bool started;       // whether the fill function was called
    PyObject* items[kBatch];

    static FillIter* cast(PyObject* o) noexcept { return reinterpret_cast<FillIter*>(o); }

    static Py_ssize_t length(PyObject* self) noexcept {
        const FillIter* it = cast(self);
        return static_cast<Py_ssize_t>(it->left + (it->count - it->pos));
    }

    static PyObject* next(PyObject* self) noexcept {
        FillIter* it = cast(self);
        if (it->pos < it->count) return it->items[it->pos++];
        return refill(it);
    }

    /// The first item of the next batch; null at the end (or with the fill's error set).
    [[gnu::noinline]] static PyObject* refill(FillIter* it) noexcept {
        if (it->left == 0) return nullptr;
        return guard([&]() -> PyObject* {
            it->started = true;
            const std::size_t room = std::min(it->left, kBatch);
            const std::size_t k = it->fill(it->ctx, it->items, room);
            if (k == 0 || k > room) throw Error{PyExc_SystemError, "a list fill gave no items", {}};
            it->left -= k;
            it->count = k;
            it->pos = 1;
            return it->items[0];
        });
    }

    static void dealloc(PyObject* self) noexcept {
        FillIter* it = cast(self);
        for (std::size_t i = it->pos; i < it->count; ++i) Py_DECREF(it->items[i]);
        PyTypeObject* t = Py_TYPE(self);
        auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(t, Py_tp_free));
        free_fn(self);
        Py_DECREF(reinterpret_cast<PyObject*>(t));
    }

    /// The type, built once per process; borrowed.
    static PyTypeObject* type() {
        static PyTypeObject* t = [] {
            PyType_Slot slots[] = {
                {Py_tp_dealloc, reinterpret_cast<void*>(&FillIter::dealloc)},
                {Py_tp_iter, reinterpret_cast<void*>(&PyObject_SelfIter)},
                {Py_tp_iternext, reinterpret_cast<void*>(&FillIter::next)},
                {Py_mp_length, reinterpret_cast<void*>(&FillIter::length)},
                {0, nullptr},
            };
            PyType_Spec spec{"tarnwick._ListFill", static_cast<int>(sizeof(FillIter)), 0,
                             Py_TPFLAGS_DEFAULT, slots};
            return reinterpret_cast<PyTypeObject*>(check(PyType_FromSpec(&spec)).release());
        }();
        return t;
    }
};

}  // namespace

Object matrix_list(std::size_t rows, std::size_t cols, const char* what, ListFill fill, void* ctx) {
    if (cols != 0 && rows > static_cast<std::size_t>(PY_SSIZE_T_MAX) / cols) throw std::bad_alloc();
    const std::size_t n = rows * cols;
    if (n == 0) return check(PyList_New(0));
    PyTypeObject* t = FillIter::type();
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(t, Py_tp_alloc));
    const Object iter = check(alloc(t, 0));
    FillIter* it = FillIter::cast(iter.get());
    it->fill = fill;
    it->ctx = ctx;
    it->left = n;
    it->pos = it->count = 0;
    it->started = false;
    Object list = Object::steal(call(reinterpret_cast<PyObject*>(&PyList_Type), iter.get()));
    if (!list) {
        // Allocating the list's storage is the one failure before the first fill.
        if (!it->started) throw_matrix_memory_error(rows, cols, what);
        throw_already_set();
    }
    if (static_cast<std::size_t>(PyList_Size(list.get())) != n)
        throw Error{PyExc_SystemError, "a list fill ended early", {}};
    return list;
}

Object from_f64(double v) { return check(PyFloat_FromDouble(v)); }
Object from_u64(uint64_t v) { return check(PyLong_FromUnsignedLongLong(v)); }
Object from_i64(int64_t v) { return check(PyLong_FromLongLong(v)); }
Object from_str(std::string_view s) {
    return check(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
}
Object from_bool(bool b) { return Object::borrow(b ? Py_True : Py_False); }

void throw_too_long(const char* name, const TooLong& t) {
    throw Error{PyExc_MemoryError, std::string("argument '") + name + "': " + too_long_message(t), {}};
}

void throw_argument_error(const char* name) {
    if (!PyErr_Occurred()) throw_already_set();
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw ErrorAlreadySet{};
    Object exc = fetch_error();
    if (reinterpret_cast<PyObject*>(Py_TYPE(exc.get())) != PyExc_TypeError) {
        // A subclass of TypeError passes unchanged.
        PyObject* type = Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())));
        PyObject* tb = PyException_GetTraceback(exc.get());
        PyErr_Restore(type, exc.release(), tb);
        throw ErrorAlreadySet{};
    }
    std::string msg = std::string("argument '") + name + "': " + exception_message(exc.get());
    throw Error{PyExc_TypeError, std::move(msg), std::move(exc)};
}

}  // namespace tarnwick::py
