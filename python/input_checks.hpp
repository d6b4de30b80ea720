#pragma once

#include "conventions/generator_swap.hpp"
#include "python/py_ref.hpp"

#include <algorithm>
#include <string>
#include <vector>

namespace tsr {

// Module functions that list the registered conventions, check one input as the library reads
// it, and register holiday calendars; a table ending in a sentinel.
PyMethodDef* inputCheckFunctions();

// The labels of a registry (generators, indices), sorted.
template <class Registry> std::vector<std::string> sortedLabels(const Registry& registry) {
    std::vector<std::string> labels;
    registry.forEach([&](const std::string& label, const auto&) { labels.push_back(label); });
    std::ranges::sort(labels);
    return labels;
}

// The keys of a swap dict's leg that a generator's leg fixes, as the listing shows them.
PyRef legConventions(const GeneratorSwap::SwapLeg& leg);

} // namespace tsr
