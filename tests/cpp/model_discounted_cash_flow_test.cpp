#include "conventions/generator_repository.hpp"
#include "conventions/generator_swap.hpp"
#include "curves/yield_curve.hpp"
#include "dates/calendar_repository.hpp"
#include "dates/date_arithmetic.hpp"
#include "dates/tenor.hpp"
#include "pricing/model_discounted_cash_flow.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

using namespace tsr::test;

using namespace tsr;

namespace {

[[maybe_unused]] ::testing::Environment* const defaultsEnvironment = useDefaults();

date d(int y, int m, int dd) {
    return date(y, m, dd);
}

std::shared_ptr<const ProductInterestRateSwap>
makeSwap(date start, date end, double rate, double margin = 0.0, double notional = 1e6,
         const std::string& generator = "USD SOFR SW") {
    return std::make_shared<ProductInterestRateSwap>(
        GeneratorRepository::instance().get<Generator>(generator),
        swapTree("test swap", start, end, rate, margin, notional, notional));
}

// A flat continuously compounded curve: df(t) = exp(-r t).
YieldCurve flatCurve(date valueDate, double rate) {
    return YieldCurve(valueDate, {valueDate + boost::gregorian::days(365 * 40)}, {rate},
                      YieldCurveInterpolation::LinearRates);
}

double t(date v, date x) {
    return static_cast<double>((x - v).days()) / 365.0;
}

} // namespace

TEST(ModelDiscountedCashFlow, FuturePeriodsProjectTheSimpleForwardOfTheCurve) {
    const date v = d(2026, 3, 2);
    const YieldCurve curve = flatCurve(v, 0.03);
    CurveMap curves{{"USD", &curve}, {"SOFR", &curve}};
    const auto swap = makeSwap(d(2026, 3, 4), d(2029, 3, 4), 0.03);
    const auto& leg = swap->legs()[1];
    const auto rates = calculateRates(leg, curves, {});
    ASSERT_EQ(leg.paymentDates.size(), rates.size());
    for (std::size_t i = 0; i < rates.size(); ++i) {
        const date s = leg.accrualStartDates[i];
        const date e = leg.accrualEndDates[i];
        const double tau = static_cast<double>((e - s).days()) / 360.0;
        const double expected = (std::exp(0.03 * (t(v, e) - t(v, s))) - 1.0) / tau;
        EXPECT_NEAR(expected, rates[i], 1e-14) << "period " << i;
    }
    const auto dfs = calculateDiscountFactors(leg, curves);
    for (std::size_t i = 0; i < dfs.size(); ++i) {
        EXPECT_NEAR(std::exp(-0.03 * t(v, leg.paymentDates[i])), dfs[i], 1e-15);
    }
    EXPECT_EQ(std::vector<double>(rates.size(), 0.03), calculateRates(swap->legs()[0], curves, {}));
}

TEST(ModelDiscountedCashFlow, RunningPeriodCompoundsFixingsOverIndexBusinessDays) {
    // Period 2026-03-04 .. 2027-03-04 on USGS; value date 2026-03-11 (Wednesday).
    const date v = d(2026, 3, 11);
    const YieldCurve curve = flatCurve(v, 0.04);
    CurveMap curves{{"USD", &curve}, {"SOFR", &curve}};
    const auto swap = makeSwap(d(2026, 3, 4), d(2027, 3, 4), 0.03);
    const auto& leg = swap->legs()[1];
    ASSERT_EQ(1u, leg.paymentDates.size());

    // Business days in [2026-03-04, 2026-03-11): 4, 5, 6, 9, 10 March.
    const std::vector<date> days{d(2026, 3, 4), d(2026, 3, 5), d(2026, 3, 6), d(2026, 3, 9),
                                 d(2026, 3, 10)};
    const std::vector<double> values{0.050, 0.051, 0.052, 0.053, 0.054};
    // Unsorted input, plus fixings outside the period that must be ignored.
    FixingsMap fixings{{"SOFR",
                        {{d(2026, 3, 10), d(2026, 3, 9), d(2026, 3, 4), d(2026, 3, 6),
                          d(2026, 3, 5), d(2026, 3, 3), d(2026, 3, 7)},
                         {0.054, 0.053, 0.050, 0.052, 0.051, 0.9, 0.9}}}};
    double growth = 1.0;
    for (std::size_t j = 0; j < days.size(); ++j) {
        const date next = j + 1 < days.size() ? days[j + 1] : v;
        growth *= 1.0 + values[j] * static_cast<double>((next - days[j]).days()) / 360.0;
    }
    const date e = leg.accrualEndDates[0];
    const double tau = static_cast<double>((e - leg.accrualStartDates[0]).days()) / 360.0;
    const double df = std::exp(-0.04 * t(v, e));
    EXPECT_NEAR((growth / df - 1.0) / tau, calculateRates(leg, curves, fixings)[0], 1e-15);

    // Today's fixing runs from v to the next business day and replaces the
    // curve over that night.
    fixings["SOFR"].first.push_back(v);
    fixings["SOFR"].second.push_back(0.06);
    const date h = d(2026, 3, 12);
    const double today = (1.0 + 0.06 * 1.0 / 360.0) * growth / df;
    EXPECT_NEAR((std::exp(-0.04 * t(v, h)) * today - 1.0) / tau,
                calculateRates(leg, curves, fixings)[0], 1e-15);
}

TEST(ModelDiscountedCashFlow, RunningPeriodFixingErrors) {
    const date v = d(2026, 3, 11);
    const YieldCurve curve = flatCurve(v, 0.04);
    CurveMap curves{{"USD", &curve}, {"SOFR", &curve}};
    const auto swap = makeSwap(d(2026, 3, 4), d(2027, 3, 4), 0.03);
    const auto& leg = swap->legs()[1];
    EXPECT_EQ("No fixings for index SOFR", messageOf([&] { calculateRates(leg, curves, {}); }));
    FixingsMap partial{{"SOFR", {{d(2026, 3, 4), d(2026, 3, 5)}, {0.05, 0.05}}}};
    EXPECT_EQ("Fixing is required for date 2026-03-06",
              messageOf([&] { calculateRates(leg, curves, partial); }));
    FixingsMap uneven{{"SOFR", {{d(2026, 3, 4), d(2026, 3, 5)}, {0.05}}}};
    EXPECT_EQ("Error, fixings for index SOFR have 2 dates and 1 values.",
              messageOf([&] { calculateRates(leg, curves, uneven); }));
    CurveMap noEstimation{{"USD", &curve}};
    EXPECT_EQ("No estimation curve is provided for index SOFR",
              messageOf([&] { calculateRates(leg, noEstimation, {}); }));
    CurveMap noDiscount{{"SOFR", &curve}};
    EXPECT_EQ("No discount curve is provided for currency USD",
              messageOf([&] { calculateDiscountFactors(leg, noDiscount); }));
    EXPECT_EQ("No discount curve is provided for currency USD",
              messageOf([&] { ModelDiscountedCashFlow::price(swap, noDiscount, {}); }));
    EXPECT_EQ("Unsupported product.",
              messageOf([&] { ModelDiscountedCashFlow::price(nullptr, curves, {}); }));
    EXPECT_EQ(2u, curves.size()) << "lookups must not insert";
    EXPECT_EQ(1u, noDiscount.size()) << "lookups must not insert";
}

TEST(ModelDiscountedCashFlow, HolidaysBeforeTheValueDateNeedNoFixing) {
    // 2027-03-26 (Friday) is a USGS holiday but a US business day, and the 27th
    // and 28th are a weekend: a period starting on the 26th and valued on the
    // 29th has no past business day of the index calendar.
    const date v = d(2027, 3, 29);
    const YieldCurve curve = flatCurve(v, 0.04);
    CurveMap curves{{"USD", &curve}, {"SOFR", &curve}};
    const auto swap = makeSwap(d(2027, 3, 26), d(2028, 3, 27), 0.03);
    const auto& leg = swap->legs()[1];
    ASSERT_EQ(d(2027, 3, 26), leg.accrualStartDates[0]);
    const date e = leg.accrualEndDates[0];
    const double tau = static_cast<double>((e - leg.accrualStartDates[0]).days()) / 360.0;
    const double df = std::exp(-0.04 * t(v, e));
    EXPECT_NEAR((1.0 / df - 1.0) / tau, calculateRates(leg, curves, FixingsMap{{"SOFR", {}}})[0],
                1e-15);
}

TEST(ModelDiscountedCashFlow, PriceSumsReceivedMinusPaidAfterTheValueDate) {
    const date v = d(2026, 3, 2);
    const YieldCurve curve = flatCurve(v, 0.03);
    CurveMap curves{{"USD", &curve}, {"SOFR", &curve}};
    const auto swap = makeSwap(d(2026, 3, 4), d(2031, 3, 4), 0.035, 0.001, 1e7);
    const ObjectTree pv = ModelDiscountedCashFlow::price(swap, curves, {});
    std::vector<std::string> keys;
    for (const auto& [key, node] : pv) {
        keys.push_back(key);
    }
    EXPECT_EQ((std::vector<std::string>{"Leg1 PV", "Leg2 PV", "NPV"}), keys);

    const ObjectTree flows = ModelDiscountedCashFlow::cashflows(swap, curves, {});
    const auto fixedPv = column(flows.get_child("Leg1"), "Cash Flow PV");
    const auto floatPv = column(flows.get_child("Leg2"), "Cash Flow PV");
    const double fixedSum = std::accumulate(fixedPv.begin(), fixedPv.end(), 0.0);
    const double floatSum = std::accumulate(floatPv.begin(), floatPv.end(), 0.0);
    EXPECT_NEAR(-fixedSum, pv.get<double>("Leg1 PV"), 1e-6);
    EXPECT_NEAR(floatSum, pv.get<double>("Leg2 PV"), 1e-6);
    EXPECT_EQ(pv.get<double>("Leg1 PV") + pv.get<double>("Leg2 PV"), pv.get<double>("NPV"));
    EXPECT_LT(pv.get<double>("Leg1 PV"), 0.0);
}

TEST(ModelDiscountedCashFlow, CashFlowColumnsPerLegKind) {
    const date v = d(2026, 3, 2);
    const YieldCurve curve = flatCurve(v, 0.03);
    CurveMap curves{{"USD", &curve}, {"SOFR", &curve}};
    const auto swap = makeSwap(d(2026, 3, 4), d(2028, 3, 4), 0.035, 0.001);
    const ObjectTree flows = ModelDiscountedCashFlow::cashflows(swap, curves, {});
    auto keys = [&](const std::string& leg) {
        std::vector<std::string> k;
        for (const auto& [key, node] : flows.get_child(leg)) {
            k.push_back(key);
        }
        return k;
    };
    EXPECT_EQ((std::vector<std::string>{"Accrual Start Date", "Accrual End Date", "Payment Date",
                                        "Day Count Fraction", "Notional", "Discount Factor", "Rate",
                                        "Cash Flow", "Cash Flow PV"}),
              keys("Leg1"));
    EXPECT_EQ((std::vector<std::string>{"Accrual Start Date", "Accrual End Date", "Payment Date",
                                        "Day Count Fraction", "Notional", "Discount Factor",
                                        "Estimated Rate", "Spread", "Cash Flow", "Cash Flow PV"}),
              keys("Leg2"));
    CurveMap none;
    EXPECT_EQ("No discount curve is provided for currency USD",
              messageOf([&] { ModelDiscountedCashFlow::cashflows(swap, none, {}); }));
}

TEST(ModelDiscountedCashFlow, SettledPeriodsPayTheMarginOnly) {
    // Valued after the first accrual end but before its payment (pay lag 2).
    const auto swap = makeSwap(d(2025, 3, 4), d(2027, 3, 4), 0.03, 0.002, 1e6);
    const auto& leg = swap->legs()[1];
    const date v = leg.accrualEndDates[0];
    ASSERT_LT(v, leg.paymentDates[0]);
    const YieldCurve curve = flatCurve(v, 0.03);
    CurveMap curves{{"USD", &curve}, {"SOFR", &curve}};
    const ObjectTree flows = ModelDiscountedCashFlow::cashflows(swap, curves, {});
    const auto rates = column(flows.get_child("Leg2"), "Estimated Rate");
    const auto cash = column(flows.get_child("Leg2"), "Cash Flow");
    EXPECT_EQ(0.0, rates[0]);
    EXPECT_DOUBLE_EQ(leg.dayCountFractions[0] * 1e6 * 0.002, cash[0]);
}

TEST(ModelDiscountedCashFlow, RiskOfAParSwapIsItsAnnuityOnItsOwnQuote) {
    const date v = d(2026, 12, 8);
    YieldCurveInstruments instruments;
    const std::vector<std::pair<std::string, double>> quotes{
        {"1M", 3.70}, {"3M", 3.65}, {"6M", 3.55}, {"1Y", 3.40},  {"2Y", 3.28},
        {"3Y", 3.25}, {"5Y", 3.30}, {"7Y", 3.38}, {"10Y", 3.50}, {"30Y", 3.60}};
    for (const auto& [tenor, quote] : quotes) {
        instruments.generators.push_back("USD SOFR SW");
        instruments.tenors.push_back(tenor);
        instruments.quotes.push_back(quote);
        instruments.inUse.push_back(true);
    }
    instruments.inUse[1] = false;
    const YieldCurve curve("USD", v, "USD", "LinearLogDf", instruments);
    CurveMap curves{{"USD", &curve}, {"SOFR", &curve}};

    // The 5Y instrument as a trade: same dates and rate.
    const auto cal = CalendarRepository::instance().get("US");
    const date start = addBusinessDays(v, 2, cal);
    const double notional = 1e6;
    const auto swap = makeSwap(start, addTenor(start, Tenor("5Y")), 0.033, 0.0, notional);
    const ObjectTree pv = ModelDiscountedCashFlow::price(swap, curves, {});
    EXPECT_NEAR(0.0, pv.get<double>("NPV"), 1e-12 * notional);

    const ObjectTree risk = ModelDiscountedCashFlow::risk(swap, curves, {});
    const auto net = column(risk, "Net");
    const auto leg1 = column(risk, "Leg1");
    const auto leg2 = column(risk, "Leg2");
    ASSERT_EQ(quotes.size(), net.size());

    // d NPV / d quote = annuity / 100 at par; every other quote moves nothing.
    const auto& fixed = swap->legs()[0];
    double annuity = 0.0;
    for (std::size_t i = 0; i < fixed.paymentDates.size(); ++i) {
        annuity += fixed.dayCountFractions[i] * curve.df(fixed.paymentDates[i]);
    }
    for (std::size_t m = 0; m < net.size(); ++m) {
        const double expected = m == 6 ? annuity * notional / 100.0 : 0.0;
        EXPECT_NEAR(expected, net[m], 1e-4) << quotes[m].first;
        EXPECT_NEAR(leg1[m] + leg2[m], net[m], 1e-6);
    }
    EXPECT_EQ(0.0, leg1[1]) << "not in use";
    EXPECT_EQ(0.0, leg1[7]) << "beyond the pillar covering the swap";
    EXPECT_EQ(0.0, leg2[9]) << "beyond the pillar covering the swap";
    EXPECT_GT(std::abs(leg1[4]), 1.0) << "earlier pillars move each leg, not the net";
}
