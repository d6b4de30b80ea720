#include "conventions/index.hpp"

#include <utility>

namespace tsr {

Index::Index(std::string id) : id_(std::move(id)) {}

Index::~Index() = default;

} // namespace tsr
