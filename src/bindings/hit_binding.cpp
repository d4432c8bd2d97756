#include "bindings/classes.hpp"
#include "bindings/layer/bind.hpp"
#include "bindings/layer/class_builder.hpp"
#include "bindings/registration.hpp"

namespace corvane::py {
namespace {

Hit new_hit(double x, double y, double z, int32_t hit_id, std::optional<int32_t> module, std::optional<double> t,
            std::optional<bool> with_t) {
    return Hit{hit_id, x, y, z, t.value_or(0.0), module.value_or(-1), with_t.value_or(false)};
}

auto hit_arguments(const Hit& h) { return std::tuple(h.x, h.y, h.z, h.id, h.module_number, h.t, h.with_t); }

}  // namespace

void register_hit(PyObject* owner) {
    static ClassDefinition definition{
        .construct = Constructor<&new_hit, "x", "y", "z", "hit_id", "module", "t", "with_t">::call,
        .repr = repr<&short_form>,
        .getters =
            {
                getter<&Hit::id, "id">(),
                getter<&Hit::x, "x">(),
                getter<&Hit::y, "y">(),
                getter<&Hit::z, "z">(),
                getter<&Hit::t, "t">(),
                getter<&Hit::module_number, "module_number">(),
                getter<&Hit::with_t, "with_t">(),
            },
        .methods = {},
        .reduce = reduce<&hit_arguments>(),
    };
    register_class<Hit>(owner, definition);
}

}  // namespace corvane::py
