// The shared spatial helpers of src/core: packed lists, monotone bins and
// bit ranges. Built by CMake (CORVANE_CPP_TESTS) and run by CTest.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "core/bit_range.hpp"
#include "core/finite.hpp"
#include "core/monotone_bins.hpp"
#include "core/packed_lists.hpp"
#include "core/select.hpp"
#include "expect.hpp"

namespace {

using namespace corvane;

// Gathered lists hold each owner's items in the order the pairs came in, and
// owners without a pair get an empty list.
void packed_lists() {
    const std::vector<std::pair<size_t, int>> pairs = {{3, 30}, {0, 1}, {3, 31}, {0, 2}, {3, 32}};
    const auto lists = PackedLists<int>::gather(5, [&pairs](auto&& add) {
        for (const auto& [owner, item] : pairs) add(owner, item);
    });
    const std::vector<std::vector<int>> expected = {{1, 2}, {}, {}, {30, 31, 32}, {}};
    expect(lists.owners() == expected.size(), "gather: owner count");
    for (size_t owner = 0; owner < expected.size(); ++owner) {
        const auto list = lists.of(owner);
        expect(std::vector<int>(list.begin(), list.end()) == expected[owner],
               "gather: list of owner " + std::to_string(owner));
    }
    PackedLists<int> appended;
    appended.items = {7, 8};
    appended.close_list();
    appended.close_list();
    appended.items.push_back(9);
    appended.close_list();
    expect(appended.owners() == 3 && appended.of(0).size() == 2 && appended.of(1).empty() && appended.of(2)[0] == 9,
           "close_list: lists end where they were closed");
}

// Bins never go down as values go up, whatever the range; values outside it
// and NaN land in the end bins; a range too narrow to divide is one bin.
void monotone_bins() {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double lowest, highest;
        size_t count;
    };
    const Case cases[] = {{0.0, 1.0, 64}, {-3.5, 7.25, 5}, {1e-300, 2e-300, 64}, {-1e308, 1e308, 64},
                          {2.0, 2.0, 64}, {0.1, 0.3, 3},   {0.0, 1.0, 1}};
    for (const Case& c : cases) {
        const MonotoneBins bins(c.lowest, c.highest, c.count);
        char what_text[80];
        std::snprintf(what_text, sizeof what_text, "bins over [%g, %g]", c.lowest, c.highest);
        const std::string what = what_text;
        expect(bins.count() == c.count, what + ": count");
        expect(bins.of(nan) == 0 && bins.of(-inf) == 0, what + ": NaN and -inf in the first bin");
        expect(bins.of(inf) == bins.of(c.highest) && bins.of(inf) < c.count, what + ": +inf in the last bin");
        size_t previous = 0;
        for (int step = -10; step <= 110; ++step) {
            const double value = c.lowest + (c.highest - c.lowest) * step / 100.0;
            const size_t bin = bins.of(value);
            expect(bin >= previous && bin < c.count, what + ": monotone at step " + std::to_string(step));
            previous = bin;
        }
    }
    expect(clamp_to_bin(-0.0, 9) == 0 && clamp_to_bin(8.999, 9) == 8 && clamp_to_bin(9.0, 9) == 9 &&
               clamp_to_bin(1e30, 9) == 9,
           "clamp_to_bin: ends");
}

// The branch-free selections and clamp give exactly what the plain
// expressions give, on every pair of awkward values (NaN, signed zeros,
// infinities, ties, subnormals).
void branch_free_selections() {
    const double values[] = {std::numeric_limits<double>::quiet_NaN(),
                             -INFINITY,
                             -1e308,
                             -1.5,
                             -0.0,
                             0.0,
                             5e-324,
                             0.5,
                             1.0,
                             8.999,
                             9.0,
                             9.5,
                             1e30,
                             INFINITY};
    const auto same = [](double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    for (const double a : values) {
        for (const double b : values) {
            const std::string pair = "(" + std::to_string(a) + ", " + std::to_string(b) + ")";
            expect(same(lower_of(a, b), a < b ? a : b), "lower_of" + pair);
            expect(same(higher_of(a, b), a > b ? a : b), "higher_of" + pair);
        }
        const size_t plain = !(a > 0.0) ? 0 : a < 9.0 ? static_cast<size_t>(a) : 9;
        expect(clamp_to_bin(a, 9) == plain, "clamp_to_bin(" + std::to_string(a) + ", 9)");
    }
}

void bit_ranges() {
    for (size_t first = 0; first < 64; ++first) {
        for (size_t last = 0; last < 64; ++last) {
            uint64_t expected = 0;
            for (size_t bit = first; bit <= last; ++bit) expected |= uint64_t{1} << bit;
            expect(bit_range(first, last) == expected,
                   "bit_range(" + std::to_string(first) + ", " + std::to_string(last) + ")");
        }
    }
}

void finite_points() {
    struct Point {
        double x, y, z;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    expect(finite_xyz(Point{1, 2, 3}) && !finite_xyz(Point{1, 2, nan}) && finite_xy(Point{1, 2, nan}) &&
               !finite_xy(Point{INFINITY, 2, 3}),
           "finite_xy / finite_xyz");
}

}  // namespace

int main() {
    packed_lists();
    monotone_bins();
    branch_free_selections();
    bit_ranges();
    finite_points();
    return finish("core helpers: all checks passed");
}
