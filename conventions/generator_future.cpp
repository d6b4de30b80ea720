#include "conventions/generator_future.hpp"

#include "core/shown_text.hpp"
#include "dates/convention_name.hpp"

#include <boost/date_time/gregorian/gregorian.hpp>

#include <array>
#include <cctype>
#include <cmath>
#include <sstream>
#include <stdexcept>
#include <string_view>

namespace tsr {

namespace {

constexpr std::array<std::pair<FutureAveraging, std::string_view>, 2> averagingNames{{
    {FutureAveraging::Compounded, "Compounded"},
    {FutureAveraging::Arithmetic, "Arithmetic"},
}};

int periodMonths(const ObjectTree& tree) {
    const int count = tree.get<int>("months");
    if (count < 1 || count > 12) {
        throw std::invalid_argument("Error, a futures reference period must be 1 to 12 months, "
                                    "got " +
                                    std::to_string(count) + ".");
    }
    return count;
}

date firstOfMonthAfter(int year, int month, int count) {
    const int index = year * 12 + (month - 1) + count;
    return {static_cast<unsigned short>(index / 12), static_cast<unsigned short>(index % 12 + 1),
            1};
}

} // namespace

GeneratorFuture::GeneratorFuture(const ObjectTree& tree)
    : Generator(tree), index_(tree.get<std::string>("index")), months_(periodMonths(tree)),
      averaging_(lookupConventionName(tree.get<std::string>("averaging"), averagingNames)) {}

GeneratorFuture::~GeneratorFuture() = default;

date thirdWednesday(int year, int month) {
    const date first(static_cast<unsigned short>(year), static_cast<unsigned short>(month), 1);
    const int toWednesday = (3 - first.day_of_week().as_number() + 7) % 7;
    return first + boost::gregorian::days(toWednesday + 14);
}

std::pair<int, int> parseContractMonth(const std::string& text) {
    const auto digits = [&](std::size_t from, std::size_t count) {
        for (std::size_t i = from; i < from + count; ++i) {
            if (std::isdigit(static_cast<unsigned char>(text[i])) == 0) {
                return false;
            }
        }
        return true;
    };
    const bool shaped = text.size() == 7 && text[4] == '-' && digits(0, 4) && digits(5, 2);
    const int year = shaped ? std::stoi(text.substr(0, 4)) : 0;
    const int month = shaped ? std::stoi(text.substr(5, 2)) : 0;
    if (!shaped || month < 1 || month > 12 || year < 1401 || year > 9990) {
        throw std::invalid_argument("Error, invalid contract month '" + shownText(text) +
                                    "': expected YYYY-MM.");
    }
    return {year, month};
}

std::pair<date, date> GeneratorFuture::referencePeriod(const std::string& contractMonth) const {
    const auto [year, month] = parseContractMonth(contractMonth);
    if (averaging_ == FutureAveraging::Arithmetic) {
        return {firstOfMonthAfter(year, month, 0), firstOfMonthAfter(year, month, months_)};
    }
    const date end = firstOfMonthAfter(year, month, months_);
    return {thirdWednesday(year, month), thirdWednesday(end.year(), end.month())};
}

void requireFuturesPrice(double price, const std::string& what) {
    if (!(price > 0.0 && price <= 200.0)) {
        std::ostringstream shown;
        shown << price;
        throw std::invalid_argument("Error, the price of " + what +
                                    " must lie above 0 and at "
                                    "most 200, got " +
                                    shown.str() + ".");
    }
}

} // namespace tsr
