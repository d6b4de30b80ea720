#pragma once

#include "conventions/generator.hpp"

#include <string>

namespace tsr {

// Deposit conventions. They can be registered, but no product is generated
// from them: the curve builder skips deposit rows.
class GeneratorDeposit : public Generator {
public:
    explicit GeneratorDeposit(const ObjectTree& tree);
    ~GeneratorDeposit() override;

    std::string currency() const { return currency_; }
    std::string tenor() const { return tenor_; }
    int startDelay() const { return startDelay_; }
    std::string payAdjustment() const { return payAdjustment_; }
    std::string payCalendar() const { return payCalendar_; }
    std::string accrualAdjustment() const { return accrualAdjustment_; }
    std::string accrualCalendar() const { return accrualCalendar_; }

private:
    std::string currency_;
    std::string tenor_;
    int startDelay_;
    std::string payAdjustment_;
    std::string payCalendar_;
    std::string accrualAdjustment_;
    std::string accrualCalendar_;
};

} // namespace tsr
