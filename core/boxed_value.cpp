#include "core/boxed_value.hpp"

#include "core/shown_text.hpp"

#include <boost/date_time/gregorian/parsers.hpp>
#include <boost/lexical_cast.hpp>

#include <limits>
#include <locale>
#include <stdexcept>
#include <typeinfo>

namespace tsr {

namespace {

std::runtime_error stringError(const std::string& text, const char* suffix) {
    return std::runtime_error("BoxedValue: cannot convert string \"" + shownText(text) + "\"" +
                              suffix);
}

bool equalsIgnoringCase(const std::string& text, const char* word) {
    const std::locale loc;
    std::size_t i = 0;
    for (; i < text.size() && word[i] != '\0'; ++i) {
        if (std::tolower(text[i], loc) != word[i]) {
            return false;
        }
    }
    return i == text.size() && word[i] == '\0';
}

} // namespace

BoxedValue::~BoxedValue() = default;

template <> bool BoxedValue::get<bool>() const {
    if (const auto* b = std::get_if<bool>(&value_)) {
        return *b;
    }
    if (const auto* s = std::get_if<std::string>(&value_)) {
        if (equalsIgnoringCase(*s, "true")) {
            return true;
        }
        if (equalsIgnoringCase(*s, "false")) {
            return false;
        }
        throw stringError(*s, " to bool");
    }
    throw std::runtime_error("BoxedValue: cannot convert to bool");
}

template <> int BoxedValue::get<int>() const {
    if (const auto* i = std::get_if<int>(&value_)) {
        return *i;
    }
    if (const auto* l = std::get_if<long>(&value_)) {
        // Refuse rather than truncate: a 64-bit value outside int is an input error.
        if (*l < std::numeric_limits<int>::min() || *l > std::numeric_limits<int>::max()) {
            throw std::runtime_error("BoxedValue: cannot convert to int");
        }
        return static_cast<int>(*l);
    }
    if (const auto* s = std::get_if<std::string>(&value_)) {
        try {
            return boost::lexical_cast<int>(*s);
        } catch (const boost::bad_lexical_cast&) {
            throw stringError(*s, " to int");
        }
    }
    throw std::runtime_error("BoxedValue: cannot convert to int");
}

template <> double BoxedValue::get<double>() const {
    if (const auto* d = std::get_if<double>(&value_)) {
        return *d;
    }
    if (const auto* i = std::get_if<int>(&value_)) {
        return static_cast<double>(*i);
    }
    if (const auto* l = std::get_if<long>(&value_)) {
        return static_cast<double>(*l);
    }
    if (const auto* s = std::get_if<std::string>(&value_)) {
        try {
            return boost::lexical_cast<double>(*s);
        } catch (const boost::bad_lexical_cast&) {
            throw stringError(*s, " to double");
        }
    }
    throw std::runtime_error("BoxedValue: cannot convert to double");
}

template <> date BoxedValue::get<date>() const {
    if (const auto* d = std::get_if<date>(&value_)) {
        return *d;
    }
    if (const auto* s = std::get_if<std::string>(&value_)) {
        try {
            return boost::gregorian::from_simple_string(*s);
        } catch (const boost::bad_lexical_cast&) {
            throw stringError(*s, " to gregorian::date");
        }
    }
    throw std::runtime_error("BoxedValue: cannot convert to gregorian::date");
}

template <> std::string BoxedValue::get<std::string>() const {
    if (const auto* s = std::get_if<std::string>(&value_)) {
        return *s;
    }
    throw std::bad_cast();
}

} // namespace tsr
