#include "bindings/validation_event_reader.hpp"

#include <algorithm>
#include <string>

#include "bindings/layer/convert.hpp"
#include "bindings/layer/dict_items.hpp"
#include "bindings/montecarlo_reader.hpp"
#include "core/errors.hpp"

namespace corvane::py {
namespace {

size_t coordinate_count(PyObject* event, const char* key) {
    const PyRef value = required_event_item(event, key);
    return count_doubles(value.get());
}

}  // namespace

validation::ValidationEvent read_validation_event(PyObject* event) {
    if (!PyDict_Check(event)) throw InternalFailure("an event is not a dictionary");
    // Checked like every other input, though nothing here uses it.
    from_python<std::vector<uint64_t>>(required_event_item(event, "module_prefix_sum").get());
    const size_t x_count = coordinate_count(event, "x");
    const size_t y_count = coordinate_count(event, "y");
    const size_t z_count = coordinate_count(event, "z");
    // Hit i exists for every i below the shortest coordinate list.
    const size_t hit_count = std::min({x_count, y_count, z_count});
    if (hit_count > static_cast<size_t>(INT32_MAX)) throw InternalFailure("more hits than a hit id can number");

    validation::McTruth truth;
    if (const PyRef montecarlo = dict_item(event, "montecarlo")) {
        truth = read_montecarlo(montecarlo.get(), static_cast<uint32_t>(hit_count));
    }
    return validation::build_validation_event(hit_count, std::move(truth));
}

}  // namespace corvane::py
