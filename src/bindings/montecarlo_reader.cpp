#include "bindings/montecarlo_reader.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "bindings/layer/convert.hpp"
#include "bindings/layer/dict_items.hpp"
#include "core/errors.hpp"
#include "validator/montecarlo_columns.hpp"

namespace corvane::py {
namespace {

using validation::McColumn;
using validation::McColumnPositions;
using validation::McParticle;

// Every row of "particles", each converted like a list of any objects.
struct Rows {
    std::vector<PyRef> cells;
    std::vector<size_t> starts{0};  // row r is cells[starts[r] .. starts[r + 1])

    size_t count() const { return starts.size() - 1; }
};

Rows read_rows(PyObject* particles, size_t columns) {
    Rows rows;
    const size_t row_count = check_sequence(particles);
    rows.starts.reserve(row_count + 1);
    rows.cells.reserve(row_count * std::min<size_t>(columns, validation::kMcColumnCount));
    for_each_item(particles, [&rows](PyObject* row) {
        check_sequence(row);
        for_each_item(row, [&rows](PyObject* cell) { rows.cells.push_back(PyRef::borrow(cell)); });
        rows.starts.push_back(rows.cells.size());
    });
    return rows;
}

// Runs a conversion that may raise; an unreadable value gives nothing.
template <class Convert>
auto lenient(Convert&& convert) -> std::optional<decltype(convert())> {
    try {
        return convert();
    } catch (const ErrorAlreadySet&) {
        if (!clear_unreadable_value_error()) throw;
        return std::nullopt;
    }
}

// Appends the positions to `kept`; an unreadable list leaves it as it was.
void read_hit_positions(PyObject* value, uint32_t hit_count, std::vector<uint32_t>& kept) {
    const size_t before = kept.size();
    const bool read = lenient([value, hit_count, &kept] {
                          check_sequence(value);
                          const auto is_int = [](PyObject* item) { return PyLong_CheckExact(item); };
                          for_each_plain_item(value, is_int, [&kept, hit_count](PyObject* item) {
                              const uint64_t position = to_unsigned_64(item);
                              if (position < hit_count) kept.push_back(static_cast<uint32_t>(position));
                          });
                          return true;
                      }).has_value();
    if (!read) kept.resize(before);
}

class RowReader {
public:
    RowReader(const Rows& rows, size_t row, const McColumnPositions& columns)
        : cells_(rows.cells.data() + rows.starts[row]),
          length_(rows.starts[row + 1] - rows.starts[row]),
          columns_(columns) {}

    // The row's value for a field, or nullptr when its column is absent.
    PyObject* value(McColumn field) const {
        const auto& position = columns_[field];
        return position && *position < length_ ? cells_[*position].get() : nullptr;
    }

    template <class T>
    T number(McColumn field, T fallback) const {
        PyObject* object = value(field);
        if (object == nullptr) return fallback;
        return lenient([object] { return FromPython<T>::convert(object); }).value_or(fallback);
    }

    bool flag(McColumn field, bool fallback) const {
        PyObject* object = value(field);
        if (object == nullptr) return fallback;
        const auto integer = lenient([object] { return FromPython<int32_t>::convert(object); });
        return integer ? *integer != 0 : fallback;
    }

private:
    const PyRef* cells_;
    size_t length_;
    const McColumnPositions& columns_;
};

// The particle of a row; its hits close the next list of `hits`.
McParticle read_particle(const RowReader& row, uint32_t hit_count, PackedLists<uint32_t>& hits) {
    using namespace validation;
    McParticle particle;
    particle.key = row.number<uint64_t>(kKey, particle.key);
    particle.pid = row.number<int32_t>(kPid, particle.pid);
    particle.p = row.number<double>(kP, particle.p);
    if (PyObject* listed = row.value(kHits)) read_hit_positions(listed, hit_count, hits.items);
    hits.close_list();
    particle.is_long = row.flag(kIsLong, particle.is_long);
    particle.has_velo = row.flag(kHasVelo, particle.has_velo);
    particle.from_beauty_decay = row.flag(kFromBeautyDecay, particle.from_beauty_decay);
    particle.from_strange_decay = row.flag(kFromStrangeDecay, particle.from_strange_decay);
    particle.above_5gev = momentum_above_5gev(particle.p);
    return particle;
}

PyRef required_montecarlo_item(PyObject* montecarlo, const char* key) {
    PyRef value = dict_item(montecarlo, key);
    if (!value) throw KeyError(std::string(key) + " key missing in montecarlo");
    return value;
}

}  // namespace

validation::McTruth read_montecarlo(PyObject* montecarlo, uint32_t hit_count) {
    if (!PyDict_Check(montecarlo)) raise_conversion_error(montecarlo, "PyDict");
    const PyRef description_value = required_montecarlo_item(montecarlo, "description");
    const auto description = from_python<std::vector<std::string>>(description_value.get());
    const PyRef particles_value = required_montecarlo_item(montecarlo, "particles");
    const Rows rows = read_rows(particles_value.get(), description.size());

    const McColumnPositions columns = validation::locate_mc_columns(description);
    validation::McTruth truth;
    truth.particles.reserve(rows.count());
    truth.hits.offsets.reserve(rows.count() + 1);
    for (size_t row = 0; row < rows.count(); ++row) {
        truth.particles.push_back(read_particle(RowReader(rows, row, columns), hit_count, truth.hits));
    }
    return truth;
}

}  // namespace corvane::py
