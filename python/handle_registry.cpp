#include "python/handle_registry.hpp"

std::unordered_map<void*, std::shared_ptr<const tsr::Object>> pool;
