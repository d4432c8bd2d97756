// Tracks as flat columns, the layout arrays.TrackArrays is made from: all hit
// ids one track after the other, offsets[i] .. offsets[i + 1] being track i's,
// and the two flags.
#pragma once

#include <cstdint>

#include "bindings/layer/native_column.hpp"
#include "event_model/track.hpp"

namespace corvane::py {

struct TrackColumns {
    NativeColumn<int32_t> hit_ids;
    NativeColumn<int64_t> offsets{{0}};
    NativeColumn<uint8_t> missed_last_module;
    NativeColumn<uint8_t> missed_penultimate_module;

    void append(const Track& track) {
        for (const Hit& hit : track.hits) hit_ids.values.push_back(hit.id);
        offsets.values.push_back(static_cast<int64_t>(hit_ids.values.size()));
        missed_last_module.values.push_back(track.missed_last_module);
        missed_penultimate_module.values.push_back(track.missed_penultimate_module);
    }
};

}  // namespace corvane::py
