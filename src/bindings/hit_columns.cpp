#include "bindings/hit_columns.hpp"

#include <algorithm>

#include "bindings/convert.hpp"
#include "bindings/dict_items.hpp"

namespace corvane::py {
namespace {

// The first list decides how many records there are: one per item below
// `records` (appended as items come, since a conversion may lengthen a list).
uint64_t read_first_column(PyObject* values, size_t records, std::vector<Hit>& hits) {
    hits.reserve(std::min(records, check_sequence(values)));
    return for_each_double(values, records, [&hits](size_t i, double value) {
        if (i == hits.size()) hits.emplace_back();
        hits[i].x = value;
    });
}

// Later lists fill the records there are; items beyond are converted only.
uint64_t read_column(PyObject* values, double Hit::*field, std::vector<Hit>& hits) {
    return for_each_double(values, hits.size(), [field, &hits](size_t i, double value) { hits[i].*field = value; });
}

}  // namespace

HitColumns read_hit_columns(PyObject* event, uint64_t hit_count, bool has_t) {
    HitColumns columns;
    columns.lengths.has_t = has_t;
    // More hits than ids can number make no event: no records for them.
    const size_t records = hit_count <= kMaxEventHits ? static_cast<size_t>(hit_count) : 0;
    columns.lengths.x = read_first_column(required_event_item(event, "x").get(), records, columns.hits);
    columns.lengths.y = read_column(required_event_item(event, "y").get(), &Hit::y, columns.hits);
    columns.lengths.z = read_column(required_event_item(event, "z").get(), &Hit::z, columns.hits);
    if (has_t) columns.lengths.t = read_column(required_event_item(event, "t").get(), &Hit::t, columns.hits);
    return columns;
}

}  // namespace corvane::py
