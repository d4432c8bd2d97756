// `a < b ? a : b` and `a > b ? a : b` for doubles, exactly (a NaN or a tie
// gives b), without a branch: the search loops pick bounds from data that no
// predictor can guess. On x86-64 these are the min and max instructions, whose
// definition is exactly these selections; elsewhere the plain expressions.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvane {

inline double lower_of(double a, double b) {
#if defined(__SSE2__)
    return _mm_cvtsd_f64(_mm_min_sd(_mm_set_sd(a), _mm_set_sd(b)));
#else
    return a < b ? a : b;
#endif
}

inline double higher_of(double a, double b) {
#if defined(__SSE2__)
    return _mm_cvtsd_f64(_mm_max_sd(_mm_set_sd(a), _mm_set_sd(b)));
#else
    return a > b ? a : b;
#endif
}

}  // namespace corvane
