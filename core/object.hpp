#pragma once

namespace tsr {

// Root of everything that is stored in trees and registries. Objects are
// shared as std::shared_ptr<const Object> and never change once built.
class Object {
public:
    virtual ~Object();

    // The runtime type name of the most derived class.
    virtual const char* typeName() const;
};

} // namespace tsr
