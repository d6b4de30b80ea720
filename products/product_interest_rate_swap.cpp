#include "products/product_interest_rate_swap.hpp"

#include "conventions/generator_swap.hpp"
#include "conventions/index_repository.hpp"
#include "conventions/ois_index.hpp"
#include "conventions/swap_conventions.hpp"
#include "core/shown_text.hpp"
#include "dates/calendar_repository.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

namespace tsr {

namespace {

// A NaN or infinite trade number would only come back as NaN prices; refuse it
// where it enters, naming it.
double requireFinite(double value, const std::string& prefix, const char* key,
                     const std::string& id) {
    if (!std::isfinite(value)) {
        throw std::invalid_argument("Error, the " + std::string(key) + " of " + prefix +
                                    " of swap " + shownText(id) + " is not finite: " +
                                    (std::isnan(value) ? "nan"
                                     : value > 0       ? "inf"
                                                       : "-inf"));
    }
    return value;
}

} // namespace

ProductInterestRateSwap::ProductInterestRateSwap(std::shared_ptr<const Generator> generator,
                                                 const ObjectTree& tree)
    : Product(tree), startDate_(tree.get<date>("start date")),
      endDate_(tree.get<date>("end date")) {
    const auto swapGenerator = std::dynamic_pointer_cast<const GeneratorSwap>(generator);
    if (!swapGenerator) {
        throw std::runtime_error("Error, invalid generator is passed.");
    }
    requireOrderedDates();
    const CalendarRepository::SteadyView calendars;
    for (std::size_t k = 0; k < legs_.size(); ++k) {
        const std::string prefix = "leg" + std::to_string(k + 1);
        const auto& convention = swapGenerator->legs()[k];
        if (!convention) {
            throw std::runtime_error("Error, the generator has no " + prefix + ".");
        }
        SwapLeg& leg = legs_[k];
        convention->generate(startDate_, endDate_, leg.accrualStartDates, leg.accrualEndDates,
                             leg.paymentDates, leg.dayCountFractions);
        // Only the keys the leg type reads are looked up, each checked as it is read.
        SwapLegTerms terms;
        if (convention->isFixed()) {
            terms.rate = requireFinite(tree.get<double>(prefix + ".rate"), prefix, "rate", id());
        } else {
            terms.margin =
                requireFinite(tree.get<double>(prefix + ".margin"), prefix, "margin", id());
        }
        terms.notional =
            requireFinite(tree.get<double>(prefix + ".notional"), prefix, "notional", id());
        setLegTerms(k, *convention, terms);
    }
}

ProductInterestRateSwap::ProductInterestRateSwap(const SwapConventions& conventions,
                                                 const SwapTerms& terms)
    : Product(terms.id), startDate_(terms.startDate), endDate_(terms.endDate) {
    requireOrderedDates();
    for (std::size_t k = 0; k < legs_.size(); ++k) {
        SwapLeg& leg = legs_[k];
        conventions.rules(k).generate(startDate_, endDate_, leg.accrualStartDates,
                                      leg.accrualEndDates, leg.paymentDates, leg.dayCountFractions);
        setLegTerms(k, conventions.leg(k), terms.legs[k]);
    }
}

ProductInterestRateSwap::ProductInterestRateSwap(const ProductInterestRateSwap& sameSchedules,
                                                 const SwapConventions& conventions,
                                                 const SwapTerms& terms)
    : Product(terms.id), startDate_(terms.startDate), endDate_(terms.endDate) {
    requireOrderedDates();
    for (std::size_t k = 0; k < legs_.size(); ++k) {
        SwapLeg& leg = legs_[k];
        const SwapLeg& from = sameSchedules.legs_[k];
        leg.accrualStartDates = from.accrualStartDates;
        leg.accrualEndDates = from.accrualEndDates;
        leg.paymentDates = from.paymentDates;
        leg.dayCountFractions = from.dayCountFractions;
        setLegTerms(k, conventions.leg(k), terms.legs[k]);
    }
}

void ProductInterestRateSwap::requireOrderedDates() const {
    // A reversed schedule would make one period of negative length.
    if (startDate_ > endDate_) {
        throw std::invalid_argument("Error, the start date " +
                                    boost::gregorian::to_iso_extended_string(startDate_) +
                                    " of swap " + shownText(id()) + " is after its end date " +
                                    boost::gregorian::to_iso_extended_string(endDate_) + ".");
    }
}

void ProductInterestRateSwap::setLegTerms(std::size_t k, const GeneratorSwap::SwapLeg& convention,
                                          const SwapLegTerms& terms) {
    const std::string prefix = "leg" + std::to_string(k + 1);
    SwapLeg& leg = legs_[k];
    leg.isFixed = convention.isFixed();
    leg.isPaid = convention.isPaid();
    leg.currency = convention.currency();
    if (leg.isFixed) {
        leg.rate = requireFinite(terms.rate, prefix, "rate", id());
        leg.margin = 0.0;
    } else {
        if (const auto* floating = dynamic_cast<const GeneratorSwap::SwapLegFloat*>(&convention)) {
            leg.index = floating->index();
        }
        leg.margin = requireFinite(terms.margin, prefix, "margin", id());
        leg.rate = 0.0;
    }
    leg.notional = requireFinite(terms.notional, prefix, "notional", id());
}

ProductInterestRateSwap::~ProductInterestRateSwap() = default;

date ProductInterestRateSwap::lastDate() const {
    for (std::size_t k = 0; k < legs_.size(); ++k) {
        if (legs_[k].paymentDates.empty()) {
            throw std::runtime_error("Error, leg" + std::to_string(k + 1) + " of swap " +
                                     shownText(id()) +
                                     " has no periods: its start date equals its end date.");
        }
    }
    return std::max(legs_[0].paymentDates.back(), legs_[1].paymentDates.back());
}

ObjectTree ProductInterestRateSwap::requiredFixings(date asOf) const {
    ObjectTree result;
    for (const FixingDays& leg : requiredFixingDays(asOf)) {
        addVector(result, leg.index, leg.days);
    }
    return result;
}

std::vector<ProductInterestRateSwap::FixingDays>
ProductInterestRateSwap::requiredFixingDays(date asOf) const {
    std::vector<FixingDays> result;
    for (const auto& leg : legs_) {
        if (leg.isFixed) {
            continue;
        }
        const auto& starts = leg.accrualStartDates;
        const auto next = std::lower_bound(starts.begin(), starts.end(), asOf);
        if (next == starts.begin()) {
            continue;
        }
        const date periodStart = *(next - 1);
        const auto index = IndexRepository::instance().get<OisIndex>(leg.index);
        const auto calendar = CalendarRepository::current().get(index->calendar());
        std::vector<date> days;
        if (asOf >= periodStart) {
            // At most one entry per calendar day.
            days.reserve(static_cast<std::size_t>((asOf - periodStart).days()) + 1);
        }
        for (date d = periodStart; d <= asOf; d += boost::gregorian::days(1)) {
            if (calendar->isBusinessDay(d)) {
                days.push_back(d);
            }
        }
        result.push_back({index->id(), std::move(days)});
    }
    return result;
}

ObjectTree scheduleTable(const ProductInterestRateSwap::SwapLeg& leg) {
    ObjectTree table;
    addVector(table, "Accrual Start Date", leg.accrualStartDates);
    addVector(table, "Accrual End Date", leg.accrualEndDates);
    addVector(table, "Payment Date", leg.paymentDates);
    addVector(table, "Day Count Fraction", leg.dayCountFractions);
    return table;
}

ObjectTree ProductInterestRateSwap::cashFlows() const {
    ObjectTree result;
    for (std::size_t k = 0; k < legs_.size(); ++k) {
        const SwapLeg& leg = legs_[k];
        const std::size_t n = leg.paymentDates.size();
        ObjectTree table = scheduleTable(leg);
        if (leg.isFixed) {
            addVector(table, "Rate", std::vector<double>(n, leg.rate));
        } else {
            addVector(table, "Margin", std::vector<double>(n, leg.margin));
        }
        addVector(table, "Notional", std::vector<double>(n, leg.notional));
        result.add_child("Leg" + std::to_string(k + 1), table);
    }
    return result;
}

} // namespace tsr
