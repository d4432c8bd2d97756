#include "generator/portable_math.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace corvane::generator::portable {
namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr double quiet_nan = std::numeric_limits<double>::quiet_NaN();

// ln 2 split so that k * ln2_hi is exact for |k| < 2^11: the high part keeps 32 significant bits.
constexpr double ln2_hi = 6.93147180369123816490e-01;
constexpr double ln2_lo = 1.90821492927058770002e-10;
constexpr double inverse_ln2 = 1.44269504088896338700e+00;

// pi / 2 in three parts of 33 bits (k * part is exact for |k| < 2^20) and what the third leaves over.
constexpr double half_pi_1 = 1.57079632673412561417e+00;
constexpr double half_pi_2 = 6.07710050630396597660e-11;
constexpr double half_pi_3 = 2.02226624871116645580e-21;
constexpr double half_pi_3_tail = 8.47842766036889956997e-32;
constexpr double two_over_pi = 6.36619772367581382433e-01;

// pi / 2 and pi / 4 as a double and the rest.
constexpr double half_pi_hi = 1.57079632679489655800e+00;
constexpr double half_pi_lo = 6.12323399573676603587e-17;
constexpr double quarter_pi_hi = 7.85398163397448278999e-01;
constexpr double quarter_pi_lo = 3.06161699786838301793e-17;
constexpr double atan_half_hi = 4.636476090008061e-01;  // atan(1/2) and atan(3/2), as a double and the rest
constexpr double atan_half_lo = 2.2698777452961687e-17;
constexpr double atan_three_halves_hi = 9.82793723247329e-01;
constexpr double atan_three_halves_lo = 1.3903311031230998e-17;

// 2^k for a k in the normal range of exponents.
double power_of_two(int k) { return std::bit_cast<double>(static_cast<uint64_t>(k + 1023) << 52); }

// y * 2^k with one rounding at most (only when the result is subnormal).
double scaled(double y, int k) {
    if (k > 1023) return y * power_of_two(1023) * power_of_two(k - 1023);
    if (k < -1021) return y * power_of_two(k + 54) * power_of_two(-54);
    return y * power_of_two(k);
}

// exp(r) - 1 for |r| <= ln 2 / 2: its Taylor series to r^13, whose first neglected term is below 2^-57.
double exp_kernel_minus_one(double r) {
    double p = 1.0 / 6227020800.0;  // 1 / 13!
    constexpr double inverse_factorials[] = {
        1.0 / 479001600.0, 1.0 / 39916800.0, 1.0 / 3628800.0, 1.0 / 362880.0, 1.0 / 40320.0, 1.0 / 5040.0,
        1.0 / 720.0,       1.0 / 120.0,      1.0 / 24.0,      1.0 / 6.0,      0.5,           1.0};
    for (const double c : inverse_factorials) p = c + r * p;
    return r * p;
}

// sin(r) for |r| <= pi / 4 (plus a little): r + r^3 * (-1/3! + r^2 / 5! - ...), to r^19.
double sin_kernel(double r) {
    const double z = r * r;
    constexpr double coefficients[] = {
        -1.0 / 121645100408832000.0, 1.0 / 355687428096000.0, -1.0 / 1307674368000.0, 1.0 / 6227020800.0,
        -1.0 / 39916800.0,           1.0 / 362880.0,          -1.0 / 5040.0,          1.0 / 120.0};
    double p = 0.0;
    for (const double c : coefficients) p = c + z * p;
    p = -1.0 / 6.0 + z * p;
    return r + r * z * p;
}

// cos(r) for |r| <= pi / 4 (plus a little), to r^20. 1 - r^2/2 is formed with its rounding error carried along,
// which keeps the result within an ulp near r = pi / 4.
double cos_kernel(double r) {
    const double z = r * r;
    constexpr double coefficients[] = {1.0 / 2432902008176640000.0,
                                       -1.0 / 6402373705728000.0,
                                       1.0 / 20922789888000.0,
                                       -1.0 / 87178291200.0,
                                       1.0 / 479001600.0,
                                       -1.0 / 3628800.0,
                                       1.0 / 40320.0,
                                       -1.0 / 720.0,
                                       1.0 / 24.0};
    double p = 0.0;
    for (const double c : coefficients) p = c + z * p;
    const double half_z = 0.5 * z;
    const double w = 1.0 - half_z;
    return w + (((1.0 - w) - half_z) + z * z * p);
}

// atan(v) for |v| <= 7/16: v - v^3/3 + v^5/5 - ..., to v^47 (the first neglected term is below 2^-57 v).
double atan_kernel(double v) {
    const double z = v * v;
    double p = 0.0;
    for (int k = 23; k >= 1; --k) {
        const double term = 1.0 / static_cast<double>(2 * k + 1);
        p = (k % 2 == 1 ? -term : term) + z * p;
    }
    return v + v * z * p;
}

// atan(t) for t >= 0 (t may be +inf): atan(c) + atan((t - c) / (1 + t c)) around c = 1/2, 1, 3/2 and infinity,
// so that the series always runs on a small argument and the sum never cancels much.
double atan_nonnegative(double t) {
    if (t < 0.4375) return atan_kernel(t);
    if (t < 0.6875) return atan_half_hi + (atan_half_lo + atan_kernel((2.0 * t - 1.0) / (2.0 + t)));
    if (t < 1.1875) return quarter_pi_hi + (quarter_pi_lo + atan_kernel((t - 1.0) / (t + 1.0)));
    if (t < 2.4375) {
        return atan_three_halves_hi + (atan_three_halves_lo + atan_kernel((t - 1.5) / (1.0 + 1.5 * t)));
    }
    return half_pi_hi + (half_pi_lo + atan_kernel(-1.0 / t));
}

// x reduced by a multiple k of pi / 2: r in about [-pi/4, pi/4] and k mod 4.
struct Reduced {
    double r;
    int quadrant;
};

Reduced reduce_half_pi(double x) {
    constexpr double exact_limit = 1048576.0;  // 2^20: k stays below 2^20, which keeps the parts' products exact
    double k = std::floor(x * two_over_pi + 0.5);
    if (std::abs(x) >= exact_limit) {
        // Far out: bring x below 2^20 with the exact remainder of the double nearest 2 pi, then reduce.
        x = std::fmod(x, 4.0 * half_pi_hi);
        k = std::floor(x * two_over_pi + 0.5);
    }
    const double r = (((x - k * half_pi_1) - k * half_pi_2) - k * half_pi_3) - k * half_pi_3_tail;
    const int quadrant = static_cast<int>(static_cast<int64_t>(k) & 3);
    return {r, quadrant};
}

}  // namespace

double exp(double x) {
    if (std::isnan(x)) return x;
    if (x > 709.782712893384) return infinity;
    if (x < -745.1332191019412) return 0.0;
    const double k = std::floor(x * inverse_ln2 + 0.5);
    const double r = (x - k * ln2_hi) - k * ln2_lo;
    return scaled(1.0 + exp_kernel_minus_one(r), static_cast<int>(k));
}

double log(double x) {
    if (std::isnan(x)) return x;
    if (x < 0.0) return quiet_nan;
    if (x == 0.0) return -infinity;
    if (x == infinity) return x;
    int exponent = 0;
    if (x < std::numeric_limits<double>::min()) {  // subnormal: make it normal first
        x *= 18014398509481984.0;                  // 2^54
        exponent -= 54;
    }
    const uint64_t bits = std::bit_cast<uint64_t>(x);
    exponent += static_cast<int>(bits >> 52) - 1023;
    double m = std::bit_cast<double>((bits & 0x000fffffffffffffULL) | 0x3ff0000000000000ULL);  // in [1, 2)
    if (m > 1.4142135623730951) {
        m *= 0.5;
        ++exponent;
    }
    // log(1 + f) = 2 atanh(s) with s = f / (2 + f) = 2s + s * R, and 2s = f - s * f.
    const double f = m - 1.0;
    const double s = f / (2.0 + f);
    const double z = s * s;
    double r = 0.0;
    for (int k = 11; k >= 1; --k) r = 2.0 / static_cast<double>(2 * k + 1) + z * r;
    r = z * r;
    const double e = static_cast<double>(exponent);
    return e * ln2_hi + (f - (s * (f - r) - e * ln2_lo));
}

double sin(double x) {
    if (!std::isfinite(x)) return quiet_nan;
    if (std::abs(x) < 7.4505805969238281e-09) return x;  // below 2^-27 sin(x) rounds to x; keeps -0
    const Reduced reduced = reduce_half_pi(x);
    switch (reduced.quadrant) {
        case 0:
            return sin_kernel(reduced.r);
        case 1:
            return cos_kernel(reduced.r);
        case 2:
            return -sin_kernel(reduced.r);
        default:
            return -cos_kernel(reduced.r);
    }
}

double cos(double x) {
    if (!std::isfinite(x)) return quiet_nan;
    const Reduced reduced = reduce_half_pi(x);
    switch (reduced.quadrant) {
        case 0:
            return cos_kernel(reduced.r);
        case 1:
            return -sin_kernel(reduced.r);
        case 2:
            return -cos_kernel(reduced.r);
        default:
            return sin_kernel(reduced.r);
    }
}

double atan2(double y, double x) {
    if (std::isnan(x) || std::isnan(y)) return quiet_nan;
    const bool left = std::signbit(x);  // -0 counts as the negative side, as in the C library
    double angle;
    if (y == 0.0) {
        angle = left ? half_pi_hi * 2.0 : 0.0;
    } else if (std::isinf(x) && std::isinf(y)) {
        angle = left ? 3.0 * quarter_pi_hi : quarter_pi_hi;
    } else if (x == 0.0 || std::isinf(y)) {
        angle = half_pi_hi;
    } else if (std::isinf(x)) {
        angle = left ? half_pi_hi * 2.0 : 0.0;
    } else {
        angle = atan_nonnegative(std::abs(y) / std::abs(x));
        if (left) angle = 2.0 * half_pi_hi - (angle - 2.0 * half_pi_lo);
    }
    return std::signbit(y) ? -angle : angle;
}

}  // namespace corvane::generator::portable
