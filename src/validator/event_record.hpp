// What one event contributes to a validation run, independent of every other
// event: the run's totals and every category's statistics are folds of these
// records in event order. Records travel between processes as bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "validator/efficiency.hpp"

namespace corvane::validation {

struct EventRecord {
    uint64_t tracks = 0;                    // every track handed in, equal ones included
    uint64_t ghosts = 0;                    // distinct tracks matching no particle (when counted)
    uint64_t ghost_entries = 0;             // distinct tracks weighed (when counted)
    std::vector<CategoryShare> categories;  // one per category of the run, in its order
};

// The records as a self-describing byte string: a small header, then
// variable-length integers and raw IEEE doubles, so a typical event takes
// about a hundred bytes. Doubles keep every bit.
std::string encode_records(std::span<const EventRecord> records, size_t category_count);

// The inverse of encode_records. Throws ValueError for bytes that are not
// such a string or were made for another number of categories.
std::vector<EventRecord> decode_records(std::string_view bytes, size_t category_count);

}  // namespace corvane::validation
