// The columns of a Monte Carlo particle row that validation reads, found by
// name in the record's "description"; a row without one keeps the
// particle's default (McParticle).
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace corvane::validation {

enum McColumn : size_t {
    kKey,
    kPid,
    kP,
    kHits,
    kIsLong,
    kHasVelo,
    kFromBeautyDecay,
    kFromStrangeDecay,
    kMcColumnCount
};

inline constexpr std::array<std::string_view, kMcColumnCount> kMcColumnNames{
    "key", "pid", "p", "hits", "isLong", "hasVelo", "fromBeautyDecay", "fromStrangeDecay"};

// Where each column sits in a row, if anywhere; a name listed twice keeps its
// last position.
using McColumnPositions = std::array<std::optional<size_t>, kMcColumnCount>;

McColumnPositions locate_mc_columns(std::span<const std::string> description);

}  // namespace corvane::validation
