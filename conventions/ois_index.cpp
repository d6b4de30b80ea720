#include "conventions/ois_index.hpp"

namespace tsr {

OisIndex::OisIndex(const ObjectTree& tree)
    : Index(tree.get<std::string>("id")),
      currency_(tree.get_optional<std::string>("currency").value_or("")),
      calendar_(tree.get<std::string>("calendar")), dayCount_(tree.get<std::string>("day count")) {}

OisIndex::~OisIndex() = default;

} // namespace tsr
