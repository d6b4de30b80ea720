#pragma once

#include "conventions/generator.hpp"
#include "core/date.hpp"

#include <cstdint>
#include <string>
#include <utility>

namespace tsr {

// How a futures contract turns the overnight fixings of its reference period into its rate.
enum class FutureAveraging : std::uint8_t {
    // Compounded over the IMM quarter: third Wednesday of the contract month to the third
    // Wednesday `months` later.
    Compounded = 0,
    // Arithmetic mean over every calendar day of the contract month; a day that is not a
    // business day carries the previous business day's rate.
    Arithmetic = 1,
};

// Overnight-index futures conventions: the index, the length of the reference period and
// its averaging. Rows quote the price, 100 minus the rate in percent, of a contract month
// written "YYYY-MM".
class GeneratorFuture : public Generator {
public:
    explicit GeneratorFuture(const ObjectTree& tree);
    ~GeneratorFuture() override;

    const std::string& index() const { return index_; }
    int months() const { return months_; }
    FutureAveraging averaging() const { return averaging_; }

    // The reference period [start, end) of a contract month "YYYY-MM"; std::invalid_argument
    // naming the text when it is no such month.
    std::pair<date, date> referencePeriod(const std::string& contractMonth) const;

private:
    std::string index_;
    int months_;
    FutureAveraging averaging_;
};

// The year and month of a contract month "YYYY-MM"; std::invalid_argument naming the text
// otherwise.
std::pair<int, int> parseContractMonth(const std::string& text);

// The third Wednesday of a month.
date thirdWednesday(int year, int month);

// A futures price quoted as 100 minus the rate in percent: std::invalid_argument unless it lies
// in (0, 200].
void requireFuturesPrice(double price, const std::string& what);

} // namespace tsr
