#include "conventions/swap_conventions.hpp"

#include "dates/calendar_repository.hpp"

#include <stdexcept>
#include <string>

namespace tsr {

SwapConventions::SwapConventions(std::shared_ptr<const GeneratorSwap> generator)
    : generator_(std::move(generator)) {
    const CalendarRepository::SteadyView calendars;
    for (std::size_t k = 0; k < rules_.size(); ++k) {
        const auto& leg = generator_->legs()[k];
        if (!leg) {
            throw std::runtime_error("Error, the generator has no leg" + std::to_string(k + 1) +
                                     ".");
        }
        rules_[k].emplace(*leg);
    }
}

} // namespace tsr
