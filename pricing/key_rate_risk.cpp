#include "pricing/key_rate_risk.hpp"

namespace tsr {

ObjectTree toTree(const KeyRateRisk& risk) {
    ObjectTree result;
    addVector(result, "Tenor", risk.tenors);
    addVector(result, "Leg1", risk.leg1);
    addVector(result, "Leg2", risk.leg2);
    addVector(result, "Net", risk.net);
    return result;
}

} // namespace tsr
