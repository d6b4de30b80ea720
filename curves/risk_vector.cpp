#include "curves/risk_vector.hpp"

#include <cmath>

namespace tsr {

RiskVector operator-(RiskVector x) {
    x.value = -x.value;
    for (double& d : x.derivatives) {
        d = -d;
    }
    return x;
}

RiskVector exp(RiskVector x) {
    x.value = std::exp(x.value);
    for (double& d : x.derivatives) {
        d *= x.value;
    }
    return x;
}

} // namespace tsr
