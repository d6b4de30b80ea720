#include "products/product.hpp"

#include <utility>

namespace tsr {

Product::Product(const ObjectTree& tree) : id_(tree.get<std::string>("id")) {}

Product::Product(std::string id) : id_(std::move(id)) {}

Product::~Product() = default;

} // namespace tsr
