#include "products/product.hpp"

namespace tsr {

Product::Product(const ObjectTree& tree) : id_(tree.get<std::string>("id")) {}

Product::~Product() = default;

} // namespace tsr
