#include "bindings/track_columns.hpp"

#include "bindings/classes.hpp"

namespace corvane::py {

size_t append_tracks(PyObject* tracks, validation::TrackColumns& columns) {
    const size_t hint = check_sequence(tracks);
    // Only for a first list: growing by each list's hint would reallocate every time.
    if (columns.offsets.size() == 1) columns.offsets.reserve(hint + 1);
    size_t count = 0;
    for_each_item(tracks, [&columns, &count](PyObject* item) {
        Box<Track>& box = box_of<Track>(item);
        SharedBorrow borrow(box.borrows);
        columns.append(box.value);
        ++count;
    });
    return count;
}

BatchTracks FromPython<BatchTracks>::convert(PyObject* lists) {
    BatchTracks batch;
    batch.counts.reserve(check_sequence(lists));
    for_each_item(lists, [&batch](PyObject* tracks) {
        batch.counts.push_back(static_cast<int64_t>(append_tracks(tracks, batch.tracks)));
    });
    return batch;
}

}  // namespace corvane::py
