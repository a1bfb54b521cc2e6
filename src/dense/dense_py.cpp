#include "dense/dense_py.hpp"

#include "py/args.hpp"
#include "py/convert.hpp"

namespace tarnwick::search {

FloatRows rows_arg(const char* name, PyObject* matrix) {
    FloatRows rows;
    py::arg(name, [&] {
        py::for_each_item(matrix, [&](PyObject* row) {
            py::require_sequence(row, "a sequence");
            py::append_f32(row, rows.values);
            rows.end_row();
        });
        return 0;
    });
    return rows;
}

std::vector<float> vector_arg(const char* name, PyObject* o) {
    std::vector<float> out;
    py::arg(name, [&] {
        py::require_sequence(o, "a sequence");
        py::append_f32(o, out);
        return 0;
    });
    return out;
}

}  // namespace tarnwick::search
