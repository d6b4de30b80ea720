#include "conventions/index_repository.hpp"

namespace tsr {

IndexRepository& IndexRepository::instance() {
    static IndexRepository repository;
    return repository;
}

} // namespace tsr
