#include "conventions/generator.hpp"

#include <stdexcept>

namespace tsr {

Generator::Generator(const ObjectTree& tree) : id_(tree.get<std::string>("id")) {}

Generator::~Generator() = default;

int checkedLagDays(long long days, const std::string& what) {
    if (days > maxLagDays) {
        throw std::invalid_argument("Error, " + what + " must be at most " +
                                    std::to_string(maxLagDays) + " business days, got " +
                                    std::to_string(days) + ".");
    }
    return static_cast<int>(days);
}

} // namespace tsr
