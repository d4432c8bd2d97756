#include "bindings/validation_export.hpp"

#include <string>

#include "bindings/layer/convert.hpp"
#include "bindings/layer/dict_items.hpp"

namespace corvane::py {
namespace {

using validation::CategorySnapshot;
using validation::CategoryStats;

PyObject* category_dict(const CategoryStats& stats) {
    PyRef dict = new_dict();
    set_dict_item(dict.get(), "label", to_python(stats.label));
    set_dict_item(dict.get(), "n_recon_particles", to_python(stats.n_recon_particles));
    set_dict_item(dict.get(), "n_particles", to_python(stats.n_particles));
    set_dict_item(dict.get(), "recoeff", to_python(stats.recoeff));
    set_dict_item(dict.get(), "avg_recoeff", to_python(stats.avg_recoeff));
    set_dict_item(dict.get(), "n_clones", to_python(stats.n_clones));
    set_dict_item(dict.get(), "clone_percentage", to_python(validation::clone_percentage(stats)));
    set_dict_item(dict.get(), "purity", to_python(stats.purity));
    set_dict_item(dict.get(), "avg_purity", to_python(stats.latest_event_purity));
    set_dict_item(dict.get(), "avg_hiteff", to_python(stats.latest_event_hiteff));
    set_dict_item(dict.get(), "hit_eff_percentage", to_python(validation::hit_efficiency_percentage(stats)));
    return dict.release();
}

PyObject* category_list(const CategorySnapshot& present) {
    return build_list(present.size(), [&present](size_t i) { return category_dict(present[i]); });
}

}  // namespace

PyRef events_dict(std::span<const validation::CategorySnapshot> snapshots, uint64_t first_number) {
    PyRef events = new_dict();
    for (size_t i = 0; i < snapshots.size(); ++i) {
        set_dict_item(events.get(), std::to_string(first_number + i).c_str(), category_list(snapshots[i]));
    }
    return events;
}

PyRef export_dict(const validation::ValidationRun& run, size_t event_count, bool detailed) {
    PyRef result = new_dict();
    set_dict_item(result.get(), "total_tracks", to_python(run.totals().tracks));
    set_dict_item(result.get(), "total_ghosts", to_python(run.totals().ghosts));
    set_dict_item(result.get(), "overall_ghost_rate", to_python(validation::overall_ghost_rate(run.totals())));
    set_dict_item(result.get(), "event_avg_ghost_rate",
                  to_python(validation::event_average_ghost_rate(run.totals(), event_count)));
    set_dict_item(result.get(), "categories", category_list(run.present_statistics()));
    if (detailed) {
        set_dict_item(result.get(), "events", events_dict(run.snapshots(), run.snapshots_taken() + 1).release());
    }
    return result;
}

}  // namespace corvane::py
