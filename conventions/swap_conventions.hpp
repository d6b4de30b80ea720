#pragma once

#include "conventions/generator_swap.hpp"
#include "conventions/swap_leg_rules.hpp"

#include <array>
#include <memory>
#include <optional>

namespace tsr {

// A swap generator with the schedule rules of both legs parsed, shared by every swap of a
// book that uses these conventions. Immutable once built, so threads may share it.
class SwapConventions {
public:
    // Throws "Error, the generator has no leg<k>." for an absent leg, and the parse errors
    // of SwapLegRules for unknown names.
    explicit SwapConventions(std::shared_ptr<const GeneratorSwap> generator);

    const GeneratorSwap& generator() const { return *generator_; }
    const GeneratorSwap::SwapLeg& leg(std::size_t k) const { return *generator_->legs()[k]; }
    const SwapLegRules& rules(std::size_t k) const { return *rules_[k]; }

private:
    std::shared_ptr<const GeneratorSwap> generator_;
    std::array<std::optional<SwapLegRules>, 2> rules_;
};

} // namespace tsr
