#include "pricing/scenario_revaluation.hpp"

#include "pricing/thread_count.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <limits>
#include <mutex>
#include <span>
#include <stdexcept>
#include <thread>
#include <tuple>

namespace tsr {

namespace {

constexpr double notPriced = std::numeric_limits<double>::quiet_NaN();
// Scenarios priced together per trade: their discount tables stay in cache alongside.
constexpr std::size_t maxScenarioBlock = 16;

} // namespace

ScenarioRevaluation::ScenarioRevaluation(std::vector<std::shared_ptr<const YieldCurve>> curves,
                                         std::vector<Trade> trades, const FixingsMap& fixings)
    : curves_(std::move(curves)), trades_(std::move(trades)), byCurve_(curves_.size()) {
    pricers_.reserve(trades_.size());
    baseNpv_.reserve(trades_.size());
    errors_.reserve(trades_.size());
    std::vector<double> scratch;
    for (std::size_t j = 0; j < trades_.size(); ++j) {
        const Trade& trade = trades_[j];
        if (trade.curve >= curves_.size() || !curves_[trade.curve] || !trade.swap) {
            throw std::invalid_argument("Error, trade " + std::to_string(j) +
                                        " names no curve or no swap.");
        }
        byCurve_[trade.curve].push_back(j);
        try {
            const YieldCurve& curve = *curves_[trade.curve];
            const SwapPricer& pricer =
                pricers_.emplace_back(std::in_place, trade.swap, curve, fixings).value();
            baseNpv_.push_back(pricer.value(curve, scratch).npv);
            errors_.emplace_back();
        } catch (const std::exception& e) {
            pricers_.resize(j);
            pricers_.emplace_back();
            baseNpv_.push_back(notPriced);
            errors_.emplace_back(e.what());
        }
    }
    points_.resize(curves_.size());
    for (std::size_t c = 0; c < curves_.size(); ++c) {
        std::vector<date> table;
        for (const std::size_t j : byCurve_[c]) {
            if (pricers_[j]) {
                table.insert(table.end(), pricers_[j]->dates().begin(), pricers_[j]->dates().end());
            }
        }
        std::sort(table.begin(), table.end());
        table.erase(std::unique(table.begin(), table.end()), table.end());
        for (const std::size_t j : byCurve_[c]) {
            if (pricers_[j]) {
                pricers_[j]->shareDates(table);
            }
        }
        points_[c].reserve(table.size());
        for (const date& d : table) {
            points_[c].push_back(curves_[c]->point(d));
        }
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
    const std::size_t workers = std::clamp<std::size_t>(
        threads, 1,
        std::max<std::size_t>(1, (scenarios.size() + scenarioBlock - 1) / scenarioBlock));
    std::vector<std::vector<CurveFailure>> failures(workers);
    std::atomic<std::size_t> next{0};
    std::exception_ptr error;
    std::mutex errorLock;
    auto work = [&](std::size_t worker) {
        std::vector<std::vector<double>> tables;
        try {
            for (std::size_t s = next.fetch_add(scenarioBlock); s < scenarios.size();
                 s = next.fetch_add(scenarioBlock)) {
                revalue(scenarios, s, std::min(s + scenarioBlock, scenarios.size()), firstTrade,
                        lastTrade, result, failures[worker], tables);
            }
        } catch (...) {
            const std::lock_guard<std::mutex> lock(errorLock);
            if (!error) {
                error = std::current_exception();
            }
            next = scenarios.size(); // the others stop at their next scenario
        }
    };
    if (workers == 1) {
        work(0);
    } else {
        std::vector<std::jthread> pool;
        pool.reserve(workers);
        for (std::size_t w = 0; w < workers; ++w) {
            pool.emplace_back(work, w);
        }
    }
    if (error) {
        std::rethrow_exception(error);
    }
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
