#include "bindings/montecarlo_reader.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "bindings/convert.hpp"
#include "bindings/dict_items.hpp"
#include "core/errors.hpp"

namespace corvane::py {
namespace {

using validation::McParticle;

enum Field : size_t {
    kKey, kPid, kP, kPt, kEta, kPhi, kCharge, kHits, kIsLong, kIsDown, kHasVelo, kHasUT, kHasScifi,
    kFromBeautyDecay, kFromCharmDecay, kFromStrangeDecay, kFieldCount
};

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
    rows.cells.reserve(row_count * std::min<size_t>(columns, kFieldCount));
    for_each_item(particles, [&rows](PyObject* row) {
        check_sequence(row);
        for_each_item(row, [&rows](PyObject* cell) { rows.cells.push_back(PyRef::borrow(cell)); });
        rows.starts.push_back(rows.cells.size());
    });
    return rows;
}

constexpr std::array<std::string_view, kFieldCount> kColumnNames{
    "key",   "pid",    "p",       "pt",    "eta",      "phi",             "charge",         "hits",
    "isLong", "isDown", "hasVelo", "hasUT", "hasScifi", "fromBeautyDecay", "fromCharmDecay", "fromStrangeDecay"};

// Where each field's column sits in a row; a name listed twice keeps its
// last position.
using ColumnMap = std::array<std::optional<size_t>, kFieldCount>;

ColumnMap map_columns(const std::vector<std::string>& description) {
    // Only the sixteen known names matter: comparing against them costs the
    // same for any description, where a hash table of all names could be
    // fed colliding ones.
    ColumnMap columns;
    for (size_t i = 0; i < description.size(); ++i) {
        const auto known = std::find(kColumnNames.begin(), kColumnNames.end(), description[i]);
        if (known != kColumnNames.end()) columns[static_cast<size_t>(known - kColumnNames.begin())] = i;
    }
    return columns;
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

std::vector<uint32_t> read_hit_positions(PyObject* value, uint32_t hit_count) {
    auto positions = lenient([value, hit_count] {
        std::vector<uint32_t> kept;
        kept.reserve(check_sequence(value));
        const auto is_int = [](PyObject* item) { return PyLong_CheckExact(item); };
        for_each_plain_item(value, is_int, [&kept, hit_count](PyObject* item) {
            const uint64_t position = to_unsigned_64(item);
            if (position < hit_count) kept.push_back(static_cast<uint32_t>(position));
        });
        return kept;
    });
    return positions ? std::move(*positions) : std::vector<uint32_t>{};
}

class RowReader {
public:
    RowReader(const Rows& rows, size_t row, const ColumnMap& columns)
        : cells_(rows.cells.data() + rows.starts[row]), length_(rows.starts[row + 1] - rows.starts[row]),
          columns_(columns) {}

    // The row's value for a field, or nullptr when its column is absent.
    PyObject* value(Field field) const {
        const auto& position = columns_[field];
        return position && *position < length_ ? cells_[*position].get() : nullptr;
    }

    template <class T>
    T number(Field field, T fallback) const {
        PyObject* object = value(field);
        if (object == nullptr) return fallback;
        return lenient([object] { return FromPython<T>::convert(object); }).value_or(fallback);
    }

    bool flag(Field field, bool fallback) const {
        PyObject* object = value(field);
        if (object == nullptr) return fallback;
        const auto integer = lenient([object] { return FromPython<int32_t>::convert(object); });
        return integer ? *integer != 0 : fallback;
    }

private:
    const PyRef* cells_;
    size_t length_;
    const ColumnMap& columns_;
};

McParticle read_particle(const RowReader& row, uint32_t hit_count) {
    McParticle particle;
    particle.key = row.number<uint64_t>(kKey, 0);
    particle.pid = row.number<int32_t>(kPid, 0);
    particle.p = row.number<double>(kP, 0.0);
    particle.pt = row.number<double>(kPt, 0.0);
    particle.eta = row.number<double>(kEta, 0.0);
    particle.phi = row.number<double>(kPhi, 0.0);
    particle.charge = row.number<int32_t>(kCharge, 0);
    if (PyObject* hits = row.value(kHits)) particle.hits = read_hit_positions(hits, hit_count);
    particle.is_long = row.flag(kIsLong, false);
    particle.is_down = row.flag(kIsDown, false);
    particle.has_velo = row.flag(kHasVelo, true);
    particle.has_ut = row.flag(kHasUT, false);
    particle.has_scifi = row.flag(kHasScifi, false);
    particle.from_beauty_decay = row.flag(kFromBeautyDecay, false);
    particle.from_charm_decay = row.flag(kFromCharmDecay, false);
    particle.from_strange_decay = row.flag(kFromStrangeDecay, false);
    particle.above_5gev = validation::momentum_above_5gev(particle.p);
    return particle;
}

PyRef required_montecarlo_item(PyObject* montecarlo, const char* key) {
    PyRef value = dict_item(montecarlo, key);
    if (!value) throw KeyError(std::string(key) + " key missing in montecarlo");
    return value;
}

}  // namespace

std::vector<McParticle> read_montecarlo(PyObject* montecarlo, uint32_t hit_count) {
    if (!PyDict_Check(montecarlo)) raise_conversion_error(montecarlo, "PyDict");
    const PyRef description_value = required_montecarlo_item(montecarlo, "description");
    const auto description = from_python<std::vector<std::string>>(description_value.get());
    const PyRef particles_value = required_montecarlo_item(montecarlo, "particles");
    const Rows rows = read_rows(particles_value.get(), description.size());

    const ColumnMap columns = map_columns(description);
    std::vector<McParticle> particles;
    particles.reserve(rows.count());
    for (size_t row = 0; row < rows.count(); ++row) {
        particles.push_back(read_particle(RowReader(rows, row, columns), hit_count));
    }
    return particles;
}

}  // namespace corvane::py
