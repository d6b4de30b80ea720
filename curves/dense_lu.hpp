#pragma once

#include <cstddef>
#include <vector>

namespace tsr {

// LU factorisation with partial pivoting of a small dense square matrix, for the Newton
// steps and the Jacobian of a curve whose pillars are solved together.
class DenseLu {
public:
    // Row-major, n x n. Throws std::runtime_error when a pivot is zero.
    DenseLu(std::vector<double> matrix, std::size_t n);

    // Solves A x = b in place.
    void solve(double* b) const;

private:
    std::size_t n_;
    std::vector<double> lu_;
    std::vector<std::size_t> rows_;
};

} // namespace tsr
