#pragma once

#include "conventions/generator.hpp"

#include <memory>

namespace tsr {

// Builds a swap ("irs") or deposit ("dep") generator from its "type".
class GeneratorFactory {
public:
    static std::shared_ptr<Generator> build(const ObjectTree& tree);
};

} // namespace tsr
