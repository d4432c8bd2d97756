// Elementary functions in plain IEEE double arithmetic: additions,
// multiplications, divisions, square roots and exact bit manipulation only,
// each in a fixed order. With contraction off (-ffp-contract=off) they give
// the same bits on every processor and with every optimisation level, unlike
// the C library's and NumPy's versions, which pick kernels by processor.
// Generated events depend on these bits.
//
// Accuracy (largest error against the exact value, in units in the last
// place): exp, log and atan2 within 1.5 ulp; sin and cos within 1.5 ulp for
// |x| < 8 and 2.5 ulp for |x| < 2^20 (beyond that their reduction loses
// accuracy, deterministically).
// Special values follow the C library: NaN in, NaN out; exp(-inf) = 0,
// log(0) = -inf, log(x < 0) = NaN, sin(+-0) = +-0, atan2's signed zeros and
// infinities.
#pragma once

namespace corvane::generator::portable {

double exp(double x);
double log(double x);
double sin(double x);
double cos(double x);
double atan2(double y, double x);

}  // namespace corvane::generator::portable
