// A batch solved straight into track columns, for the job: what solve_batch
// computes, without a Track object per track.
#pragma once

#include "bindings/layer/python.hpp"

namespace corvane::py {

PyMethodDef& solve_tracks_function();

}  // namespace corvane::py
