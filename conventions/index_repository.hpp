#pragma once

#include "conventions/index.hpp"
#include "core/registry.hpp"

namespace tsr {

// The process-wide index registry, filled once at start-up.
class IndexRepository : public Registry<Index> {
public:
    static IndexRepository& instance();

private:
    IndexRepository() = default;
};

} // namespace tsr
