#pragma once

#include "conventions/generator.hpp"
#include "core/registry.hpp"

namespace tsr {

// The process-wide generator registry, filled once at start-up.
class GeneratorRepository : public Registry<Generator> {
public:
    static GeneratorRepository& instance();

private:
    GeneratorRepository() = default;
};

} // namespace tsr
