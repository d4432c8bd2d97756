// `corvane._generator`: the event generator's flight arithmetic and its Monte
// Carlo rows, behind corvane_tools.propagation and montecarlo_record. Arrays
// arrive as flat NumPy buffers and leave as bytearrays (numpy.frombuffer) or
// as the event's own lists.
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "bindings/layer/bind.hpp"
#include "bindings/layer/class_builder.hpp"
#include "bindings/layer/native_column.hpp"
#include "bindings/registration.hpp"
#include "core/errors.hpp"
#include "generator/basis.hpp"
#include "generator/flight.hpp"
#include "generator/interpolation.hpp"
#include "generator/portable_math.hpp"

namespace corvane::py {

// A read-only view of a flat buffer of native 64-bit integers (a NumPy int64 array).
struct IntegerColumn {
    IntegerColumn() = default;
    IntegerColumn(IntegerColumn&& other) noexcept : buffer_(other.buffer_), has_buffer_(other.has_buffer_) {
        other.has_buffer_ = false;
    }
    IntegerColumn(const IntegerColumn&) = delete;
    IntegerColumn& operator=(const IntegerColumn&) = delete;
    IntegerColumn& operator=(IntegerColumn&&) = delete;
    ~IntegerColumn() {
        if (has_buffer_) PyBuffer_Release(&buffer_);
    }

    std::span<const int64_t> values() const {
        if (!has_buffer_) return {};
        return {static_cast<const int64_t*>(buffer_.buf), static_cast<size_t>(buffer_.len) / sizeof(int64_t)};
    }

    Py_buffer buffer_{};
    bool has_buffer_ = false;
};

namespace {

bool is_native_int64_format(const char* format) {
    if (format == nullptr) return false;
    if (*format == '@' || *format == '=' || (*format == '<' && std::endian::native == std::endian::little)) ++format;
    return (std::strcmp(format, "l") == 0 && sizeof(long) == 8) || std::strcmp(format, "q") == 0;
}

}  // namespace

template <>
struct FromPython<IntegerColumn> {
    static IntegerColumn convert(PyObject* object) {
        if (!PyObject_CheckBuffer(object)) raise_conversion_error(object, "int64 array");
        IntegerColumn column;
        if (PyObject_GetBuffer(object, &column.buffer_, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) != 0) {
            throw_error_already_set();
        }
        column.has_buffer_ = true;
        if (column.buffer_.ndim != 1 || column.buffer_.itemsize != 8 ||
            !is_native_int64_format(column.buffer_.format)) {
            raise_conversion_error(object, "int64 array");  // the column's destructor releases the buffer
        }
        return column;
    }
};

namespace {

using generator::Lines;
using generator::Sensors;

struct LineColumns {
    DoubleColumn origin, tx, ty, sign, slope, r0;

    Lines lines() const {
        return {origin.values(), tx.values(), ty.values(), sign.values(), slope.values(), r0.values()};
    }
};

// Lines arrive as one tuple: (origin as x, y, z triples, tx, ty, sign, slope, r0).
LineColumns line_columns(PyObject* lines) {
    if (!PyTuple_Check(lines) || PyTuple_GET_SIZE(lines) != 6) {
        throw ValueError("lines: a tuple of six float64 arrays (origin, tx, ty, sign, slope, r0)");
    }
    auto column = [lines](Py_ssize_t i) { return DoubleColumn::from(PyTuple_GET_ITEM(lines, i)); };
    return {column(0), column(1), column(2), column(3), column(4), column(5)};
}

template <class T>
NativeColumn<T> native(std::vector<T> values) {
    return {std::move(values)};
}

// A bytearray with room for `capacity` values that the core writes in place, cut to the values written
// (a bytearray's shrinking keeps or trims its memory, never copies it): no second copy of megabytes of crossings.
template <class T>
class ColumnInPlace {
public:
    explicit ColumnInPlace(size_t capacity)
        : bytes_(PyRef::steal(PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(capacity * sizeof(T))))) {
        if (!bytes_) throw_error_already_set();
        values_ = {reinterpret_cast<T*>(PyByteArray_AS_STRING(bytes_.get())), capacity};
    }

    std::span<T> values() const { return values_; }

    PyRef cut_to(size_t used) {
        if (PyByteArray_Resize(bytes_.get(), static_cast<Py_ssize_t>(used * sizeof(T))) != 0) {
            throw_error_already_set();
        }
        return std::move(bytes_);
    }

private:
    PyRef bytes_;
    std::span<T> values_;
};

struct CrossingsInPlace {
    ColumnInPlace<int64_t> row, module;
    ColumnInPlace<double> x, y;

    explicit CrossingsInPlace(size_t capacity) : row(capacity), module(capacity), x(capacity), y(capacity) {}

    generator::CrossingColumns columns() const { return {row.values(), module.values(), x.values(), y.values()}; }

    std::tuple<PyRef, PyRef, PyRef, PyRef> cut_to(size_t used) {
        return {row.cut_to(used), module.cut_to(used), x.cut_to(used), y.cut_to(used)};
    }
};

auto candidate_window(PyRef lines, DoubleColumn module_z) {
    std::vector<int64_t> first, count;
    generator::candidate_window(line_columns(lines.get()).lines(), module_z.values(), first, count);
    return std::tuple(native(std::move(first)), native(std::move(count)));
}

auto line_crossings(PyRef lines, DoubleColumn module_z, double overlap, bool tiles) {
    const LineColumns columns = line_columns(lines.get());
    std::vector<int64_t> first, count;
    generator::candidate_window(columns.lines(), module_z.values(), first, count);
    size_t candidates = 0;
    for (const int64_t n : count) candidates += static_cast<size_t>(n);
    CrossingsInPlace out(candidates);
    const size_t crossed = generator::line_crossings(columns.lines(), module_z.values(), Sensors{overlap, tiles}, first,
                                                     count, out.columns());
    return out.cut_to(crossed);
}

auto fly(PyRef lines, DoubleColumn module_z, double overlap, bool tiles, DoubleColumn p, DoubleColumn mass,
         double module_material, double foil_material, double hit_efficiency, double resolution, IntegerColumn row,
         IntegerColumn module, DoubleColumn x, DoubleColumn y, DoubleColumn normals, DoubleColumn uniforms) {
    const LineColumns columns = line_columns(lines.get());
    const generator::FlightInput input{p.values(),       mass.values(),    row.values(),   module.values(),
                                       module_material,  foil_material,    hit_efficiency, resolution,
                                       normals.values(), uniforms.values()};
    const size_t crossings = input.row.size();
    CrossingsInPlace landed(crossings);
    ColumnInPlace<int64_t> owner(crossings), hit_module(crossings);
    ColumnInPlace<double> hit_x(crossings), hit_y(crossings), hit_z(crossings);
    const generator::FlightCounts counts = generator::fly(
        columns.lines(), module_z.values(), Sensors{overlap, tiles}, input, x.values(), y.values(), landed.columns(),
        {owner.values(), hit_module.values(), hit_x.values(), hit_y.values(), hit_z.values()});
    auto [landed_row, landed_module, landed_x, landed_y] = landed.cut_to(counts.landed);
    return std::tuple(std::move(landed_row), std::move(landed_module), std::move(landed_x), std::move(landed_y),
                      owner.cut_to(counts.hits), hit_module.cut_to(counts.hits), hit_x.cut_to(counts.hits),
                      hit_y.cut_to(counts.hits), hit_z.cut_to(counts.hits));
}

auto perpendicular_basis(DoubleColumn direction) {
    std::vector<double> u, v;
    generator::perpendicular_basis(direction.values(), u, v);
    return std::tuple(native(std::move(u)), native(std::move(v)));
}

NativeColumn<double> interpolate(DoubleColumn x, DoubleColumn xp, DoubleColumn fp) {
    return native(generator::interpolate(x.values(), xp.values(), fp.values()));
}

// One of the portable elementary functions over an array (atan2 over pairs of arrays), for checking them.
NativeColumn<double> elementary(std::string name, DoubleColumn x, DoubleColumn y) {
    const std::span<const double> first = x.values(), second = y.values();
    std::vector<double> out(first.size());
    auto each = [&](auto function) {
        for (size_t i = 0; i < first.size(); ++i) out[i] = function(first[i]);
    };
    if (name == "atan2") {
        if (second.size() != first.size()) throw ValueError("elementary: atan2 takes as many x as y");
        for (size_t i = 0; i < first.size(); ++i) out[i] = generator::portable::atan2(first[i], second[i]);
    } else if (name == "exp") {
        each(generator::portable::exp);
    } else if (name == "log") {
        each(generator::portable::log);
    } else if (name == "sin") {
        each(generator::portable::sin);
    } else if (name == "cos") {
        each(generator::portable::cos);
    } else {
        throw ValueError("elementary: no function " + name);
    }
    return native(std::move(out));
}

PyObject* new_int(int64_t value) { return PyLong_FromLongLong(value); }

// A Monte Carlo row's columns by where they come from: key, pid, charge and the eight flags are integers;
// p, pt, eta, phi and originZ are floats; the hits are a list of hit ids.
constexpr size_t integer_columns = 11;
constexpr size_t real_columns = 5;
constexpr size_t row_length = 17;

// The Monte Carlo rows of consecutive events (per_event[e] rows each): row k holds column k of `integers`
// (11 rows of values) and of `reals` (5 rows), and the hits hit_ids[hit_start[k]:hit_end[k]].
PyRef montecarlo_rows(IntegerColumn integers, DoubleColumn reals, IntegerColumn hit_ids, IntegerColumn hit_start,
                      IntegerColumn hit_end, IntegerColumn per_event) {
    const std::span<const int64_t> ints = integers.values(), ids = hit_ids.values();
    const std::span<const int64_t> starts = hit_start.values(), ends = hit_end.values(), events = per_event.values();
    const std::span<const double> floats = reals.values();
    const size_t particles = starts.size();
    if (ends.size() != particles || ints.size() != integer_columns * particles ||
        floats.size() != real_columns * particles) {
        throw ValueError("montecarlo_rows: the columns differ in length");
    }
    for (size_t k = 0; k < particles; ++k) {
        if (starts[k] < 0 || starts[k] > ends[k] || static_cast<size_t>(ends[k]) > ids.size()) {
            throw ValueError("montecarlo_rows: a particle's hits run past the hit ids");
        }
    }
    size_t listed = 0;
    for (const int64_t count : events) {
        if (count < 0 || static_cast<size_t>(count) > particles - listed) {
            throw ValueError("montecarlo_rows: the events hold more rows than there are particles");
        }
        listed += static_cast<size_t>(count);
    }
    auto integer = [&](size_t column, size_t k) { return new_int(ints[column * particles + k]); };
    auto real = [&](size_t column, size_t k) { return PyFloat_FromDouble(floats[column * particles + k]); };
    auto hits = [&](size_t k) {
        const size_t first = static_cast<size_t>(starts[k]);
        return build_list(static_cast<size_t>(ends[k]) - first, [&](size_t i) { return new_int(ids[first + i]); });
    };
    auto row = [&](size_t k) {
        return build_list(row_length, [&](size_t column) -> PyObject* {
            if (column < 2) return integer(column, k);   // key, pid
            if (column < 6) return real(column - 2, k);  // p, pt, eta, phi
            if (column == 6) return integer(2, k);       // charge
            if (column == 7) return hits(k);
            if (column < row_length - 1) return integer(column - 5, k);  // isLong ... fromStrangeDecay
            return real(4, k);                                           // originZ
        });
    };
    size_t next = 0;
    return PyRef::steal(build_list(events.size(), [&](size_t event) {
        const size_t first = next;
        next += static_cast<size_t>(events[event]);
        return build_list(next - first, [&](size_t i) { return row(first + i); });
    }));
}

PyMethodDef generator_functions[] = {
    Function<&perpendicular_basis, "perpendicular_basis", "direction">::def(
        "perpendicular_basis(direction)\n--\n\nTwo unit vectors across each direction (x, y, z triples), "
        "perpendicular to it and to each other, as float64 bytearrays of triples."),
    Function<&interpolate, "interpolate", "x", "xp", "fp">::def(
        "interpolate(x, xp, fp)\n--\n\nThe piecewise-linear interpolation of the table (xp ascending, fp) at each "
        "x, as numpy.interp gives it (float64 bytearray)."),
    Function<&elementary, "elementary", "name", "x", "y">::def(
        "elementary(name, x, y)\n--\n\nThe portable exp, log, sin, cos (of x) or atan2 (of x and y, in that "
        "order) the generator computes with, as a float64 bytearray."),
    Function<&candidate_window, "candidate_window", "lines", "module_z">::def(
        "candidate_window(lines, module_z)\n--\n\nPer line, the first module (int64) and the number of consecutive "
        "modules (int64) whose sensors it may cross, as bytearrays. `lines` is (origin, tx, ty, sign, slope, r0)."),
    Function<&line_crossings, "line_crossings", "lines", "module_z", "overlap", "tiles">::def(
        "line_crossings(lines, module_z, overlap, tiles)\n--\n\nThe sensors the lines cross: particle and module "
        "(int64), x and y (float64), grouped by particle in module order, as bytearrays."),
    Function<&fly, "fly", "lines", "module_z", "overlap", "tiles", "p", "mass", "module_material", "foil_material",
             "hit_efficiency", "resolution", "row", "module", "x", "y", "normals", "uniforms">::
        def("fly(lines, module_z, overlap, tiles, p, mass, module_material, foil_material, hit_efficiency, resolution, "
            "row, module, x, y, normals, uniforms)\n--\n\n"
            "The line crossings moved by multiple scattering in the foil and the modules, and the hits they leave: "
            "the crossings landing on a sensor (particle and module as int64, x and y as float64) and their hits "
            "(particle, module, x, y, z), as bytearrays. Materials are in radiation lengths at normal incidence; "
            "`normals` holds 4 unit normal draws per crossing and 2 per particle, "
            "`uniforms` one draw in [0, 1) per crossing (see corvane_tools.propagation.crossings)."),
    Function<&montecarlo_rows, "montecarlo_rows", "integers", "reals", "hit_ids", "hit_start", "hit_end", "per_event">::
        def("montecarlo_rows(integers, reals, hit_ids, hit_start, hit_end, per_event)\n--\n\nThe Monte Carlo rows of "
            "consecutive events, one list of rows per event (see corvane_tools.montecarlo_record)."),
};

}  // namespace

void register_generator_module(PyObject* corvane) { attach_private_module(corvane, "_generator", generator_functions); }

}  // namespace corvane::py
