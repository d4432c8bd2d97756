#include <memory>

#include "bindings/classes.hpp"
#include "bindings/hit_columns.hpp"
#include "bindings/layer/bind.hpp"
#include "bindings/layer/class_builder.hpp"
#include "bindings/layer/dict_items.hpp"
#include "bindings/registration.hpp"

namespace corvane::py {
namespace {

EventHandle new_event(PyObject* json_data) {
    if (!PyDict_Check(json_data)) raise_conversion_error(json_data, "PyDict");
    std::string description = from_python<std::string>(required_event_item(json_data, "description").get());
    PyRef montecarlo = required_event_item(json_data, "montecarlo");
    auto prefix = from_python<std::vector<uint64_t>>(required_event_item(json_data, "module_prefix_sum").get());
    check_prefix_length(prefix);
    const bool has_t = has_dict_item(json_data, "t");
    HitColumns columns = read_hit_columns(json_data, prefix[kModuleCount], has_t);
    auto data = std::make_shared<const EventData>(
        build_event(std::move(description), std::move(prefix), columns.lengths, std::move(columns.hits)));
    return EventHandle{std::move(data), std::move(montecarlo)};
}

const std::string& description(const EventHandle& e) { return e.data->description; }
// None only after the collector has broken a cycle through this event.
PyRef montecarlo(const EventHandle& e) { return e.montecarlo ? e.montecarlo : PyRef::borrow(Py_None); }
const std::vector<uint64_t>& module_prefix_sum(const EventHandle& e) { return e.data->module_prefix_sum; }
uint64_t number_of_hits(const EventHandle& e) { return e.data->number_of_hits; }
const std::vector<std::vector<double>>& module_zs(const EventHandle& e) { return e.data->module_zs; }
std::span<const Hit> hits(const EventHandle& e) { return *e.data->hits; }
const std::vector<Module>& modules(const EventHandle& e) { return e.data->modules; }

// The event dictionary that builds this event again: the hits are entries
// 0 to number_of_hits - 1 of the coordinate lists.
std::tuple<PyRef> event_arguments(const EventHandle& e) {
    const std::vector<Hit>& hits = *e.data->hits;
    const auto column = [&hits](double Hit::* field) {
        return build_list(hits.size(), [&](size_t i) { return PyFloat_FromDouble(hits[i].*field); });
    };
    PyRef dict = new_dict();
    set_dict_item(dict.get(), "description", to_python(e.data->description));
    set_dict_item(dict.get(), "montecarlo", to_python(montecarlo(e)));
    set_dict_item(dict.get(), "module_prefix_sum", to_python(e.data->module_prefix_sum));
    set_dict_item(dict.get(), "x", column(&Hit::x));
    set_dict_item(dict.get(), "y", column(&Hit::y));
    set_dict_item(dict.get(), "z", column(&Hit::z));
    if (!hits.empty() && hits.front().with_t) set_dict_item(dict.get(), "t", column(&Hit::t));
    return {std::move(dict)};
}

// The Monte Carlo object may refer back to the event.
int traverse_event(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(reinterpret_cast<Box<EventHandle>*>(self)->value.montecarlo.get());
    return 0;
}

int clear_event(PyObject* self) {
    reinterpret_cast<Box<EventHandle>*>(self)->value.montecarlo = PyRef();
    return 0;
}

}  // namespace

void register_event(PyObject* owner) {
    static ClassDefinition definition{
        .construct = Constructor<&new_event, "json_data">::call,
        .getters =
            {
                getter<&description, "description">(),
                getter<&montecarlo, "montecarlo">(),
                getter<&module_prefix_sum, "module_prefix_sum">(),
                getter<&number_of_hits, "number_of_hits">(),
                getter<&module_zs, "module_zs">("For each module, a vector of unique z values."),
                getter<&hits, "hits">(),
                getter<&modules, "modules">(),
            },
        .methods = {},
        .traverse = traverse_event,
        .clear = clear_event,
        .reduce = reduce<&event_arguments>(),
    };
    register_class<EventHandle>(owner, definition);
}

}  // namespace corvane::py
