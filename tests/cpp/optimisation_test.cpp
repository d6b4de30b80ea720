// The fast paths of the bootstrap and of key-rate risk against the plain algorithms they
// replace, written here from their definitions with nothing but public pieces. A period's
// rate and value come from the one kernel that every path calls; what is proved here is the
// rest: the caching, the order of the sums and the realised growth. Every comparison is
// exact, bit for bit.
#include "allocation_counter.hpp"
#include "conventions/generator_repository.hpp"
#include "conventions/generator_swap.hpp"
#include "conventions/index_repository.hpp"
#include "conventions/ois_index.hpp"
#include "curves/bootstrap.hpp"
#include "curves/bumped_curve.hpp"
#include "curves/period_value.hpp"
#include "curves/yield_curve.hpp"
#include "dates/calendar_repository.hpp"
#include "dates/date_arithmetic.hpp"
#include "dates/day_counter.hpp"
#include "dates/single_calendar.hpp"
#include "dates/tenor.hpp"
#include "pricing/model_discounted_cash_flow.hpp"
#include "products/product_interest_rate_swap.hpp"
#include "test_support.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/math/tools/toms748_solve.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

using namespace tsr;
using namespace tsr::test;
using boost::gregorian::days;

namespace {

const std::string depositLabel = "TEST USD DEPOSIT";
const std::string mixedLabel = "TEST MIXED SW";

class Conventions : public DepositEnvironment {
public:
    Conventions() : DepositEnvironment(depositLabel) {}
    void SetUp() override {
        DepositEnvironment::SetUp();
        // Legs on different dates: a received annual 30/360 fixed leg paid without lag, and a
        // paid semi-annual floating leg rolled forward on a union accrual calendar.
        LegConventions fixed;
        fixed.paid = false;
        fixed.dayCount = "30/360";
        fixed.payLag = 0;
        LegConventions floating = floatingLeg();
        floating.paid = true;
        floating.frequency = "6M";
        floating.accrualCalendar = "US, USGS";
        floating.payLag = 1;
        floating.roll = "forward";
        GeneratorRepository::instance().add(
            mixedLabel,
            std::make_shared<GeneratorSwap>(swapGeneratorTree(mixedLabel, &fixed, &floating)));
    }
};
const auto* const environment = ::testing::AddGlobalTestEnvironment(new Conventions);

// Exact equality, telling -0.0 from 0.0 too; reports the first differing index.
void expectSameBits(const std::vector<double>& expected, const std::vector<double>& found,
                    const std::string& what) {
    ASSERT_EQ(expected.size(), found.size()) << what;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(bits(expected[i]), bits(found[i]))
            << what << " [" << i << "]: expected " << expected[i] << ", found " << found[i];
    }
}

// ---- The plain algorithms -------------------------------------------------------------

// The curve instrument with its description tree as text, dates included.
std::shared_ptr<const Product>
plainInstrument(const date& valueDate, const std::shared_ptr<const GeneratorSwap>& generator,
                const Tenor& tenor, double quote) {
    const auto calendar = CalendarRepository::instance().get(generator->calendar());
    const date start = addBusinessDays(valueDate, generator->startDelay(), *calendar);
    const date end = addTenor(start, tenor);
    ObjectTree tree;
    tree.add("id", generator->id() + " " + tenor.toString());
    tree.add("start date", boost::gregorian::to_iso_extended_string(start));
    tree.add("end date", boost::gregorian::to_iso_extended_string(end));
    tree.add("leg1.rate", quote / 100.0);
    tree.add("leg2.margin", 0.0);
    tree.add("leg1.notional", 1.0);
    tree.add("leg2.notional", 1.0);
    return std::make_shared<const ProductInterestRateSwap>(generator, tree);
}

// Each leg: the sum of df(payment) x rate x fraction over its periods, the rate being the
// fixed rate or the margin plus the simple forward; paid legs negated.
double plainPrice(const YieldCurve& curve, const Product& product) {
    const auto& swap = dynamic_cast<const ProductInterestRateSwap&>(product);
    double values[2];
    for (std::size_t l = 0; l < 2; ++l) {
        const auto& leg = swap.legs()[l];
        double value = 0.0;
        for (std::size_t j = 0; j < leg.paymentDates.size(); ++j) {
            const double fraction = leg.dayCountFractions[j];
            if (fraction == 0.0) {
                continue;
            }
            double rate = leg.rate;
            if (!leg.isFixed) {
                rate = leg.margin + period::forwardRate(curve.df(leg.accrualStartDates[j]),
                                                        curve.df(leg.accrualEndDates[j]), fraction);
            }
            value += period::instrumentCoupon(curve.df(leg.paymentDates[j]), rate, fraction);
        }
        values[l] = leg.isPaid ? -value : value;
    }
    return values[0] + values[1];
}

YieldCurveInterpolation kindOf(const std::string& name) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower == "linearrates" ? YieldCurveInterpolation::LinearRates
                                  : YieldCurveInterpolation::LinearLogDf;
}

// One pillar per used swap instrument; each objective evaluation writes the trial into the
// working vector and updates the whole curve from a copy of it.
std::shared_ptr<YieldCurve> plainBootstrap(const date& valueDate, const std::string& interpolation,
                                           const YieldCurveInstruments& instruments) {
    std::vector<std::shared_ptr<const Product>> products;
    std::vector<date> dates;
    std::vector<double> rates;
    for (std::size_t i = 0; i < instruments.generators.size(); ++i) {
        const auto generator =
            GeneratorRepository::instance().get<Generator>(instruments.generators[i]);
        const Tenor tenor(instruments.tenors[i]);
        const auto swap = std::dynamic_pointer_cast<const GeneratorSwap>(generator);
        if (!instruments.inUse[i] || !swap) {
            continue;
        }
        products.push_back(plainInstrument(valueDate, swap, tenor, instruments.quotes[i]));
        dates.push_back(products.back()->lastDate());
        rates.push_back(instruments.quotes[i] / 100.0);
    }
    auto curve = std::make_shared<YieldCurve>(valueDate, dates, rates, kindOf(interpolation));
    std::vector<double> working = rates;
    for (std::size_t k = 0; k < products.size(); ++k) {
        const auto objective = [&](double x) {
            working[k] = x;
            curve->update(working);
            return plainPrice(*curve, *products[k]);
        };
        const double atUpper = objective(1.0);
        const double atLower = objective(-1.0);
        if (atUpper == 0.0) {
            working[k] = 1.0;
            curve->update(working);
            continue;
        }
        if (atLower == 0.0) {
            continue;
        }
        std::uintmax_t iterations = 98;
        boost::math::tools::toms748_solve(
            objective, -1.0, 1.0, atLower, atUpper,
            boost::math::tools::eps_tolerance<double>(std::numeric_limits<double>::digits),
            iterations);
    }
    curve->update(working);
    return curve;
}

bool makesPillar(const YieldCurveInstruments& instruments, std::size_t m) {
    return instruments.inUse[m] &&
           std::dynamic_pointer_cast<const GeneratorSwap>(
               GeneratorRepository::instance().get<Generator>(instruments.generators[m]));
}

// The discounted-cash-flow value of each leg and of the swap: per period the curve's
// discount factor of the payment date, and the fixed rate or the projected overnight rate
// (realised fixings before the value date, the simple forward of the curve after it).
std::vector<double> plainModelPrice(const ProductInterestRateSwap& swap, const CurveMap& curves,
                                    const FixingsMap& fixings) {
    std::vector<double> result;
    double npv = 0.0;
    for (const auto& leg : swap.legs()) {
        const YieldCurve& discount = *curves.at(leg.currency);
        const std::size_t n = leg.paymentDates.size();
        std::vector<double> dfs;
        for (const date& p : leg.paymentDates) {
            dfs.push_back(discount.df(p));
        }
        std::vector<double> rates(n, leg.rate);
        if (!leg.isFixed) {
            const YieldCurve& curve = *curves.at(leg.index);
            const auto index = IndexRepository::instance().get<OisIndex>(leg.index);
            const DayCounter dc(index->dayCount());
            const date v = curve.valueDate();
            for (std::size_t i = 0; i < n; ++i) {
                const date s = leg.accrualStartDates[i];
                const date e = leg.accrualEndDates[i];
                const double tau = dc.fraction(s, e);
                if (v >= e || tau == 0.0) {
                    rates[i] = 0.0;
                } else if (s >= v) {
                    rates[i] = period::forwardRate(curve.df(s), curve.df(e), tau);
                } else {
                    const auto& [fixingDates, fixingValues] = fixings.at(leg.index);
                    const auto calendar = CalendarRepository::instance().get(index->calendar());
                    std::vector<date> days;
                    for (date d = s; d < v; d += boost::gregorian::days(1)) {
                        if (calendar->isBusinessDay(d)) {
                            days.push_back(d);
                        }
                    }
                    const auto fixingOn = [&](const date& d) -> const double* {
                        const auto it = std::find(fixingDates.begin(), fixingDates.end(), d);
                        return it == fixingDates.end() ? nullptr
                                                       : &fixingValues[static_cast<std::size_t>(
                                                             it - fixingDates.begin())];
                    };
                    double g = 1.0;
                    for (std::size_t j = 0; j < days.size(); ++j) {
                        const date next = j + 1 < days.size() ? days[j + 1] : v;
                        g = period::compound(g, *fixingOn(days[j]), dc.fraction(days[j], next));
                    }
                    if (const double* f0 = fixingOn(v)) {
                        const date h = addBusinessDays(v, 1, *calendar);
                        g = period::compound(g, *f0, dc.fraction(v, h));
                        rates[i] = period::runningRateFromNext(g, curve.df(h), curve.df(e), tau);
                    } else {
                        rates[i] = period::runningRate(g, curve.df(e), tau);
                    }
                }
            }
        }
        double pv = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            if (discount.valueDate() < leg.paymentDates[i]) {
                pv += period::couponValue(leg.dayCountFractions[i] * leg.notional, rates[i],
                                          leg.margin, dfs[i]);
            }
        }
        if (leg.isPaid) {
            pv = -pv;
        }
        result.push_back(pv);
        npv += pv;
    }
    result.push_back(npv);
    return result;
}

struct Sensitivities {
    std::vector<double> leg1;
    std::vector<double> leg2;
    std::vector<double> net;
};

// Bump each used instrument whose pillar is the first or follows a pillar before the swap's
// last date; rebuild the whole curve up and down, reprice, take the central difference.
Sensitivities plainRisk(const std::shared_ptr<const Product>& product, const CurveMap& curves,
                        const FixingsMap& fixings) {
    const auto& swap = dynamic_cast<const ProductInterestRateSwap&>(*product);
    const YieldCurve& base = *curves.at(swap.legs()[0].currency);
    YieldCurveInstruments instruments = base.instruments();
    const date horizon = swap.lastDate();
    const std::vector<date> pillars = base.dates();
    const double bump = ModelDiscountedCashFlow::bumpSize;

    const auto revalue = [&](std::size_t m, double quote) {
        instruments.quotes[m] = quote;
        const auto curve = plainBootstrap(base.valueDate(), base.interpolation(), instruments);
        CurveMap bumped;
        for (const auto& entry : curves) {
            bumped.emplace(entry.first, curve.get());
        }
        return ModelDiscountedCashFlow::price(product, bumped, fixings);
    };
    Sensitivities result;
    std::size_t j = 0;
    for (std::size_t m = 0; m < instruments.tenors.size(); ++m) {
        double s1 = 0.0;
        double s2 = 0.0;
        double net = 0.0;
        if (makesPillar(instruments, m)) {
            if (j < pillars.size() && (j == 0 || pillars[j - 1] < horizon)) {
                const double q = instruments.quotes[m];
                const ObjectTree up = revalue(m, q + bump);
                const ObjectTree down = revalue(m, q - bump);
                instruments.quotes[m] = q;
                s1 = (up.get<double>("Leg1 PV") - down.get<double>("Leg1 PV")) / (2.0 * bump);
                s2 = (up.get<double>("Leg2 PV") - down.get<double>("Leg2 PV")) / (2.0 * bump);
                net = (up.get<double>("NPV") - down.get<double>("NPV")) / (2.0 * bump);
            }
            ++j;
        }
        result.leg1.push_back(s1);
        result.leg2.push_back(s2);
        result.net.push_back(net);
    }
    return result;
}

// ---- Market data --------------------------------------------------------------------------

const std::vector<std::string> tenors = {"1M",  "2M",  "3M",  "6M",  "9M",  "1Y",
                                         "18M", "2Y",  "3Y",  "4Y",  "5Y",  "7Y",
                                         "10Y", "12Y", "15Y", "20Y", "25Y", "30Y"};

enum class Shape { Upward, Inverted, Negative, Humped };

double quoteOf(Shape shape, std::size_t i) {
    const double x = static_cast<double>(i) / static_cast<double>(tenors.size() - 1);
    switch (shape) {
    case Shape::Upward:
        return 0.8 + 3.9 * std::sqrt(x);
    case Shape::Inverted:
        return 5.4 - 1.9 * x;
    case Shape::Negative:
        return -0.78 + 0.5 * x * x;
    case Shape::Humped:
        return 3.1 + 1.2 * std::sin(3.0 * x) + 0.013 * static_cast<double>(i % 3);
    }
    return 0.0;
}

struct CurveCase {
    std::string name;
    date valueDate;
    std::string generator;
    std::string interpolation;
    Shape shape;
    // Unused rows, and a deposit row that makes no pillar, test the pillar bookkeeping.
    bool gaps;
};

YieldCurveInstruments instrumentsOf(const CurveCase& c) {
    YieldCurveInstruments instruments = quotedInstruments(
        c.generator, tenors, [&](std::size_t i) { return quoteOf(c.shape, i); },
        c.gaps ? std::vector<std::size_t>{2, 9} : std::vector<std::size_t>{});
    if (c.gaps) {
        insertDeposit(instruments, 4, depositLabel, 4.1);
    }
    return instruments;
}

std::vector<CurveCase> curveCases() {
    const std::vector<std::pair<std::string, date>> valueDates = {
        {"mid-March", date(2026, 3, 16)},
        {"before Christmas", date(2026, 12, 23)},
        {"month end", date(2027, 1, 29)},
        {"quarter end", date(2026, 6, 30)}};
    const std::vector<std::string> generators = {"USD SOFR SW", "GBP SONIA SW", "EUR ESTR SW",
                                                 "JPY TONA SW"};
    const Shape shapes[] = {Shape::Upward, Shape::Inverted, Shape::Negative, Shape::Humped};
    std::vector<CurveCase> cases;
    for (std::size_t v = 0; v < valueDates.size(); ++v) {
        for (std::size_t g = 0; g < generators.size(); ++g) {
            for (const std::string interpolation : {"LinearLogDf", "LinearRates"}) {
                const Shape shape = shapes[(v + g) % 4];
                const bool gaps = generators[g] == "USD SOFR SW" && v % 2 == 0;
                cases.push_back({valueDates[v].first + ", " + generators[g] + ", " + interpolation,
                                 valueDates[v].second, generators[g], interpolation, shape, gaps});
            }
        }
    }
    return cases;
}

std::shared_ptr<const ProductInterestRateSwap> tradeOf(const std::string& generator, date start,
                                                       date end, double rate, double margin,
                                                       double notional) {
    return std::make_shared<const ProductInterestRateSwap>(
        GeneratorRepository::instance().get<Generator>(generator),
        swapTree("trade", start, end, rate, margin, notional, notional));
}

struct Trade {
    std::string name;
    std::shared_ptr<const ProductInterestRateSwap> swap;
};

// Spot, forward-starting, short, beyond the last pillar, exactly an instrument, seasoned
// with a running period, one that only has a payment left, and two whose legs differ.
std::vector<Trade> tradesOn(const CurveCase& c) {
    const auto generator = GeneratorRepository::instance().get<GeneratorSwap>(c.generator);
    const auto calendar = CalendarRepository::instance().get(generator->calendar());
    const date spot = addBusinessDays(c.valueDate, generator->startDelay(), *calendar);
    const auto plus = [](date d, const char* tenor) { return addTenor(d, Tenor(tenor)); };
    const date seasoned = c.valueDate - days(151);
    return {
        {"spot 10Y", tradeOf(c.generator, spot, plus(spot, "10Y"), 0.036, 0.0, 1e7)},
        {"2Y into 5Y", tradeOf(c.generator, plus(spot, "2Y"), plus(spot, "7Y"), 0.031, 0.0, 5e6)},
        {"spot 5M", tradeOf(c.generator, spot, plus(spot, "5M"), 0.04, 0.0, 1e6)},
        {"spot 40Y", tradeOf(c.generator, spot, plus(spot, "40Y"), 0.03, 0.0, 1e6)},
        {"the 5Y instrument", tradeOf(c.generator, spot, plus(spot, "5Y"), 0.033, 0.0, 1.0)},
        {"seasoned 7Y", tradeOf(c.generator, seasoned, plus(seasoned, "7Y"), 0.028, 0.0015, 2e6)},
        {"last payment pending",
         tradeOf(c.generator, subtractTenor(c.valueDate - days(1), Tenor("1Y")),
                 c.valueDate - days(1), 0.035, 0.0, 1e6)},
        {"mixed legs, seasoned 4Y",
         tradeOf(mixedLabel, seasoned, plus(seasoned, "4Y"), 0.032, 0.002, 3e6)},
        {"mixed legs, spot 12Y", tradeOf(mixedLabel, spot, plus(spot, "12Y"), 0.034, 0.0, 1e6)},
    };
}

// Fixings of the floating leg's index on every index business day of the last year.
FixingsMap fixingsFor(const ProductInterestRateSwap& swap, const date& valueDate) {
    FixingsMap fixings;
    for (const auto& leg : swap.legs()) {
        if (leg.isFixed) {
            continue;
        }
        const auto index = IndexRepository::instance().get<OisIndex>(leg.index);
        const auto calendar = CalendarRepository::instance().get(index->calendar());
        auto& [dates, values] = fixings[leg.index];
        for (date d = valueDate - days(400); d <= valueDate; d += days(1)) {
            if (calendar->isBusinessDay(d)) {
                dates.push_back(d);
                values.push_back(0.03 + 1e-5 * static_cast<double>(dates.size() % 17));
            }
        }
    }
    return fixings;
}

} // namespace

TEST(Optimisation, BootstrapMatchesThePlainAlgorithmBitForBit) {
    for (const CurveCase& c : curveCases()) {
        SCOPED_TRACE(c.name);
        const YieldCurveInstruments instruments = instrumentsOf(c);
        const YieldCurve fast("curve", c.valueDate, "CCY", c.interpolation, instruments);
        const auto plain = plainBootstrap(c.valueDate, c.interpolation, instruments);
        EXPECT_EQ(plain->dates(), fast.dates());
        expectSameBits(plain->rates(), fast.rates(), "rates");
        ASSERT_EQ(fast.dates().size(), fast.pillarInstruments().size());
    }
}

TEST(Optimisation, CurvesRebuiltOnNewQuotesMatchThePlainAlgorithm) {
    // Each tick rebuilds the curve with moved quotes; later builds reuse the instruments of
    // the first, whose own fixed rates are the first tick's. So does the risk of each.
    const CurveCase c{"", date(2027, 1, 29), "USD SOFR SW", "LinearLogDf", Shape::Inverted, true};
    YieldCurveInstruments instruments = instrumentsOf(c);
    const Trade trade = tradesOn(c)[1];
    for (int tick = 0; tick < 4; ++tick) {
        SCOPED_TRACE("tick " + std::to_string(tick));
        for (std::size_t i = 0; i < instruments.quotes.size(); ++i) {
            instruments.quotes[i] += 0.01 * static_cast<double>((tick + 1) * (i % 5)) - 0.02;
        }
        const YieldCurve fast("curve", c.valueDate, "USD", c.interpolation, instruments);
        const auto plain = plainBootstrap(c.valueDate, c.interpolation, instruments);
        expectSameBits(plain->rates(), fast.rates(), "rates");
        for (const auto& pillar : fast.pillarInstruments()) {
            EXPECT_TRUE(std::find(instruments.quotes.begin(), instruments.quotes.end(),
                                  pillar.quote) != instruments.quotes.end());
        }
        CurveMap curves{{"USD", &fast}, {"SOFR", &fast}};
        const Sensitivities expected = plainRisk(trade.swap, curves, {});
        const ObjectTree found = ModelDiscountedCashFlow::risk(trade.swap, curves, {});
        expectSameBits(expected.net, column(found, "Net"), "Net");
        expectSameBits(expected.leg1, column(found, "Leg1"), "Leg1");
    }
}

TEST(Optimisation, PillarSolveOfTheBuilderMatchesThePlainAlgorithm) {
    // YieldCurveBuilder::build solves a pillar-constructed curve with the same solve.
    const CurveCase c{"", date(2026, 12, 23), "USD SOFR SW", "LinearLogDf", Shape::Humped, false};
    const YieldCurveInstruments instruments = instrumentsOf(c);
    std::vector<std::shared_ptr<const Product>> products;
    std::vector<date> dates;
    std::vector<double> guesses;
    const auto generator = GeneratorRepository::instance().get<GeneratorSwap>(c.generator);
    for (std::size_t i = 0; i < instruments.tenors.size(); ++i) {
        products.push_back(makeCurveInstrument(c.valueDate, generator, Tenor(instruments.tenors[i]),
                                               instruments.quotes[i]));
        dates.push_back(products.back()->lastDate());
        guesses.push_back(instruments.quotes[i] / 100.0);
    }
    // Initial guesses far from the solution change nothing: a pillar's solve never reads
    // its own rate or a later one.
    std::vector<double> wild(guesses.size());
    for (std::size_t k = 0; k < wild.size(); ++k) {
        wild[k] = k % 2 == 0 ? 0.9 : -0.7;
    }
    for (const auto& start : {guesses, wild}) {
        YieldCurve curve(c.valueDate, dates, start, YieldCurveInterpolation::LinearLogDf);
        for (std::size_t k = 0; k < products.size(); ++k) {
            solvePillar(curve, k, products[k]);
        }
        expectSameBits(plainBootstrap(c.valueDate, c.interpolation, instruments)->rates(),
                       curve.rates(), "rates");
    }
}

// The discount factor from the definitions: time in days over 365; zero rate linear in time,
// or log discount L(k) = r(k) t(k) linear in time with the forward f(k) of the segment ending
// at pillar k carried before the first and after the last pillar.
double plainDf(const date& v, const std::vector<date>& dates, const std::vector<double>& r,
               YieldCurveInterpolation kind, const date& d) {
    const auto timeOf = [&](const date& x) { return static_cast<double>((x - v).days()) / 365.0; };
    std::vector<double> t;
    std::vector<double> logDiscount;
    std::vector<double> forward;
    for (std::size_t k = 0; k < dates.size(); ++k) {
        t.push_back(timeOf(dates[k]));
        const double previousL = k == 0 ? 0.0 : r[k - 1] * t[k - 1];
        const double previousT = k == 0 ? 0.0 : t[k - 1];
        forward.push_back((r[k] * t[k] - previousL) / (t[k] - previousT));
        logDiscount.push_back(r[k] * t[k]);
    }
    const double x = timeOf(d);
    if (x <= 0.0) {
        return 1.0;
    }
    const std::size_t n = t.size();
    const bool byRates = kind == YieldCurveInterpolation::LinearRates;
    double logDf;
    if (x < t[0]) {
        logDf = byRates ? x * r[0] : x * forward[0];
    } else if (x >= t[n - 1]) {
        logDf = byRates ? x * r[n - 1] : logDiscount[n - 1] + (x - t[n - 1]) * forward[n - 1];
    } else {
        std::size_t i = 0;
        while (t[i + 1] < x) {
            ++i;
        }
        const double w = (x - t[i]) / (t[i + 1] - t[i]);
        logDf = byRates ? ((1.0 - w) * r[i] + w * r[i + 1]) * x
                        : (1.0 - w) * logDiscount[i] + w * logDiscount[i + 1];
    }
    return std::exp(-logDf);
}

TEST(Optimisation, DiscountFactorsFollowTheirDefinitionToTheBit) {
    const date v(2026, 3, 16);
    const std::vector<std::pair<std::vector<date>, std::vector<double>>> curves = {
        {{v + days(1)}, {0.031}},
        {{v + days(30), v + days(31), v + days(400), v + days(3000), v + days(11000)},
         {0.05, -0.01, 0.0, 0.023, 0.041}},
        {{v + days(7), v + days(95), v + days(730), v + days(1830), v + days(3653)},
         {-0.004, -0.0035, 0.0012, 0.009, 0.0151}}};
    for (const auto kind :
         {YieldCurveInterpolation::LinearRates, YieldCurveInterpolation::LinearLogDf}) {
        for (const auto& [dates, rates] : curves) {
            const YieldCurve curve(v, dates, rates, kind);
            for (date d = v - days(5); d <= v + days(12000); d += days(1)) {
                const double expected = plainDf(v, dates, rates, kind, d);
                ASSERT_EQ(bits(expected), bits(curve.df(d))) << d;
                ASSERT_EQ(bits(expected), bits(curve.df(curve.point(d)))) << d;
            }
        }
    }
}

TEST(Optimisation, BumpedCurveMatchesAFullRebuildUpToItsLastPillar) {
    const std::vector<CurveCase> cases = curveCases();
    for (const std::size_t which : {0u, 1u, 3u, 10u, 17u, 26u}) {
        const CurveCase& c = cases[which];
        SCOPED_TRACE(c.name);
        YieldCurveInstruments instruments = instrumentsOf(c);
        const YieldCurve base("curve", c.valueDate, "CCY", c.interpolation, instruments);
        const std::size_t pillarCount = base.dates().size();
        std::size_t pillar = 0;
        for (std::size_t m = 0; m < instruments.tenors.size(); ++m) {
            if (!makesPillar(instruments, m)) {
                continue;
            }
            const double quote = instruments.quotes[m];
            for (const std::size_t last : {pillar, (pillar + pillarCount) / 2, pillarCount - 1}) {
                BumpedCurve bumped(base, last);
                for (const double moved : {quote + 0.0001, quote - 0.25}) {
                    instruments.quotes[m] = moved;
                    const auto rebuilt = plainBootstrap(c.valueDate, c.interpolation, instruments);
                    bumped.solve(pillar, moved);
                    std::vector<double> expected = rebuilt->rates();
                    std::vector<double> found = bumped.curve().rates();
                    expected.resize(last + 1);
                    found.resize(last + 1);
                    expectSameBits(expected, found, "pillar " + std::to_string(pillar));
                }
                instruments.quotes[m] = quote;
                bumped.reset();
                expectSameBits(base.rates(), bumped.curve().rates(), "after reset");
            }
            ++pillar;
        }
    }
}

TEST(Optimisation, PriceMatchesThePlainValuationBitForBit) {
    const std::vector<CurveCase> cases = curveCases();
    for (const std::size_t which : {0u, 5u, 11u, 18u, 22u, 31u}) {
        const CurveCase& c = cases[which];
        const YieldCurve curve("curve", c.valueDate, "CCY", c.interpolation, instrumentsOf(c));
        const YieldCurve other(c.valueDate, {c.valueDate + days(900), c.valueDate + days(9000)},
                               {0.045, 0.02}, YieldCurveInterpolation::LinearLogDf);
        for (const Trade& trade : tradesOn(c)) {
            SCOPED_TRACE(c.name + ", " + trade.name);
            const auto& floating = trade.swap->legs()[1];
            const FixingsMap fixings = fixingsFor(*trade.swap, c.valueDate);
            for (const YieldCurve* estimation : {&curve, &other}) {
                CurveMap curves{{floating.currency, &curve}, {floating.index, estimation}};
                const ObjectTree found =
                    ModelDiscountedCashFlow::price(trade.swap, curves, fixings);
                expectSameBits(plainModelPrice(*trade.swap, curves, fixings),
                               {found.get<double>("Leg1 PV"), found.get<double>("Leg2 PV"),
                                found.get<double>("NPV")},
                               "Leg1 PV, Leg2 PV, NPV");
            }
        }
    }
}

TEST(Optimisation, RiskMatchesFullRevaluationBitForBit) {
    const std::vector<CurveCase> cases = curveCases();
    for (const std::size_t which : {0u, 3u, 9u, 14u, 16u, 29u}) {
        const CurveCase& c = cases[which];
        const YieldCurve curve("curve", c.valueDate, "CCY", c.interpolation, instrumentsOf(c));
        for (const Trade& trade : tradesOn(c)) {
            SCOPED_TRACE(c.name + ", " + trade.name);
            const auto& floating = trade.swap->legs()[1];
            CurveMap curves{{floating.currency, &curve}, {floating.index, &curve}};
            const FixingsMap fixings = fixingsFor(*trade.swap, c.valueDate);
            const Sensitivities expected = plainRisk(trade.swap, curves, fixings);
            const ObjectTree found = ModelDiscountedCashFlow::risk(trade.swap, curves, fixings);
            expectSameBits(expected.leg1, column(found, "Leg1"), "Leg1");
            expectSameBits(expected.leg2, column(found, "Leg2"), "Leg2");
            expectSameBits(expected.net, column(found, "Net"), "Net");
            EXPECT_EQ(curves.size(), 2u) << "risk leaves the map alone";
        }
    }
}

TEST(Optimisation, RiskOfASwapPricedOnAnotherEstimationCurveMatchesFullRevaluation) {
    // Every key of the map moves to the bumped curve, the estimation curve's too.
    const CurveCase c{"", date(2026, 6, 30), "USD SOFR SW", "LinearLogDf", Shape::Humped, true};
    const YieldCurve discount("curve", c.valueDate, "USD", c.interpolation, instrumentsOf(c));
    const YieldCurve estimation(c.valueDate, {c.valueDate + days(3650)}, {0.05},
                                YieldCurveInterpolation::LinearRates);
    for (const Trade& trade : tradesOn(c)) {
        SCOPED_TRACE(trade.name);
        CurveMap curves{{"USD", &discount}, {"SOFR", &estimation}};
        const FixingsMap fixings = fixingsFor(*trade.swap, c.valueDate);
        const Sensitivities expected = plainRisk(trade.swap, curves, fixings);
        const ObjectTree found = ModelDiscountedCashFlow::risk(trade.swap, curves, fixings);
        expectSameBits(expected.net, column(found, "Net"), "Net");
        expectSameBits(expected.leg2, column(found, "Leg2"), "Leg2");
    }
}

TEST(Optimisation, DiscountFactorsAndPillarSolvesAllocateNothing) {
    const CurveCase c{"", date(2026, 3, 16), "USD SOFR SW", "LinearLogDf", Shape::Upward, false};
    YieldCurve curve("curve", c.valueDate, "USD", c.interpolation, instrumentsOf(c));
    std::vector<date> probes;
    for (int k = -5; k < 12000; k += 3) {
        probes.push_back(c.valueDate + days(k));
    }
    std::vector<PillarPricer> pricers;
    for (std::size_t k = 0; k < curve.pillarInstruments().size(); ++k) {
        pricers.emplace_back(curve, k, curve.pillarInstruments()[k].swap);
        pricers.back().setQuote(curve.pillarInstruments()[k].quote);
    }
    const std::vector<double> solved = curve.rates();

    const std::size_t before = allocations.load();
    double sum = 0.0;
    for (const date& d : probes) {
        sum += curve.df(d);
    }
    for (PillarPricer& pricer : pricers) {
        solvePillar(curve, pricer);
    }
    EXPECT_EQ(before, allocations.load());
    EXPECT_GT(sum, 0.0);
    expectSameBits(solved, curve.rates(), "re-solved");
}

TEST(Optimisation, PricersSharingDatesWithThePillarBeforeValueToTheBit) {
    // Pricers made from the one before them, and prepared from it while the curve is as it
    // left it, against pricers made alone; then prepared after an earlier pillar moved.
    const CurveCase c{"", date(2026, 3, 16), "USD SOFR SW", "LinearLogDf", Shape::Humped, false};
    YieldCurve curve("curve", c.valueDate, "USD", c.interpolation, instrumentsOf(c));
    const auto& instruments = curve.pillarInstruments();
    std::vector<PillarPricer> chained;
    std::vector<PillarPricer> alone;
    chained.reserve(instruments.size());
    for (std::size_t k = 0; k < instruments.size(); ++k) {
        chained.emplace_back(curve, k, instruments[k], k == 0 ? nullptr : &chained.back());
        alone.emplace_back(curve, k, instruments[k].swap);
        chained.back().setQuote(instruments[k].quote + 0.25);
        alone.back().setQuote(instruments[k].quote + 0.25);
    }
    for (std::size_t k = 1; k < instruments.size(); ++k) {
        SCOPED_TRACE(k);
        chained[k - 1].prepare(curve);
        chained[k - 1].value(curve);
        chained[k].prepare(curve, &chained[k - 1]);
        alone[k].prepare(curve);
        expectSameBits({alone[k].value(curve)}, {chained[k].value(curve)}, "as left");

        chained[k - 1].value(curve);
        const double rate = curve.pillarRates()[k - 1];
        curve.updateRate(k - 1, rate + 1e-3);
        chained[k].prepare(curve, &chained[k - 1]);
        alone[k].prepare(curve);
        expectSameBits({alone[k].value(curve)}, {chained[k].value(curve)}, "moved");
        curve.updateRate(k - 1, rate);
    }
}

TEST(Optimisation, BusinessDaysMatchTheRuleOfTheirLists) {
    // Built-in calendars, and made-up ones: forced business days on weekends, holidays on
    // weekdays, a Friday-Saturday weekend, and lists too far apart to tabulate.
    std::vector<std::shared_ptr<const SingleCalendar>> calendars;
    for (const char* name : {"US", "USGS", "EN", "TG", "JP", "SG", "CH"}) {
        calendars.push_back(std::dynamic_pointer_cast<const SingleCalendar>(
            CalendarRepository::instance().getSingle(name)));
        ASSERT_TRUE(calendars.back()) << name;
    }
    const std::vector<date> holidays = {date(2030, 1, 2), date(2030, 1, 5), date(2031, 7, 4)};
    const std::vector<date> open = {date(2030, 1, 5), date(2030, 1, 6), date(2031, 12, 27)};
    calendars.push_back(
        std::make_shared<SingleCalendar>("mixed", saturdaySundayWeekend, holidays, open));
    calendars.push_back(std::make_shared<SingleCalendar>(
        "Friday-Saturday", WeekdaySet{{0, 0, 0, 0, 0, 1, 1}}, holidays, std::vector<date>{}));
    calendars.push_back(std::make_shared<SingleCalendar>(
        "far apart", saturdaySundayWeekend,
        std::vector<date>{date(1500, 3, 2), date(2030, 1, 2), date(9000, 5, 5)},
        std::vector<date>{date(2030, 1, 6)}));
    calendars.push_back(std::make_shared<SingleCalendar>("weekend only", saturdaySundayWeekend,
                                                         std::vector<date>{}, std::vector<date>{}));
    const std::pair<date, date> ranges[] = {{date(1400, 1, 1), date(1400, 3, 1)},
                                            {date(1500, 2, 20), date(1500, 3, 10)},
                                            {date(1999, 12, 1), date(2041, 1, 1)},
                                            {date(9000, 5, 1), date(9000, 5, 9)},
                                            {date(9999, 11, 1), date(9999, 12, 31)}};
    for (const auto& calendar : calendars) {
        const auto reference = [&](const date& d) {
            const auto& forced = calendar->businessDays();
            const auto& closed = calendar->holidays();
            if (std::binary_search(forced.begin(), forced.end(), d)) {
                return true;
            }
            if (std::binary_search(closed.begin(), closed.end(), d)) {
                return false;
            }
            return !calendar->weekend().contains(d.day_of_week().as_number());
        };
        for (const auto& [first, last] : ranges) {
            for (date d = first; d <= last; d += days(1)) {
                ASSERT_EQ(reference(d), calendar->isBusinessDay(d)) << calendar->name() << " " << d;
            }
        }
    }
}
