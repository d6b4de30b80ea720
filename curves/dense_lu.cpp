#include "curves/dense_lu.hpp"

#include <cmath>
#include <stdexcept>
#include <utility>

namespace tsr {

DenseLu::DenseLu(std::vector<double> matrix, std::size_t n)
    : n_(n), lu_(std::move(matrix)), rows_(n) {
    if (lu_.size() != n * n) {
        throw std::invalid_argument("Error, a square matrix has n x n entries.");
    }
    for (std::size_t i = 0; i < n; ++i) {
        rows_[i] = i;
    }
    for (std::size_t k = 0; k < n; ++k) {
        std::size_t best = k;
        for (std::size_t i = k + 1; i < n; ++i) {
            if (std::abs(lu_[i * n + k]) > std::abs(lu_[best * n + k])) {
                best = i;
            }
        }
        if (lu_[best * n + k] == 0.0 || !std::isfinite(lu_[best * n + k])) {
            throw std::runtime_error("Error, the matrix is singular.");
        }
        if (best != k) {
            for (std::size_t j = 0; j < n; ++j) {
                std::swap(lu_[k * n + j], lu_[best * n + j]);
            }
            std::swap(rows_[k], rows_[best]);
        }
        const double pivot = lu_[k * n + k];
        for (std::size_t i = k + 1; i < n; ++i) {
            const double factor = lu_[i * n + k] / pivot;
            lu_[i * n + k] = factor;
            if (factor == 0.0) {
                continue;
            }
            for (std::size_t j = k + 1; j < n; ++j) {
                lu_[i * n + j] -= factor * lu_[k * n + j];
            }
        }
    }
}

void DenseLu::solve(double* b) const {
    const std::size_t n = n_;
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i) {
        double sum = b[rows_[i]];
        for (std::size_t j = 0; j < i; ++j) {
            sum -= lu_[i * n + j] * x[j];
        }
        x[i] = sum;
    }
    for (std::size_t i = n; i-- > 0;) {
        double sum = x[i];
        for (std::size_t j = i + 1; j < n; ++j) {
            sum -= lu_[i * n + j] * x[j];
        }
        x[i] = sum / lu_[i * n + i];
    }
    for (std::size_t i = 0; i < n; ++i) {
        b[i] = x[i];
    }
}

} // namespace tsr
