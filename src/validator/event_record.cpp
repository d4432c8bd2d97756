#include "validator/event_record.hpp"

#include <bit>
#include <cstring>

#include "core/errors.hpp"

namespace corvane::validation {
namespace {

constexpr std::string_view kMagic = "cvr1";

void put_varint(std::string& out, uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<char>((value & 0x7f) | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
}

void put_double(std::string& out, double value) {
    uint64_t bits = std::bit_cast<uint64_t>(value);
    for (int i = 0; i < 8; ++i, bits >>= 8) out.push_back(static_cast<char>(bits & 0xff));
}

[[noreturn]] void malformed(const char* why) { throw ValueError(std::string("malformed validation records: ") + why); }

// Reads the encoding front to back; every read checks what is left.
class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    uint64_t varint() {
        uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (position_ >= bytes_.size()) malformed("truncated");
            const auto byte = static_cast<uint8_t>(bytes_[position_++]);
            const uint64_t bits = byte & 0x7f;
            if (shift == 63 && bits > 1) malformed("integer out of range");
            value |= bits << shift;
            if ((byte & 0x80) == 0) return value;
        }
        malformed("integer out of range");
    }

    double real() {
        if (bytes_.size() - position_ < 8) malformed("truncated");
        uint64_t bits = 0;
        for (int i = 7; i >= 0; --i) bits = (bits << 8) | static_cast<uint8_t>(bytes_[position_ + i]);
        position_ += 8;
        return std::bit_cast<double>(bits);
    }

    bool starts_with(std::string_view prefix) {
        if (!bytes_.starts_with(prefix)) return false;
        position_ += prefix.size();
        return true;
    }

    size_t left() const { return bytes_.size() - position_; }

private:
    std::string_view bytes_;
    size_t position_ = 0;
};

void put_share(std::string& out, const CategoryShare& share) {
    put_varint(out, share.particles);
    if (share.particles == 0) return;  // an event that does not count carries nothing else
    put_varint(out, share.reconstructed);
    put_varint(out, share.clones);
    put_varint(out, share.matched_tracks);
    put_varint(out, share.hiteff_count);
    put_double(out, share.purity_sum);
    put_double(out, share.hiteff_sum);
}

CategoryShare read_share(Reader& in) {
    CategoryShare share;
    share.particles = in.varint();
    if (share.particles == 0) return share;
    share.reconstructed = in.varint();
    share.clones = in.varint();
    share.matched_tracks = in.varint();
    share.hiteff_count = in.varint();
    share.purity_sum = in.real();
    share.hiteff_sum = in.real();
    return share;
}

}  // namespace

std::string encode_records(std::span<const EventRecord> records, size_t category_count) {
    std::string out(kMagic);
    put_varint(out, category_count);
    put_varint(out, records.size());
    for (const EventRecord& record : records) {
        if (record.categories.size() != category_count) {
            throw ValueError("a validation record does not have one share per category");
        }
        put_varint(out, record.tracks);
        put_varint(out, record.ghosts);
        put_varint(out, record.ghost_entries);
        for (const CategoryShare& share : record.categories) put_share(out, share);
    }
    return out;
}

std::vector<EventRecord> decode_records(std::string_view bytes, size_t category_count) {
    Reader in(bytes);
    if (!in.starts_with(kMagic)) malformed("not a record string");
    const uint64_t categories = in.varint();
    if (categories != category_count) {
        throw ValueError("validation records made for " + std::to_string(categories) + " categories, expected " +
                         std::to_string(category_count));
    }
    const uint64_t count = in.varint();
    // Each record takes at least one byte per field: a count beyond that is a lie.
    if (count > in.left() / (3 + category_count)) malformed("truncated");
    std::vector<EventRecord> records(count);
    for (EventRecord& record : records) {
        record.tracks = in.varint();
        record.ghosts = in.varint();
        record.ghost_entries = in.varint();
        record.categories.resize(category_count);
        for (CategoryShare& share : record.categories) share = read_share(in);
    }
    if (in.left() != 0) malformed("trailing bytes");
    return records;
}

}  // namespace corvane::validation
