#include "conventions/init_defaults.hpp"

#include "conventions/builtin_conventions.hpp"
#include "conventions/generator_future.hpp"
#include "conventions/generator_repository.hpp"
#include "conventions/generator_swap.hpp"
#include "conventions/index_repository.hpp"
#include "conventions/ois_index.hpp"
#include "dates/calendar_repository.hpp"
#include "dates/holiday_calendars.hpp"

#include <boost/property_tree/json_parser.hpp>

#include <sstream>

namespace {

tsr::ObjectTree readJson(std::string_view text) {
    std::istringstream in{std::string(text)};
    tsr::TextTree tree;
    boost::property_tree::read_json(in, tree);
    return tsr::convertToPropertyTree(tree);
}

} // namespace

void initDefaults() {
    tsr::registerHolidayCalendars(tsr::CalendarRepository::instance());

    auto& indices = tsr::IndexRepository::instance();
    for (const auto text : tsr::builtinIndexTexts()) {
        auto index = std::make_shared<tsr::OisIndex>(readJson(text));
        indices.add(index->id(), index);
    }

    auto& generators = tsr::GeneratorRepository::instance();
    for (const auto text : tsr::builtinGeneratorTexts()) {
        auto generator = std::make_shared<tsr::GeneratorSwap>(readJson(text));
        generators.add(generator->id(), generator);
    }
}

void initFutureGenerators() {
    auto& generators = tsr::GeneratorRepository::instance();
    for (const auto text : tsr::builtinFutureGeneratorTexts()) {
        auto generator = std::make_shared<tsr::GeneratorFuture>(readJson(text));
        generators.add(generator->id(), generator);
    }
}
