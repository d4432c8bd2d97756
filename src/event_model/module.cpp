#include "event_model/module.hpp"

#include "core/errors.hpp"
#include "event_model/float_text.hpp"

namespace corvane {

void check_hit_range(uint64_t hit_start_index, uint64_t hit_end_index, size_t hit_count) {
    if (hit_end_index < hit_start_index || hit_end_index > hit_count) {
        throw ValueError(
            "Invalid hit indices: hit_end_index must be >= hit_start_index and within bounds of global_hits");
    }
}

Module make_module(uint32_t module_number, double z, uint64_t hit_start_index, uint64_t hit_end_index,
                   HitList global_hits) {
    check_hit_range(hit_start_index, hit_end_index, global_hits->size());
    return Module{module_number, z, hit_start_index, hit_end_index, std::move(global_hits)};
}

std::string module_repr(const Module& module) {
    std::string out = "module ";
    out += std::to_string(module.module_number);
    out += ":\n At z: ";
    append_diagnostic_float(out, module.z);
    out += "\n Number of hits: ";
    out += std::to_string(module.hit_end_index - module.hit_start_index);
    out += "\n Hits: ";
    const auto hits = module.hits();
    append_diagnostic_list(out, hits.data(), hits.data() + hits.size());
    return out;
}

}  // namespace corvane
