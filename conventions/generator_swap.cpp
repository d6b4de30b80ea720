#include "conventions/generator_swap.hpp"

namespace tsr {

GeneratorSwap::SwapLeg::SwapLeg(const ObjectTree& tree)
    : currency_(tree.get<std::string>("currency")), isFixed_(tree.get<bool>("is fixed")),
      isPaid_(tree.get<bool>("is paid")), calendar_(tree.get<std::string>("calendar")),
      frequency_(tree.get<std::string>("frequency")), payLag_(0) {
    // Read in the order of the description so that the first missing key is
    // the one reported; the day count comes before the adjustments there.
    dayCountConvention_ = tree.get<std::string>("day count convention");
    accrualAdjustment_ = tree.get<std::string>("accrual adjustment");
    accrualCalendar_ = tree.get<std::string>("accrual calendar");
    payAdjustment_ = tree.get<std::string>("pay adjustment");
    payCalendar_ = tree.get<std::string>("pay calendar");
    payLag_ = checkedLagDays(tree.get<int>("pay lag"), "pay lag");
    roll_ = tree.get<std::string>("roll");
}

GeneratorSwap::SwapLeg::~SwapLeg() = default;

GeneratorSwap::SwapLegFixed::SwapLegFixed(const ObjectTree& tree) : SwapLeg(tree) {}

GeneratorSwap::SwapLegFixed::~SwapLegFixed() = default;

GeneratorSwap::SwapLegFloat::SwapLegFloat(const ObjectTree& tree)
    : SwapLeg(tree), index_(tree.get<std::string>("index")) {}

GeneratorSwap::SwapLegFloat::~SwapLegFloat() = default;

GeneratorSwap::GeneratorSwap(const ObjectTree& tree)
    : Generator(tree), startDelay_(checkedLagDays(tree.get<int>("start delay"), "start delay")),
      calendar_(tree.get<std::string>("calendar")) {
    const char* keys[] = {"leg1", "leg2"};
    for (std::size_t k = 0; k < legs_.size(); ++k) {
        const auto leg = tree.get_child_optional(keys[k]);
        if (!leg) {
            continue;
        }
        if (leg->get<bool>("is fixed")) {
            legs_[k] = std::make_shared<SwapLegFixed>(*leg);
        } else {
            legs_[k] = std::make_shared<SwapLegFloat>(*leg);
        }
    }
}

GeneratorSwap::~GeneratorSwap() = default;

} // namespace tsr
