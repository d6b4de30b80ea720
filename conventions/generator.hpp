#pragma once

#include "core/object.hpp"
#include "core/object_tree.hpp"

#include <string>

namespace tsr {

// A named set of market conventions from which instruments are generated.
class Generator : public Object {
public:
    explicit Generator(const ObjectTree& tree);
    ~Generator() override;

    const std::string& id() const { return id_; }

private:
    std::string id_;
};

// The most business days a pay lag or a start delay may be: markets use a few, and longer
// lags only make long walks and push dates out of range. A lag of 0 or less adds nothing.
inline constexpr int maxLagDays = 30;

// `days`, when at most maxLagDays; std::invalid_argument "Error, <what> must be at most 30
// business days, got <days>." otherwise.
int checkedLagDays(long long days, const std::string& what);

} // namespace tsr
