// Python classes of the edit-operation result model: Editop, Opcode, Editops, Opcodes.
// One file per class beside this header; the item readers the constructors and the
// comparisons share are in edit_items.cpp.
#pragma once

#include "distance/initialize/edit_records.hpp"
#include "py/class.hpp"

#include <optional>

namespace tarnwick::py {
template <>
struct ClassInfo<distance::initialize::Editop> {
    static constexpr const char* name = "Editop";
    static void slots(std::vector<PyType_Slot>& s);
    static Object args(const distance::initialize::Editop& v);
};
template <>
struct ClassInfo<distance::initialize::Opcode> {
    static constexpr const char* name = "Opcode";
    static void slots(std::vector<PyType_Slot>& s);
    static Object args(const distance::initialize::Opcode& v);
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
/// nothing (and no error left set) for anything else.
std::optional<Editop> read_editop(PyObject* item) noexcept;

/// An Opcode instance, or a tuple whose first five items are (str, four unsigned);
/// nothing (and no error left set) for anything else.
std::optional<Opcode> read_opcode(PyObject* item) noexcept;

/// Reads a tag and `n` unsigned fields from items 0..n of a tuple or list; nothing (and
/// no error left set) when an item is missing or does not convert.
bool read_fields(PyObject* seq, bool is_list, std::string& tag, uint64_t* fields,
                 std::size_t n) noexcept;

/// Python list of new MatchingBlock objects.
py::Object matching_block_list(const std::vector<MatchingBlock>& blocks);

/// "'{tag}'" repr pieces of the records.
std::string editop_repr(const Editop& e);
std::string opcode_repr(const Opcode& o);

}  // namespace tarnwick::distance::initialize
