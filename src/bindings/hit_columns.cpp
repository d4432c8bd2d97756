#include "bindings/hit_columns.hpp"

#include <algorithm>
#include <array>
#include <optional>

#include "bindings/layer/convert.hpp"
#include "bindings/layer/dict_items.hpp"

namespace corvane::py {
namespace {

struct ColumnField {
    const char* key;
    double Hit::* field;
    uint64_t ColumnLengths::* length;
};

constexpr std::array<ColumnField, 4> kColumns{{
    {"x", &Hit::x, &ColumnLengths::x},
    {"y", &Hit::y, &ColumnLengths::y},
    {"z", &Hit::z, &ColumnLengths::z},
    {"t", &Hit::t, &ColumnLengths::t},
}};

// The first column decides how many records there are: one per item below
// `records`. They are made up front for the items the list reports, and
// appended for any more (a conversion may lengthen a list); a list that
// yields fewer items than it reported has too few for any event.
uint64_t read_first_list(PyObject* values, size_t records, std::vector<Hit>& hits) {
    hits.resize(std::min(records, check_sequence(values)));
    return for_each_double(values, records, [&hits](size_t i, double value) {
        if (i == hits.size()) hits.emplace_back();
        hits[i].x = value;
    });
}

// Later lists fill the records there are; items beyond are converted only.
uint64_t read_list(PyObject* values, double Hit::* field, std::vector<Hit>& hits) {
    return for_each_double(values, hits.size(), [field, &hits](size_t i, double value) { hits[i].*field = value; });
}

// Every column a flat buffer: the records are made in one pass.
void make_records(const std::array<std::optional<DoubleColumn>, 4>& views, size_t count, std::vector<Hit>& hits) {
    const std::span<const double> x = views[0]->values();
    const std::span<const double> y = views[1]->values();
    const std::span<const double> z = views[2]->values();
    const std::span<const double> t = views[3] ? views[3]->values() : std::span<const double>();
    hits.resize(count);
    for (size_t i = 0; i < count; ++i) {
        Hit& hit = hits[i];
        hit.x = x[i];
        hit.y = y[i];
        hit.z = z[i];
        if (!t.empty()) hit.t = t[i];
    }
}

}  // namespace

HitColumns read_hit_columns(PyObject* event, uint64_t hit_count, bool has_t) {
    HitColumns columns;
    columns.lengths.has_t = has_t;
    // More hits than ids can number make no event: no records for them.
    const size_t records = hit_count <= kMaxEventHits ? static_cast<size_t>(hit_count) : 0;
    // Flat buffers cannot fail to read, so they wait, to be read together at
    // the end; lists are converted at once, in order, into the records.
    std::array<std::optional<DoubleColumn>, 4> views;
    bool records_made = false;
    size_t record_count = records;
    for (size_t c = 0; c < (has_t ? 4 : 3); ++c) {
        const ColumnField& column = kColumns[c];
        const PyRef values = required_event_item(event, column.key);
        check_sequence(values.get());
        if ((views[c] = DoubleColumn::buffer_view(values.get()))) {
            columns.lengths.*column.length = views[c]->values().size();
            record_count = std::min<size_t>(record_count, views[c]->values().size());
            continue;
        }
        if (c == 0) {
            columns.lengths.x = read_first_list(values.get(), records, columns.hits);
        } else {
            if (!records_made) columns.hits.resize(record_count);
            columns.lengths.*column.length = read_list(values.get(), column.field, columns.hits);
        }
        records_made = true;
        record_count = columns.hits.size();
    }
    if (!records_made) {
        make_records(views, record_count, columns.hits);
        return columns;
    }
    for (size_t c = 0; c < views.size(); ++c) {
        if (!views[c]) continue;
        const std::span<const double> values = views[c]->values();
        for (size_t i = 0; i < std::min(values.size(), columns.hits.size()); ++i) {
            columns.hits[i].*kColumns[c].field = values[i];
        }
    }
    return columns;
}

}  // namespace corvane::py
