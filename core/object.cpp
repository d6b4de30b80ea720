#include "core/object.hpp"

#include <typeinfo>

namespace tsr {

Object::~Object() = default;

const char* Object::typeName() const {
    return typeid(*this).name();
}

} // namespace tsr
