// Reads float64 values from stdin and writes exp, log, sin, cos of each and atan2 of each with the next, as
// float64 values to stdout: the bits one build of the portable functions gives.
#include <cstdio>
#include <vector>

#include "generator/portable_math.hpp"

int main() {
    std::vector<double> x;
    double value;
    while (std::fread(&value, sizeof value, 1, stdin) == 1) x.push_back(value);
    namespace pm = corvane::generator::portable;
    for (double (*f)(double) : {pm::exp, pm::log, pm::sin, pm::cos}) {
        for (const double v : x) {
            const double out = f(v);
            std::fwrite(&out, sizeof out, 1, stdout);
        }
    }
    for (size_t i = 0; i < x.size(); ++i) {
        const double out = pm::atan2(x[i], x[(i + 1) % x.size()]);
        std::fwrite(&out, sizeof out, 1, stdout);
    }
    return 0;
}
