#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "bindings/classes.hpp"
#include "bindings/layer/bind.hpp"
#include "bindings/layer/class_builder.hpp"
#include "bindings/layer/native_column.hpp"
#include "bindings/registration.hpp"
#include "bindings/track_columns.hpp"
#include "bindings/validator_functions.hpp"
#include "parallel/worker_pool.hpp"
#include "validator/categories.hpp"

namespace corvane::py {

namespace {

// Read in place, one track at a time, each under a shared borrow.
auto track_arrays(validation::TrackColumns columns) { return native_columns(std::move(columns)); }

template <class T>
NativeColumn<T> hit_column(const std::vector<Hit>& hits, T Hit::* field) {
    NativeColumn<T> column;
    column.values.reserve(hits.size());
    for (const Hit& hit : hits) column.values.push_back(hit.*field);
    return column;
}

auto event_arrays(const EventHandle& event) {
    const std::vector<Hit>& hits = *event.data->hits;
    return std::tuple(hit_column(hits, &Hit::id), hit_column(hits, &Hit::x), hit_column(hits, &Hit::y),
                      hit_column(hits, &Hit::z), hit_column(hits, &Hit::t), hit_column(hits, &Hit::module_number),
                      !hits.empty() && hits.front().with_t);
}

uint64_t pool_size() { return WorkerPool::configured_size(); }

std::vector<std::string> category_names() {
    std::vector<std::string> names;
    for (const validation::Category& category : validation::standard_categories()) names.emplace_back(category.name);
    return names;
}

PyMethodDef array_functions[] = {
    Function<&track_arrays, "track_arrays", "tracks">::def(
        "track_arrays(tracks)\n--\n\nThe tracks' hit ids (int32), offsets (int64, one more than tracks) and the "
        "flags missed_last_module and missed_penultimate_module (one byte each), as bytearrays."),
    Function<&event_arrays, "event_arrays", "event">::def(
        "event_arrays(event)\n--\n\nThe hits' id (int32), x, y, z, t (float64) and module_number (int32) in hit "
        "order, as bytearrays, and whether the hits carry times."),
    Function<&pool_size, "pool_size">::def(
        "pool_size()\n--\n\nThe batch pool's thread count from the environment as it is now: the count it has, "
        "or gets when first used, unless the environment changed since."),
    Function<&category_names, "category_names">::def(
        "category_names()\n--\n\nThe particle categories efficiencies are reported for, in report order."),
};

}  // namespace

void register_tools_module(PyObject* corvane) {
    PyRef module = attach_private_module(corvane, "_tools", array_functions);
    register_function(module.get(), summary_text_function());
}

}  // namespace corvane::py
