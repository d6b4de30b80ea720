#include "conventions/generator_factory.hpp"

#include "conventions/generator_deposit.hpp"
#include "conventions/generator_future.hpp"
#include "conventions/generator_swap.hpp"

#include <locale>
#include <stdexcept>

namespace tsr {

namespace {

bool equalsIgnoringCase(const std::string& text, std::string_view upper) {
    const std::locale loc;
    if (text.size() != upper.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (std::toupper(text[i], loc) != upper[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

std::shared_ptr<Generator> GeneratorFactory::build(const ObjectTree& tree) {
    const auto type = tree.get<std::string>("type");
    if (equalsIgnoringCase(type, "DEP")) {
        return std::make_shared<GeneratorDeposit>(tree);
    }
    if (equalsIgnoringCase(type, "IRS")) {
        return std::make_shared<GeneratorSwap>(tree);
    }
    if (equalsIgnoringCase(type, "FUT")) {
        return std::make_shared<GeneratorFuture>(tree);
    }
    throw std::runtime_error("Error, unsupported generator type");
}

} // namespace tsr
