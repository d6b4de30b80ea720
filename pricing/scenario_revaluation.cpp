#include "pricing/scenario_revaluation.hpp"

#include "dates/calendar_repository.hpp"
#include "pricing/thread_count.hpp"
#include "pricing/worker_pool.hpp"

#include <algorithm>
#include <limits>
#include <span>
#include <stdexcept>
#include <tuple>

namespace tsr {

namespace {

constexpr double notPriced = std::numeric_limits<double>::quiet_NaN();
// Scenarios priced together per trade: their discount tables stay in cache alongside.
constexpr std::size_t maxScenarioBlock = 16;
// The fewest trades a thread prices at once when the engine is built.
constexpr std::size_t tradeChunk = 64;

} // namespace

ScenarioRevaluation::ScenarioRevaluation(std::vector<std::shared_ptr<const YieldCurve>> curves,
                                         std::vector<Trade> trades, const FixingsMap& fixings,
                                         unsigned threads)
    : curves_(std::move(curves)), trades_(std::move(trades)), pricers_(trades_.size()),
      baseNpv_(trades_.size(), notPriced), errors_(trades_.size()), byCurve_(curves_.size()) {
    for (std::size_t j = 0; j < trades_.size(); ++j) {
        const Trade& trade = trades_[j];
        if (trade.curve >= curves_.size() || !curves_[trade.curve] || !trade.swap) {
            throw std::invalid_argument("Error, trade " + std::to_string(j) +
                                        " names no curve or no swap.");
        }
        byCurve_[trade.curve].push_back(j);
    }
    // Every pricer sees the calendars of one moment, whichever thread builds it.
    const std::shared_ptr<const CalendarRepository> calendars =
        CalendarRepository::instance().snapshot();
    forEachChunk(trades_.size(), tradeChunk, threads, [&](std::size_t begin, std::size_t end) {
        const CalendarRepository::ScopedView view(calendars.get());
        std::vector<double> scratch;
        for (std::size_t j = begin; j < end; ++j) {
            const YieldCurve& curve = *curves_[trades_[j].curve];
            try {
                const SwapPricer& pricer = pricers_[j].emplace(trades_[j].swap, curve, fixings);
                baseNpv_[j] = pricer.value(curve, scratch).npv;
            } catch (const std::exception& e) {
                pricers_[j].reset();
                errors_[j] = e.what();
            }
        }
    });
    points_.resize(curves_.size());
    for (std::size_t c = 0; c < curves_.size(); ++c) {
        const std::vector<std::size_t>& mine = byCurve_[c];
        // The union of the dates the curve's trades read, found day by day: the curve's
        // table of points, ascending.
        date first(boost::date_time::pos_infin);
        date last(boost::date_time::neg_infin);
        for (const std::size_t j : mine) {
            if (pricers_[j] && !pricers_[j]->dates().empty()) {
                first = std::min(first, pricers_[j]->dates().front());
                last = std::max(last, pricers_[j]->dates().back());
            }
        }
        if (first > last) {
            continue;
        }
        std::vector<std::uint32_t> placeOfDay(static_cast<std::size_t>((last - first).days()) + 1,
                                              SwapPricer::notShared);
        for (const std::size_t j : mine) {
            if (pricers_[j]) {
                for (const date& d : pricers_[j]->dates()) {
                    placeOfDay[static_cast<std::size_t>((d - first).days())] = 0;
                }
            }
        }
        for (std::size_t i = 0; i < placeOfDay.size(); ++i) {
            if (placeOfDay[i] != SwapPricer::notShared) {
                placeOfDay[i] = static_cast<std::uint32_t>(points_[c].size());
                points_[c].push_back(
                    curves_[c]->point(first + boost::gregorian::days(static_cast<long>(i))));
            }
        }
        forEachChunk(mine.size(), tradeChunk, threads, [&](std::size_t begin, std::size_t end) {
            for (std::size_t k = begin; k < end; ++k) {
                if (pricers_[mine[k]]) {
                    pricers_[mine[k]]->shareDates(first, placeOfDay);
                }
            }
        });
    }
}

void ScenarioRevaluation::revalue(const std::vector<Scenario>& scenarios, std::size_t first,
                                  std::size_t last, std::size_t firstTrade, std::size_t lastTrade,
                                  Result& result, std::vector<CurveFailure>& failures,
                                  std::vector<std::vector<double>>& tables) const {
    const std::size_t width = lastTrade - firstTrade;
    tables.resize(last - first);
    // The scenarios of the block that move the curve and whose rebuild worked.
    std::vector<std::size_t> moved;
    for (std::size_t c = 0; c < curves_.size(); ++c) {
        const std::vector<std::size_t>& all = byCurve_[c];
        const std::span<const std::size_t> trades(
            std::lower_bound(all.begin(), all.end(), firstTrade),
            std::lower_bound(all.begin(), all.end(), lastTrade));
        if (trades.empty()) {
            continue;
        }
        moved.clear();
        for (std::size_t s = first; s < last; ++s) {
            double* pnl = result.pnl.data() + s * width - firstTrade;
            const Scenario& scenario = scenarios[s];
            if (c >= scenario.size() || !scenario[c]) {
                for (const std::size_t j : trades) {
                    pnl[j] = pricers_[j] ? 0.0 : notPriced;
                }
                continue;
            }
            const YieldCurve& base = *curves_[c];
            YieldCurveInstruments instruments = base.instruments();
            if (scenario[c]->size() != instruments.quotes.size()) {
                throw std::invalid_argument(
                    "Error, a scenario gives " + std::to_string(scenario[c]->size()) +
                    " quotes for curve " + base.label() + ", which has " +
                    std::to_string(instruments.quotes.size()) + " instruments.");
            }
            instruments.quotes = *scenario[c];
            std::optional<YieldCurve> curve;
            try {
                curve.emplace(base.label(), base.valueDate(), base.currency(), base.interpolation(),
                              instruments, base.cubicFrom());
            } catch (const std::exception& e) {
                failures.push_back({s, c, e.what()});
                for (const std::size_t j : trades) {
                    pnl[j] = notPriced;
                }
                continue;
            }
            const std::vector<YieldCurve::Point>& points = points_[c];
            std::vector<double>& table = tables[s - first];
            table.resize(points.size());
            for (std::size_t i = 0; i < points.size(); ++i) {
                table[i] = curve->df(points[i]);
            }
            moved.push_back(s);
        }
        // Trade by trade, every moved scenario: the pricer stays in cache meanwhile.
        for (const std::size_t j : trades) {
            for (const std::size_t s : moved) {
                result.pnl[s * width + j - firstTrade] =
                    pricers_[j] ? pricers_[j]->value(tables[s - first].data()).npv - baseNpv_[j]
                                : notPriced;
            }
        }
    }
}

ScenarioRevaluation::Result ScenarioRevaluation::run(const std::vector<Scenario>& scenarios,
                                                     unsigned threads, std::size_t firstTrade,
                                                     std::size_t lastTrade) const {
    if (firstTrade > lastTrade || lastTrade > trades_.size()) {
        throw std::out_of_range("Error, trades " + std::to_string(firstTrade) + " to " +
                                std::to_string(lastTrade) + " of a book of " +
                                std::to_string(trades_.size()) + ".");
    }
    threads = checkedThreadCount(threads);
    Result result;
    result.pnl.assign(scenarios.size() * (lastTrade - firstTrade), notPriced);
    // Scenarios are taken in blocks, but never so large that a thread would sit idle.
    const std::size_t scenarioBlock =
        std::clamp<std::size_t>(scenarios.size() / (4 * std::size_t{threads}), 1, maxScenarioBlock);
    const std::size_t blocks = (scenarios.size() + scenarioBlock - 1) / scenarioBlock;
    std::vector<std::vector<CurveFailure>> failures(blocks);
    forEachChunk(blocks, 1, threads, [&](std::size_t begin, std::size_t end) {
        std::vector<std::vector<double>> tables;
        for (std::size_t b = begin; b < end; ++b) {
            const std::size_t s = b * scenarioBlock;
            revalue(scenarios, s, std::min(s + scenarioBlock, scenarios.size()), firstTrade,
                    lastTrade, result, failures[b], tables);
        }
    });
    for (auto& part : failures) {
        result.failures.insert(result.failures.end(), part.begin(), part.end());
    }
    std::sort(result.failures.begin(), result.failures.end(),
              [](const CurveFailure& a, const CurveFailure& b) {
                  return std::tie(a.scenario, a.curve) < std::tie(b.scenario, b.curve);
              });
    return result;
}

} // namespace tsr
