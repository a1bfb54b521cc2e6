// Registration of the result classes, in the module's fixed order.
#include "distance/initialize/classes.hpp"
#include "distance/initialize/edit_classes.hpp"
#include "module.hpp"
#include "py/module.hpp"

namespace tarnwick::distance::initialize {

void register_classes(py::Module& m) {
    m.add_class<Editop>();
    m.add_class<Editops>();
    m.add_class<Opcode>();
    m.add_class<Opcodes>();
    m.add_class<MatchingBlock>();
    m.add_class<ScoreAlignment>();
}

}  // namespace tarnwick::distance::initialize
