// Python Track objects read in place into track columns (the layout
// arrays.TrackArrays is made from), and the columns handed back as bytes.
#pragma once

#include <cstdint>
#include <tuple>
#include <vector>

#include "bindings/layer/convert.hpp"
#include "bindings/layer/native_column.hpp"
#include "validator/track_list.hpp"

namespace corvane::py {

// Appends every Track of the sequence, each read under a shared borrow, and
// returns how many; a sequence that is not one of Tracks raises the usual
// conversion errors.
size_t append_tracks(PyObject* tracks, validation::TrackColumns& columns);

// One event's tracks.
template <>
struct FromPython<validation::TrackColumns> {
    static validation::TrackColumns convert(PyObject* tracks) {
        validation::TrackColumns columns;
        append_tracks(tracks, columns);
        return columns;
    }
};

// The tracks of consecutive events (a sequence of Track sequences) in one set
// of columns, and how many tracks each event has.
struct BatchTracks {
    validation::TrackColumns tracks;
    std::vector<int64_t> counts;

    validation::TrackList event(size_t first_track, size_t event) const {
        return tracks.view().slice(first_track, static_cast<size_t>(counts[event]));
    }
};

template <>
struct FromPython<BatchTracks> {
    static BatchTracks convert(PyObject* lists);
};

// The columns as bytes: hit ids, offsets, and the two flags.
inline auto native_columns(validation::TrackColumns columns) {
    return std::tuple(NativeColumn<int32_t>{std::move(columns.hit_ids)},
                      NativeColumn<int64_t>{std::move(columns.offsets)},
                      NativeColumn<uint8_t>{std::move(columns.missed_last_module)},
                      NativeColumn<uint8_t>{std::move(columns.missed_penultimate_module)});
}

}  // namespace corvane::py
