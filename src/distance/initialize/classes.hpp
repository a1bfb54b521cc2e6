// The Python classes of the result model. The records Editop, Opcode, MatchingBlock and
// ScoreAlignment are generated from their field tables below (py/record.hpp); the lists
// Editops and Opcodes share edit_lists.hpp. One file per class beside this header holds
// what that class adds: its equality and hash, or its list operations.
#pragma once

#include "distance/initialize/edit_records.hpp"
#include "distance/initialize/records.hpp"
#include "py/record.hpp"

#include <array>
#include <optional>
#include <tuple>
#include <vector>

namespace tarnwick::py {

template <>
struct ClassInfo<distance::initialize::Editop> {
    using T = distance::initialize::Editop;
    static constexpr const char* name = "Editop";
    static constexpr auto fields = std::tuple{RecordField<&T::tag>{"tag"},
                                              RecordField<&T::src_pos>{"src_pos"},
                                              RecordField<&T::dest_pos>{"dest_pos"}};
    static constexpr bool indexable = true;
    static void slots(std::vector<PyType_Slot>& s);
};

template <>
struct ClassInfo<distance::initialize::Opcode> {
    using T = distance::initialize::Opcode;
    static constexpr const char* name = "Opcode";
    static constexpr auto fields = std::tuple{RecordField<&T::tag>{"tag", "\"equal\""},
                                              RecordField<&T::src_start>{"src_start", "0"},
                                              RecordField<&T::src_end>{"src_end", "0"},
                                              RecordField<&T::dest_start>{"dest_start", "0"},
                                              RecordField<&T::dest_end>{"dest_end", "0"}};
    static constexpr bool indexable = true;
    static void slots(std::vector<PyType_Slot>& s);
};

template <>
struct ClassInfo<distance::initialize::MatchingBlock> {
    using T = distance::initialize::MatchingBlock;
    static constexpr const char* name = "MatchingBlock";
    static constexpr auto fields =
        std::tuple{RecordField<&T::a>{"a"}, RecordField<&T::b>{"b"}, RecordField<&T::size>{"size"}};
    static constexpr bool indexable = false;
    static void slots(std::vector<PyType_Slot>& s);
};

template <>
struct ClassInfo<distance::initialize::ScoreAlignment> {
    using T = distance::initialize::ScoreAlignment;
    static constexpr const char* name = "ScoreAlignment";
    static constexpr auto fields = std::tuple{RecordField<&T::score>{"score"},
                                              RecordField<&T::src_start>{"src_start"},
                                              RecordField<&T::src_end>{"src_end"},
                                              RecordField<&T::dest_start>{"dest_start"},
                                              RecordField<&T::dest_end>{"dest_end"}};
    static constexpr bool indexable = true;
    static void slots(std::vector<PyType_Slot>& s);
};

template <>
struct ClassInfo<distance::initialize::Editops> {
    static constexpr const char* name = "Editops";
    static void slots(std::vector<PyType_Slot>& s);
    static Object args(const distance::initialize::Editops& v);
};

template <>
struct ClassInfo<distance::initialize::Opcodes> {
    static constexpr const char* name = "Opcodes";
    static void slots(std::vector<PyType_Slot>& s);
    static Object args(const distance::initialize::Opcodes& v);
};

}  // namespace tarnwick::py

namespace tarnwick::distance::initialize {

/// An Editop instance, or a tuple of exactly three items (str, unsigned, unsigned);
/// nothing (and no error left set) for anything else. Ctrl-C, SystemExit and memory
/// errors of the conversions propagate.
std::optional<Editop> read_editop(PyObject* item);

/// An Opcode instance, or a tuple whose first five items are (str, four unsigned);
/// nothing (and no error left set) for anything else. Ctrl-C, SystemExit and memory
/// errors of the conversions propagate.
std::optional<Opcode> read_opcode(PyObject* item);

/// Python list of new MatchingBlock objects.
py::Object matching_block_list(const std::vector<MatchingBlock>& blocks);

/// The hash of an Editop or Opcode: record_hash of its tag and its positions, read from
/// its field table.
template <class T>
Py_hash_t edit_record_hash(PyObject* self) noexcept {
    return py::guard(
        [&]() -> Py_hash_t {
            py::Ref<T> r(self);
            // The fields after the tag.
            std::array<uint64_t, py::record::kCount<T> - 1> positions;
            py::record::for_each_field<T>([&](const auto& f, std::size_t i) {
                if constexpr (std::is_same_v<decltype(py::member_type_of(
                                                 std::remove_cvref_t<decltype(f)>::member)),
                                             uint64_t>)
                    positions[i - 1] = (*r).*(f.member);
            });
            return static_cast<Py_hash_t>(record_hash(r->tag, positions));
        },
        Py_hash_t{-1});
}

/// Rich comparison of an Editop or Opcode: == by `equals(record, other)` when the left
/// operand is one (and not being changed), != as the negation of the interpreter's ==;
/// NotImplemented otherwise.
template <class T, bool (*Equals)(const T&, PyObject*)>
PyObject* edit_record_richcompare(PyObject* a, PyObject* b, int op) noexcept {
    return py::guard([&]() -> PyObject* {
        if (op == Py_NE) {
            const int eq = py::rich_compare_bool(a, b, Py_EQ);
            if (eq < 0) py::throw_already_set();
            return Py_NewRef(eq ? Py_False : Py_True);
        }
        if (op != Py_EQ || !py::Class<T>::check(a)) return Py_NewRef(Py_NotImplemented);
        if (py::Class<T>::cast(a)->borrow < 0) return Py_NewRef(Py_NotImplemented);
        py::Ref<T> r(a);
        return Py_NewRef(Equals(*r, b) ? Py_True : Py_False);
    });
}

}  // namespace tarnwick::distance::initialize
