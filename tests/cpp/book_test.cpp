#include "conventions/generator_swap.hpp"
#include "conventions/swap_conventions.hpp"
#include "curves/curve_jacobian.hpp"
#include "curves/yield_curve.hpp"
#include "pricing/analytic_risk.hpp"
#include "pricing/book.hpp"
#include "pricing/model_discounted_cash_flow.hpp"
#include "products/product_interest_rate_swap.hpp"
#include "test_support.hpp"

#include <atomic>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

using namespace tsr;
using namespace tsr::test;

namespace {

[[maybe_unused]] ::testing::Environment* const defaultsEnvironment = useDefaults();

// Leg conventions of the six built-in swap conventions; fixed leg first.
struct Market {
    const char* currency;
    const char* calendar;
    const char* index;
    const char* frequency;
    const char* dayCount;
    int payLag;
};
constexpr Market markets[] = {
    {"USD", "US", "SOFR", "1Y", "ACT/360", 2},   {"SGD", "SG", "SORA", "6M", "ACT/365F", 2},
    {"GBP", "EN", "SONIA", "1Y", "ACT/365F", 0}, {"EUR", "TG", "ESTR", "1Y", "ACT/360", 2},
    {"CHF", "CH", "SARON", "1Y", "ACT/360", 2},  {"JPY", "JP", "TONA", "1Y", "ACT/365F", 2},
};

LegConventions legOf(const Market& m, bool fixed, bool paid) {
    LegConventions leg = fixed ? LegConventions{} : floatingLeg(m.index);
    leg.paid = paid;
    leg.currency = m.currency;
    leg.calendar = leg.accrualCalendar = leg.payCalendar = m.calendar;
    leg.frequency = m.frequency;
    leg.dayCount = m.dayCount;
    leg.payLag = m.payLag;
    return leg;
}

// The generator the swap dict assembly makes: start delay 1 on "US", legs rolled backward.
std::shared_ptr<const GeneratorSwap> generatorOf(const Market& m, bool payer) {
    const LegConventions fixed = legOf(m, true, payer);
    const LegConventions floating = legOf(m, false, !payer);
    return std::make_shared<const GeneratorSwap>(
        swapGeneratorTree("trade", &fixed, &floating, 1, "US"));
}

template <class T>
void expectSameBits(const std::vector<T>& expected, const std::vector<T>& found,
                    const std::string& what) {
    ASSERT_EQ(expected.size(), found.size()) << what;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if constexpr (std::is_same_v<T, double>) {
            EXPECT_EQ(std::bit_cast<std::uint64_t>(expected[i]),
                      std::bit_cast<std::uint64_t>(found[i]))
                << what << " [" << i << "]: expected " << expected[i] << ", found " << found[i];
        } else {
            EXPECT_EQ(expected[i], found[i]) << what << " [" << i << "]";
        }
    }
}

void expectSameBits(double expected, double found, const std::string& what) {
    expectSameBits(std::vector<double>{expected}, std::vector<double>{found}, what);
}

struct GeneratedTrade {
    std::size_t market;
    bool payer;
    SwapTerms terms;
};

// Spot, forward-starting and seasoned trades from 1 to 30 years, both directions.
std::vector<GeneratedTrade> generatedTrades(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> marketOf(0, 5), startOffset(-800, 400), years(1, 30),
        extraMonths(0, 11);
    std::uniform_real_distribution<double> rate(-0.005, 0.06), notional(1e5, 1e8);
    std::vector<GeneratedTrade> trades;
    for (std::size_t i = 0; i < count; ++i) {
        GeneratedTrade trade;
        trade.market = static_cast<std::size_t>(marketOf(random));
        trade.payer = i % 2 == 0;
        trade.terms.id = "T" + std::to_string(i);
        trade.terms.startDate = d("2026-12-10") + boost::gregorian::days(startOffset(random));
        trade.terms.endDate = trade.terms.startDate +
                              boost::gregorian::months(12 * years(random) + extraMonths(random));
        trade.terms.legs[0] = {rate(random), 0.0, notional(random)};
        trade.terms.legs[1] = {0.0, rate(random) / 10.0, trade.terms.legs[0].notional};
        trades.push_back(trade);
    }
    return trades;
}

ObjectTree treeOf(const SwapTerms& terms) {
    return swapTree(terms.id, terms.startDate, terms.endDate, terms.legs[0].rate,
                    terms.legs[1].margin, terms.legs[0].notional, terms.legs[1].notional);
}

void expectSameSwap(const ProductInterestRateSwap& expected, const ProductInterestRateSwap& found) {
    EXPECT_EQ(expected.id(), found.id());
    EXPECT_EQ(expected.startDate(), found.startDate());
    EXPECT_EQ(expected.endDate(), found.endDate());
    for (std::size_t k = 0; k < 2; ++k) {
        const auto& e = expected.legs()[k];
        const auto& f = found.legs()[k];
        const std::string leg = expected.id() + " leg" + std::to_string(k + 1);
        EXPECT_EQ(e.currency, f.currency) << leg;
        EXPECT_EQ(e.isFixed, f.isFixed) << leg;
        EXPECT_EQ(e.isPaid, f.isPaid) << leg;
        EXPECT_EQ(e.index, f.index) << leg;
        expectSameBits(e.margin, f.margin, leg + " margin");
        expectSameBits(e.rate, f.rate, leg + " rate");
        expectSameBits(e.notional, f.notional, leg + " notional");
        expectSameBits(e.accrualStartDates, f.accrualStartDates, leg + " accrual starts");
        expectSameBits(e.accrualEndDates, f.accrualEndDates, leg + " accrual ends");
        expectSameBits(e.paymentDates, f.paymentDates, leg + " payment dates");
        expectSameBits(e.dayCountFractions, f.dayCountFractions, leg + " fractions");
    }
}

// A bootstrapped curve of the market, two years of quotes spaced to keep it small.
std::shared_ptr<const YieldCurve> curveOf(const Market& m) {
    YieldCurveInstruments instruments;
    const char* tenors[] = {"1M", "6M", "1Y", "2Y", "5Y", "10Y", "20Y", "30Y"};
    double quote = 2.0;
    for (const char* tenor : tenors) {
        instruments.generators.push_back(std::string(m.currency) + " " + m.index + " SW");
        instruments.tenors.push_back(tenor);
        instruments.inUse.push_back(true);
        instruments.quotes.push_back(quote += 0.15);
    }
    return std::make_shared<const YieldCurve>(std::string(m.currency) + " curve", d("2026-12-08"),
                                              m.currency, "LinearLogDf", instruments);
}

// Every market's curve, and its payer and receiver conventions in market order.
std::pair<Book::CurveSet, std::vector<BookConventionsInput>> marketsOfBook() {
    Book::CurveSet curves;
    std::vector<BookConventionsInput> conventions;
    for (const Market& m : markets) {
        curves[m.currency] = curveOf(m);
        conventions.push_back({generatorOf(m, true), {}});
        conventions.push_back({generatorOf(m, false), {}});
    }
    return {curves, conventions};
}

} // namespace

TEST(Book, SwapFromTermsEqualsTheSwapFromTreesFieldByField) {
    for (const GeneratedTrade& trade : generatedTrades(600, 7)) {
        const auto generator = generatorOf(markets[trade.market], trade.payer);
        const ProductInterestRateSwap fromTree(generator, treeOf(trade.terms));
        const ProductInterestRateSwap fromTerms(SwapConventions(generator), trade.terms);
        expectSameSwap(fromTree, fromTerms);
    }
}

TEST(Book, SwapFromTermsRefusesWhatTheTreePathRefuses) {
    const auto generator = generatorOf(markets[0], true);
    SwapTerms reversed{"R", d("2030-01-10"), d("2029-01-10"), {}};
    SwapTerms infinite{"N", d("2027-01-10"), d("2029-01-10"), {}};
    infinite.legs[1].margin = std::numeric_limits<double>::infinity();
    for (const SwapTerms& terms : {reversed, infinite}) {
        EXPECT_NE("no exception",
                  messageOf([&] { ProductInterestRateSwap(generator, treeOf(terms)); }));
        EXPECT_EQ(messageOf([&] { ProductInterestRateSwap(generator, treeOf(terms)); }),
                  messageOf([&] { ProductInterestRateSwap(SwapConventions(generator), terms); }));
    }
    auto bad = legOf(markets[0], true, true);
    bad.frequency = "1Q";
    const auto badGenerator =
        std::make_shared<const GeneratorSwap>(swapGeneratorTree("bad", &bad, &bad, 1, "US"));
    EXPECT_EQ(messageOf([&] { ProductInterestRateSwap(badGenerator, treeOf(infinite)); }),
              messageOf([&] { SwapConventions{badGenerator}; }));
}

TEST(Book, PricesAndRisksEachTradeAsTheSingleSwapOnAnyThreadCount) {
    auto [curves, conventions] = marketsOfBook();
    std::vector<BookTradeInput> rows;
    for (const GeneratedTrade& trade : generatedTrades(60, 11)) {
        rows.push_back({trade.terms,
                        2 * trade.market + (trade.payer ? 0 : 1),
                        markets[trade.market].currency,
                        {}});
    }
    // Fixings of every day to the value date, except: ESTR stops the day before (no fixing
    // today), SARON's are listed newest first, and SORA has none, so that its seasoned trades
    // fail as the single swap does.
    FixingsMap fixings;
    for (const Market& m : markets) {
        if (std::string(m.index) == "SORA") {
            continue;
        }
        auto& [dates, values] = fixings[m.index];
        const date last = d(std::string(m.index) == "ESTR" ? "2026-12-07" : "2026-12-08");
        for (date day = d("2023-06-01"); day <= last; day += boost::gregorian::days(1)) {
            dates.push_back(day);
            values.push_back(0.02 + 1e-5 * static_cast<double>(dates.size() % 97));
        }
        if (std::string(m.index) == "SARON") {
            std::reverse(dates.begin(), dates.end());
            std::reverse(values.begin(), values.end());
        }
    }
    rows[3].curve = "missing";
    rows[5].error = {"notional", "refused"};
    rows[7].terms.startDate = rows[7].terms.endDate + boost::gregorian::days(1);

    const Book serial(conventions, rows, curves, fixings, 1);
    const Book threaded(conventions, rows, curves, fixings, 4);
    EXPECT_EQ("curve", serial.buildErrors()[3].column);
    EXPECT_EQ("notional", serial.buildErrors()[5].column);
    EXPECT_NE("", serial.buildErrors()[7].message);

    // Every trade's labels name its id, curve, currency and tenors, each list in order of
    // first appearance.
    const BookLabels& labels = threaded.labels();
    std::uint32_t nextTrade = 0;
    std::uint32_t nextCurve = 0;
    for (std::size_t t = 0; t < rows.size(); ++t) {
        EXPECT_EQ(rows[t].terms.id, labels.tradeNames.at(labels.trade[t])) << t;
        EXPECT_EQ(rows[t].curve, labels.curveNames.at(labels.curve[t])) << t;
        EXPECT_LE(labels.trade[t], nextTrade) << t;
        EXPECT_LE(labels.curve[t], nextCurve) << t;
        nextTrade += labels.trade[t] == nextTrade ? 1 : 0;
        nextCurve += labels.curve[t] == nextCurve ? 1 : 0;
        if (const auto& swap = threaded.swaps()[t]) {
            EXPECT_EQ(swap->legs()[0].currency, labels.currencyNames.at(labels.currency[t]));
            const auto& tenors = curves.at(rows[t].curve)->instrumentSet().tenors;
            std::vector<std::string> named;
            for (const std::uint32_t code : threaded.tenorCodes(t)) {
                named.push_back(labels.tenorNames.at(code));
            }
            EXPECT_EQ(tenors, named) << t;
        }
    }

    const BookPrices prices = threaded.price(4);
    const BookRisk risks = threaded.risk(RiskMethod::Bump, 3);
    const BookRisk analytic = threaded.risk(RiskMethod::Analytic, 2);
    const BookCashFlows flows = threaded.cashflows(2);
    expectSameBits(serial.price(1).npv, prices.npv, "NPV on 1 and 4 threads");
    expectSameBits(serial.risk(RiskMethod::Bump, 1).net, risks.net, "risk on 1 and 3 threads");
    // A watched call counts every trade; one asked to stop before it starts reaches none.
    for (const bool stop : {false, true}) {
        CallProgress progress;
        progress.stop = stop;
        std::atomic<std::size_t> reached{0};
        threaded.risk(
            RiskMethod::Analytic, 3,
            [&](std::size_t, std::span<const double>, std::span<const double>,
                std::span<const double>) { ++reached; },
            &progress);
        EXPECT_EQ(progress.done, stop ? 0 : rows.size()) << stop;
        EXPECT_EQ(reached == 0, stop) << stop;
    }
    std::size_t failed = 0;
    std::size_t seasoned = 0;
    for (std::size_t t = 0; t < rows.size(); ++t) {
        const auto& swap = threaded.swaps()[t];
        EXPECT_EQ(swap == nullptr, !threaded.buildErrors()[t].message.empty()) << t;
        if (!swap) {
            EXPECT_EQ(risks.offsets[t], risks.offsets[t + 1]);
            continue;
        }
        const YieldCurve* curve = curves.at(rows[t].curve).get();
        CurveMap single{{swap->legs()[0].currency, curve}, {swap->legs()[1].index, curve}};
        ObjectTree price;
        try {
            price = ModelDiscountedCashFlow::price(swap, single, fixings);
        } catch (const std::exception& e) {
            ++failed;
            EXPECT_EQ(e.what(), prices.errors[t].message) << swap->id();
            EXPECT_TRUE(std::isnan(prices.npv[t])) << swap->id();
            continue;
        }
        seasoned += swap->startDate() < d("2026-12-08") ? 1 : 0;
        EXPECT_TRUE(prices.errors[t].message.empty()) << prices.errors[t].message;
        expectSameBits(price.get<double>("Leg1 PV"), prices.leg1[t], swap->id() + " Leg1 PV");
        expectSameBits(price.get<double>("Leg2 PV"), prices.leg2[t], swap->id() + " Leg2 PV");
        expectSameBits(price.get<double>("NPV"), prices.npv[t], swap->id() + " NPV");
        const ObjectTree risk = ModelDiscountedCashFlow::risk(swap, single, fixings);
        std::vector<double> net;
        for (const auto& [key, node] : risk.get_child("Net")) {
            net.push_back(node.get_value<double>());
        }
        expectSameBits(net,
                       std::vector<double>(risks.net.begin() + risks.offsets[t],
                                           risks.net.begin() + risks.offsets[t + 1]),
                       swap->id() + " risk");
        std::array<std::vector<double>, 3> exact;
        exact.fill(std::vector<double>(net.size()));
        analyticRisk(*swap, single, fixings, exact[0], exact[1], exact[2]);
        const auto slice = [&](const std::vector<double>& column) {
            return std::vector<double>(column.begin() + analytic.offsets[t],
                                       column.begin() + analytic.offsets[t + 1]);
        };
        expectSameBits(exact[0], slice(analytic.leg1), swap->id() + " analytic Leg1");
        expectSameBits(exact[2], slice(analytic.net), swap->id() + " analytic Net");
        const ObjectTree table = ModelDiscountedCashFlow::cashflows(swap, single, fixings);
        std::vector<double> pvs;
        for (const char* leg : {"Leg1", "Leg2"}) {
            for (const auto& [key, node] : table.get_child(leg).get_child("Cash Flow PV")) {
                pvs.push_back(node.get_value<double>());
            }
        }
        expectSameBits(pvs,
                       std::vector<double>(flows.presentValues.begin() + flows.offsets[t],
                                           flows.presentValues.begin() + flows.offsets[t + 1]),
                       swap->id() + " cash flow PVs");
    }
    // Both the running periods priced from fixings and those that lack them were met.
    EXPECT_GT(failed, 0U);
    EXPECT_GT(seasoned, 5U);
    expectSameBits(serial.risk(RiskMethod::Analytic, 1).net,
                   threaded.risk(RiskMethod::Analytic, 3).net, "analytic risk on 1 and 3 threads");
}

// A book rebound to other curves prices as one built on them, to the bit; its second-order
// sums and explain terms do not depend on the thread count.
TEST(Book, ReboundBookEqualsABookBuiltOnItsCurves) {
    Book::CurveSet today;
    Book::CurveSet tomorrow;
    std::vector<BookConventionsInput> conventions;
    for (const Market& m : markets) {
        today[m.currency] = curveOf(m);
        YieldCurveInstruments moved = today[m.currency]->instruments();
        for (double& quote : moved.quotes) {
            quote += 0.07;
        }
        tomorrow[m.currency] = std::make_shared<const YieldCurve>(
            std::string(m.currency) + " curve", d("2026-12-09"), m.currency, "LinearLogDf", moved);
        conventions.push_back({generatorOf(m, true), {}});
        conventions.push_back({generatorOf(m, false), {}});
    }
    std::vector<BookTradeInput> rows;
    for (const GeneratedTrade& trade : generatedTrades(40, 5)) {
        rows.push_back({trade.terms,
                        2 * trade.market + (trade.payer ? 0 : 1),
                        markets[trade.market].currency,
                        {}});
    }
    FixingsMap fixings;
    for (const Market& m : markets) {
        auto& [dates, values] = fixings[m.index];
        for (date day = d("2023-06-01"); day <= d("2026-12-08"); day += boost::gregorian::days(1)) {
            dates.push_back(day);
            values.push_back(0.02);
        }
    }
    const Book base(conventions, rows, today, fixings, 2);
    const Book built(conventions, rows, tomorrow, fixings, 2);
    const Book rebound(base, tomorrow, fixings, 2);
    expectSameBits(built.price(1).npv, rebound.price(2).npv, "NPV");
    expectSameBits(built.risk(RiskMethod::Analytic, 1).net,
                   rebound.risk(RiskMethod::Analytic, 2).net, "risk");
    EXPECT_EQ(built.labels().currency, rebound.labels().currency);
    EXPECT_EQ(built.labels().tenorNames, rebound.labels().tenorNames);

    std::vector<BookFailure> failed;
    const auto one = rebound.summedPillarHessians(1, failed);
    const auto three = rebound.summedPillarHessians(3, failed);
    EXPECT_TRUE(failed.empty());
    for (const auto& [id, sums] : one) {
        expectSameBits(sums.hessian, three.at(id).hessian, id + " Hessian");
    }
    std::unordered_map<std::string, QuoteMove> moves;
    const CurveJacobian& jacobian = tomorrow.at("USD")->jacobian();
    moves["USD"] = {std::vector<double>(jacobian.instruments(), 0.05),
                    std::vector<double>(jacobian.pillars() * jacobian.instruments(), 1e-4)};
    const std::size_t rowsOfRisk = rebound.riskOffsets().back();
    std::vector<double> delta1(rowsOfRisk), gamma1(rowsOfRisk), delta3(rowsOfRisk),
        gamma3(rowsOfRisk);
    EXPECT_TRUE(rebound.explainTerms(moves, 1, delta1, gamma1).empty());
    rebound.explainTerms(moves, 3, delta3, gamma3);
    expectSameBits(delta1, delta3, "delta");
    expectSameBits(gamma1, gamma3, "gamma");
    // Only the USD trades move.
    for (std::size_t t = 0; t < rows.size(); ++t) {
        const bool usd = rows[t].curve == "USD";
        for (std::size_t r = rebound.riskOffsets()[t]; r < rebound.riskOffsets()[t + 1]; ++r) {
            if (!usd) {
                EXPECT_EQ(0.0, delta1[r]) << t;
            }
        }
    }
}

// Trades on the same dates as others, in either direction, are the swaps their own terms
// build, and price as those swaps do.
TEST(Book, TradesOnTheDatesOfOthersAreTheirOwnSwaps) {
    auto [curves, conventions] = marketsOfBook();
    std::vector<BookTradeInput> rows;
    for (const GeneratedTrade& trade : generatedTrades(30, 5)) {
        for (const std::size_t direction : {0U, 1U, 0U}) {
            BookTradeInput row{
                trade.terms, 2 * trade.market + direction, markets[trade.market].currency, {}};
            row.terms.id += "/" + std::to_string(rows.size());
            row.terms.legs[0].rate += 0.001 * static_cast<double>(rows.size() % 7);
            rows.push_back(row);
        }
    }
    const Book book(conventions, rows, curves, {}, 2);
    const BookPrices prices = book.price(2);
    for (std::size_t t = 0; t < rows.size(); ++t) {
        const auto own = std::make_shared<const ProductInterestRateSwap>(
            SwapConventions(conventions[rows[t].conventions].generator), rows[t].terms);
        ASSERT_TRUE(book.swaps()[t]) << t;
        expectSameSwap(*own, *book.swaps()[t]);
        const YieldCurve* curve = curves.at(rows[t].curve).get();
        CurveMap single{{own->legs()[0].currency, curve}, {own->legs()[1].index, curve}};
        try {
            const ObjectTree price = ModelDiscountedCashFlow::price(own, single, {});
            expectSameBits(price.get<double>("NPV"), prices.npv[t], own->id() + " NPV");
        } catch (const std::exception& e) {
            EXPECT_EQ(e.what(), prices.errors[t].message) << own->id(); // no fixings given
        }
    }
}
