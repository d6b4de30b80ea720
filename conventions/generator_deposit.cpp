#include "conventions/generator_deposit.hpp"

namespace tsr {

GeneratorDeposit::GeneratorDeposit(const ObjectTree& tree)
    : Generator(tree), currency_(tree.get<std::string>("currency")),
      tenor_(tree.get<std::string>("tenor")),
      startDelay_(checkedLagDays(tree.get<int>("start delay"), "start delay")),
      payAdjustment_(tree.get<std::string>("pay adjustment")),
      payCalendar_(tree.get<std::string>("pay calendar")),
      accrualAdjustment_(tree.get<std::string>("accrual adjustment")),
      accrualCalendar_(tree.get<std::string>("accrual calendar")) {}

GeneratorDeposit::~GeneratorDeposit() = default;

} // namespace tsr
