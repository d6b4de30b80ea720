#include "pricing/swap_analytics.hpp"

#include "core/shown_text.hpp"
#include "curves/yield_curve.hpp"

#include <stdexcept>
#include <string>

namespace tsr {

namespace {

const ProductInterestRateSwap& swapOf(const std::shared_ptr<const Product>& product) {
    const auto* swap = dynamic_cast<const ProductInterestRateSwap*>(product.get());
    if (swap == nullptr) {
        throw std::runtime_error("Unsupported product.");
    }
    return *swap;
}

const YieldCurve& discountCurveOf(const ProductInterestRateSwap::SwapLeg& leg, CurveMap& curves) {
    const auto it = curves.find(leg.currency);
    if (it == curves.end() || it->second == nullptr) {
        throw std::runtime_error("No discount curve is provided for currency " +
                                 shownText(leg.currency));
    }
    return *it->second;
}

double npvOn(const std::shared_ptr<const Product>& product, const YieldCurve& curve,
             const CurveMap& keys, const FixingsMap& fixings) {
    CurveMap moved;
    for (const auto& entry : keys) {
        moved.emplace(entry.first, &curve);
    }
    return ModelDiscountedCashFlow::price(product, moved, fixings).get<double>("NPV");
}

} // namespace

std::size_t parLeg(const ProductInterestRateSwap& swap) {
    const auto& legs = swap.legs();
    if (legs[0].isFixed) {
        return 0;
    }
    return 1;
}

double legAnnuity(const ProductInterestRateSwap::SwapLeg& leg, CurveMap& curves) {
    const std::vector<double> dfs = calculateDiscountFactors(leg, curves);
    const date v = discountCurveOf(leg, curves).valueDate();
    double sum = 0.0;
    for (std::size_t i = 0; i < leg.paymentDates.size(); ++i) {
        // The same settlement rule and product order as the model's leg value.
        if (v < leg.paymentDates[i]) {
            sum += leg.dayCountFractions[i] * leg.notional * dfs[i];
        }
    }
    return sum;
}

double annuity(const std::shared_ptr<const Product>& product, CurveMap& curves) {
    const ProductInterestRateSwap& swap = swapOf(product);
    return legAnnuity(swap.legs()[parLeg(swap)], curves);
}

double parRate(const std::shared_ptr<const Product>& product, CurveMap& curves,
               const FixingsMap& fixings) {
    const ProductInterestRateSwap& swap = swapOf(product);
    const std::size_t k = parLeg(swap);
    const auto& leg = swap.legs()[k];
    const double npv = ModelDiscountedCashFlow::price(product, curves, fixings).get<double>("NPV");
    const double slope = (leg.isPaid ? -1.0 : 1.0) * legAnnuity(leg, curves);
    if (slope == 0.0) {
        throw std::runtime_error("Error, leg" + std::to_string(k + 1) + " of swap " + swap.id() +
                                 " has no unsettled period with a non-zero notional: its rate "
                                 "does not move the value, so there is no par rate.");
    }
    return (leg.isFixed ? leg.rate : leg.margin) - npv / slope;
}

double dv01(const std::shared_ptr<const Product>& product, CurveMap& curves,
            const FixingsMap& fixings) {
    const ProductInterestRateSwap& swap = swapOf(product);
    const YieldCurve& base = discountCurveOf(swap.legs()[0], curves);
    YieldCurveInstruments moved = base.instruments();
    if (moved.quotes.empty()) {
        throw std::runtime_error(
            "Error, the curve has no quoted instruments to move: DV01 needs a curve "
            "bootstrapped from quotes.");
    }
    const std::vector<double> quotes = moved.quotes;
    auto rebuilt = [&](double shift) {
        for (std::size_t i = 0; i < quotes.size(); ++i) {
            moved.quotes[i] = quotes[i] + shift * base.quoteDirection(i);
        }
        return YieldCurve(base.label(), base.valueDate(), base.currency(), base.interpolation(),
                          moved, base.cubicFrom());
    };
    const double up = npvOn(product, rebuilt(basisPointInQuoteUnits), curves, fixings);
    const double down = npvOn(product, rebuilt(-basisPointInQuoteUnits), curves, fixings);
    return (up - down) / 2.0;
}

} // namespace tsr
