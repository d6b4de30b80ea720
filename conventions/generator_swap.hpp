#pragma once

#include "conventions/generator.hpp"
#include "core/date.hpp"
#include "core/object_tree.hpp"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace tsr {

// Conventions of a two-leg swap. Leg names (frequency, adjustments,
// calendars, day count, roll) are kept as text and parsed when a schedule is
// generated, so a misspelt convention surfaces when a swap is built.
class GeneratorSwap : public Generator {
public:
    class SwapLeg {
    public:
        explicit SwapLeg(const ObjectTree& tree);
        virtual ~SwapLeg();

        std::string currency() const { return currency_; }
        bool isFixed() const { return isFixed_; }
        bool isPaid() const { return isPaid_; }
        std::string calendar() const { return calendar_; }
        std::string frequency() const { return frequency_; }
        std::string accrualAdjustment() const { return accrualAdjustment_; }
        std::string accrualCalendar() const { return accrualCalendar_; }
        std::string payAdjustment() const { return payAdjustment_; }
        std::string payCalendar() const { return payCalendar_; }
        int payLag() const { return payLag_; }
        std::string dayCountConvention() const { return dayCountConvention_; }
        std::string roll() const { return roll_; }

        // Periods from start to end: accrual starts and ends, payment dates
        // and day count fractions, one entry per period in date order.
        void generate(date start, date end, std::vector<date>& accrualStartDates,
                      std::vector<date>& accrualEndDates, std::vector<date>& paymentDates,
                      std::vector<double>& dayCountFractions) const;

    private:
        std::string currency_;
        bool isFixed_;
        bool isPaid_;
        std::string calendar_;
        std::string frequency_;
        std::string accrualAdjustment_;
        std::string accrualCalendar_;
        std::string payAdjustment_;
        std::string payCalendar_;
        int payLag_;
        std::string dayCountConvention_;
        std::string roll_;
    };

    class SwapLegFixed : public SwapLeg {
    public:
        explicit SwapLegFixed(const ObjectTree& tree);
        ~SwapLegFixed() override;
    };

    class SwapLegFloat : public SwapLeg {
    public:
        explicit SwapLegFloat(const ObjectTree& tree);
        ~SwapLegFloat() override;

        std::string index() const { return index_; }

    private:
        std::string index_;
    };

    explicit GeneratorSwap(const ObjectTree& tree);
    ~GeneratorSwap() override;

    int startDelay() const { return startDelay_; }
    std::string calendar() const { return calendar_; }
    // Leg conventions, leg 1 first; an absent leg is null.
    const std::array<std::shared_ptr<SwapLeg>, 2>& legs() const { return legs_; }

private:
    int startDelay_;
    std::string calendar_;
    std::array<std::shared_ptr<SwapLeg>, 2> legs_;
};

} // namespace tsr
