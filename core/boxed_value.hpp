#pragma once

#include "core/object.hpp"

#include "core/date.hpp"

#include <string>
#include <variant>

namespace tsr {

// A primitive value at a tree leaf. get<T>() converts on request, so that
// values read from JSON text and values typed by Python are read alike.
class BoxedValue : public Object {
public:
    // The alternative index is observable: converters dispatch on it.
    using Value = std::variant<bool, char, wchar_t, char16_t, char32_t, short, int, long, long long,
                               float, double, long double, unsigned char, unsigned short,
                               unsigned int, unsigned long, unsigned long long, std::string, date>;

    template <class T>
    requires(!std::is_same_v<std::decay_t<T>, BoxedValue> &&
             !std::is_same_v<std::decay_t<T>, const char*>) explicit BoxedValue(T&& v)
        : value_(std::in_place_type<std::decay_t<T>>, std::forward<T>(v)) {}
    explicit BoxedValue(const char* text) : value_(std::in_place_type<std::string>, text) {}

    ~BoxedValue() override;

    // Defined for bool, int, double, date and std::string.
    template <class T> T get() const;

    const Value& value() const { return value_; }
    std::size_t index() const { return value_.index(); }

private:
    Value value_;
};

template <> bool BoxedValue::get<bool>() const;
template <> int BoxedValue::get<int>() const;
template <> double BoxedValue::get<double>() const;
template <> date BoxedValue::get<date>() const;
template <> std::string BoxedValue::get<std::string>() const;

} // namespace tsr
