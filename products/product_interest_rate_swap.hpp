#pragma once

#include "conventions/generator.hpp"
#include "conventions/generator_swap.hpp"
#include "products/product.hpp"
#include "products/swap_terms.hpp"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace tsr {

class SwapConventions;

// A two-leg swap whose schedules come from a swap generator and whose
// numbers (dates, fixed rate, margin, notionals) come from the trade tree.
class ProductInterestRateSwap : public Product {
public:
    struct SwapLeg {
        std::string currency;
        bool isFixed = false;
        bool isPaid = false;
        std::string index;
        double margin = 0.0;
        double rate = 0.0;
        double notional = 0.0;
        std::vector<date> accrualStartDates;
        std::vector<date> accrualEndDates;
        std::vector<date> paymentDates;
        std::vector<double> dayCountFractions;
    };

    ProductInterestRateSwap(std::shared_ptr<const Generator> generator, const ObjectTree& tree);

    // The same swap from typed terms and conventions parsed beforehand: every field equals
    // what the tree constructor gives for the same generator and numbers.
    ProductInterestRateSwap(const SwapConventions& conventions, const SwapTerms& terms);
    // The same swap again, its schedules copied from `sameSchedules`: a swap built from the
    // same conventions, start and end dates on the same calendars.
    ProductInterestRateSwap(const ProductInterestRateSwap& sameSchedules,
                            const SwapConventions& conventions, const SwapTerms& terms);
    ~ProductInterestRateSwap() override;

    // The later of the two legs' last payment dates.
    date lastDate() const override;

    // Per floating leg with a running period, the index calendar's business
    // days from the start of that period through asOf, keyed by index name.
    ObjectTree requiredFixings(date asOf) const;

    // The same walk as plain values, one entry per floating leg with a running period, leg 1
    // first; large results (an asOf decades after the end) stay one date per day found.
    struct FixingDays {
        std::string index;
        std::vector<date> days;
    };
    std::vector<FixingDays> requiredFixingDays(date asOf) const;

    // The unpriced schedule of both legs, "Leg1" and "Leg2".
    ObjectTree cashFlows() const;

    date startDate() const { return startDate_; }
    date endDate() const { return endDate_; }
    const std::array<SwapLeg, 2>& legs() const { return legs_; }

private:
    void requireOrderedDates() const;
    // Flags and numbers of leg k from its generator leg; the schedule is filled already.
    void setLegTerms(std::size_t k, const GeneratorSwap::SwapLeg& convention,
                     const SwapLegTerms& terms);

    date startDate_;
    date endDate_;
    std::array<SwapLeg, 2> legs_;
};

// The leg's schedule as table columns: accrual start and end, payment date and day count
// fraction, in that order; cash-flow tables append their own columns.
ObjectTree scheduleTable(const ProductInterestRateSwap::SwapLeg& leg);

} // namespace tsr
