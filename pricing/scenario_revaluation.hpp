#pragma once

#include "curves/yield_curve.hpp"
#include "pricing/model_discounted_cash_flow.hpp"
#include "pricing/swap_pricer.hpp"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tsr {

// Revalues swaps under scenarios of curve quotes. Each trade is priced on one curve that
// discounts and projects it. Per scenario the moved curves are rebuilt from their instruments
// with the moved quotes, exactly as a curve built from those quotes, and every trade on them
// repriced; a trade on a curve that does not move has PnL 0. Scenarios are shared out among
// threads, and each writes only its own rows, so the thread count changes no number.
class ScenarioRevaluation {
public:
    struct Trade {
        std::shared_ptr<const ProductInterestRateSwap> swap;
        std::size_t curve;
    };
    // Per curve, its moved quotes (percent, one per instrument), or nothing if it stays.
    using Scenario = std::vector<std::optional<std::vector<double>>>;

    struct CurveFailure {
        std::size_t scenario;
        std::size_t curve;
        std::string error;
    };
    struct Result {
        // Scenarios x the trades asked for, row by row; NaN where a trade could not be priced.
        std::vector<double> pnl;
        std::vector<CurveFailure> failures;
    };

    // Prices every trade on its base curve, on `threads` threads; a trade that cannot be
    // priced keeps its error and is NaN in every scenario.
    ScenarioRevaluation(std::vector<std::shared_ptr<const YieldCurve>> curves,
                        std::vector<Trade> trades, const FixingsMap& fixings, unsigned threads = 1);

    // PnL of trades [firstTrade, lastTrade) under each scenario.
    Result run(const std::vector<Scenario>& scenarios, unsigned threads, std::size_t firstTrade,
               std::size_t lastTrade) const;

    std::size_t size() const { return trades_.size(); }
    std::size_t curveCount() const { return curves_.size(); }

    const std::vector<double>& baseNpv() const { return baseNpv_; }
    // Empty for a trade priced on the base market.
    const std::vector<std::string>& errors() const { return errors_; }

private:
    // Scenarios [first, last) together: each trade's pricer is read once for all of them.
    void revalue(const std::vector<Scenario>& scenarios, std::size_t first, std::size_t last,
                 std::size_t firstTrade, std::size_t lastTrade, Result& result,
                 std::vector<CurveFailure>& failures,
                 std::vector<std::vector<double>>& tables) const;

    std::vector<std::shared_ptr<const YieldCurve>> curves_;
    std::vector<Trade> trades_;
    std::vector<std::optional<SwapPricer>> pricers_;
    std::vector<double> baseNpv_;
    std::vector<std::string> errors_;
    // The trades of each curve, in trade order, and every date they read, with its place on
    // the curve: each scenario finds the discount factor of a date once for all its trades.
    std::vector<std::vector<std::size_t>> byCurve_;
    std::vector<std::vector<YieldCurve::Point>> points_;
};

} // namespace tsr
