#include "conventions/generator_repository.hpp"

namespace tsr {

GeneratorRepository& GeneratorRepository::instance() {
    static GeneratorRepository repository;
    return repository;
}

} // namespace tsr
