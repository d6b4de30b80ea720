#include "conventions/generator.hpp"

namespace tsr {

Generator::Generator(const ObjectTree& tree) : id_(tree.get<std::string>("id")) {}

Generator::~Generator() = default;

} // namespace tsr
