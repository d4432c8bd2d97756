#include "validator/montecarlo_columns.hpp"

#include <algorithm>

namespace corvane::validation {

McColumnPositions locate_mc_columns(std::span<const std::string> description) {
    // Only the known names matter: comparing against them costs the same for
    // any description, where a hash table of all names could be fed
    // colliding ones.
    McColumnPositions positions;
    for (size_t i = 0; i < description.size(); ++i) {
        const auto known = std::find(kMcColumnNames.begin(), kMcColumnNames.end(), description[i]);
        if (known != kMcColumnNames.end()) positions[static_cast<size_t>(known - kMcColumnNames.begin())] = i;
    }
    return positions;
}

}  // namespace corvane::validation
