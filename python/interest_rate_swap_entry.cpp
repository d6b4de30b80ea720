#include "python/interest_rate_swap_entry.hpp"

#include "conventions/generator_swap.hpp"
#include "curves/yield_curve.hpp"
#include "pricing/model_discounted_cash_flow.hpp"
#include "products/product_interest_rate_swap.hpp"
#include "python/analytics_functions.hpp"
#include "python/entry_guard.hpp"
#include "python/handle_registry.hpp"
#include "python/py_conversion.hpp"
#include "python/swap_inputs.hpp"

#include <memory>
#include <stdexcept>

namespace {

using tsr::ModelDiscountedCashFlow;
using tsr::ProductInterestRateSwap;
using tsr::YieldCurve;

std::shared_ptr<const ProductInterestRateSwap> requireSwap(void* handle) {
    auto swap = tsr::resolveHandle<ProductInterestRateSwap>(handle);
    if (!swap) {
        throw std::runtime_error("Error, the interest rate swap is not initialised.");
    }
    return swap;
}

std::shared_ptr<const YieldCurve> requireCurve(void* handle) {
    auto curve = tsr::resolveHandle<YieldCurve>(handle);
    if (!curve) {
        throw std::runtime_error("Error, the yield curve is not initialised.");
    }
    return curve;
}

using ModelCall = tsr::ObjectTree (*)(std::shared_ptr<const tsr::Product>, tsr::CurveMap&,
                                      const tsr::FixingsMap&);

PyObject* runModel(ModelCall model, void* swapHandle, void* curveHandle, bool curveOptional,
                   PyObject* fixings, int* status) {
    *status = -1;
    PyObject* result = nullptr;
    tsr::runGuarded([&] {
        const auto swap = requireSwap(swapHandle);
        std::shared_ptr<const YieldCurve> curve;
        if (curveHandle != nullptr || !curveOptional) {
            curve = requireCurve(curveHandle);
        }
        tsr::CurveMap curves = curve ? tsr::singleCurveMap(*swap, *curve) : tsr::CurveMap();
        const tsr::FixingsMap fixingsMap =
            fixings != nullptr ? tsr::transformFixings(fixings) : tsr::FixingsMap();
        result = tsr::treeToPyObject(model(swap, curves, fixingsMap), "root");
        *status = 0;
    });
    return result;
}

} // namespace

void* buildInterestRateSwap(PyObject* obj, int* status) {
    *status = -1;
    void* handle = nullptr;
    tsr::runGuarded([&] {
        const tsr::SwapDescriptions inputs =
            tsr::assembleSwapInputs(tsr::pyObjectToPropertyTree(obj, "root"));
        if (!inputs.missing.empty()) {
            // Drop the separator after the last entry.
            throw std::runtime_error("Missing mandatory input: " +
                                     inputs.missing.substr(0, inputs.missing.size() - 1));
        }
        const auto generator = std::make_shared<const tsr::GeneratorSwap>(inputs.generator);
        std::shared_ptr<const ProductInterestRateSwap> swap =
            std::make_shared<const ProductInterestRateSwap>(generator, inputs.swap);
        handle = tsr::registerHandle(std::move(swap));
        *status = 0;
    });
    return handle;
}

PyObject* interestRateSwapPrice(void* swapHandle, void* curveHandle, PyObject* fixings,
                                int* status) {
    return runModel(&ModelDiscountedCashFlow::price, swapHandle, curveHandle, false, fixings,
                    status);
}

PyObject* interestRateSwapRisk(void* swapHandle, void* curveHandle, PyObject* fixings,
                               int* status) {
    return runModel(&ModelDiscountedCashFlow::risk, swapHandle, curveHandle, false, fixings,
                    status);
}

PyObject* interestRateSwapCashFlows(void* swapHandle, void* curveHandle, PyObject* fixings,
                                    int* status) {
    return runModel(&ModelDiscountedCashFlow::cashflows, swapHandle, curveHandle, true, fixings,
                    status);
}

PyObject* interestRateSwapRequiredFixings(void* swapHandle, tsr::date asOf, int* status) {
    *status = -1;
    PyObject* result = nullptr;
    tsr::runGuarded([&] {
        result = tsr::requiredFixingsObject(*requireSwap(swapHandle), asOf).release();
        *status = 0;
    });
    return result;
}

void deleteInterestRateSwap(void* handle) {
    tsr::releaseHandle(handle);
}
