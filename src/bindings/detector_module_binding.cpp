#include <memory>

#include "bindings/classes.hpp"
#include "bindings/layer/bind.hpp"
#include "bindings/layer/class_builder.hpp"
#include "bindings/registration.hpp"

namespace corvane::py {
namespace {

Module new_module(uint32_t module_number, double z, uint64_t hit_start_index, uint64_t hit_end_index,
                  std::vector<Hit> global_hits) {
    return make_module(module_number, z, hit_start_index, hit_end_index,
                       std::make_shared<const std::vector<Hit>>(std::move(global_hits)));
}

std::span<const Hit> module_hits(const Module& module) { return module.hits(); }

auto module_arguments(const Module& m) {
    return std::tuple(m.module_number, m.z, m.hit_start_index, m.hit_end_index, std::span<const Hit>(*m.global_hits));
}

}  // namespace

void register_detector_module(PyObject* owner) {
    static ClassDefinition definition{
        .construct =
            Constructor<&new_module, "module_number", "z", "hit_start_index", "hit_end_index", "global_hits">::call,
        .repr = repr<&module_repr>,
        .getters = {getter<&Module::module_number, "module_number">()},
        .methods = {Method<&module_hits, "hits">::def("hits($self)\n--\n\n")},
        .reduce = reduce<&module_arguments>(),
    };
    register_class<Module>(owner, definition);
}

}  // namespace corvane::py
