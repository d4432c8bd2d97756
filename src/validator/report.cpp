#include "validator/report.hpp"

#include <charconv>
#include <cstdint>

namespace corvane::validation {
namespace {

void pad_to(std::string& out, size_t start, size_t width) {
    const size_t length = out.size() - start;
    if (length < width) out.insert(start, width - length, ' ');
}

void append_integer(std::string& out, uint64_t value, size_t width = 0) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    const size_t start = out.size();
    out.append(buffer, result.ptr);
    pad_to(out, start, width);
}

// Fixed-point with `decimals` digits after the point, correctly rounded from
// the binary value (ties to even), right-aligned in `width`.
void append_fixed(std::string& out, double value, int decimals, size_t width = 0) {
    char buffer[400];  // the largest double has 309 integer digits
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    const size_t start = out.size();
    out.append(buffer, result.ptr);
    pad_to(out, start, width);
}

}  // namespace

std::string ghost_line(const RunTotals& totals, size_t event_count) {
    if (event_count == 0) return "No events found.\n";
    std::string line;
    append_integer(line, totals.tracks);
    line += " tracks including ";
    append_integer(line, totals.ghosts);
    line += " ghosts (";
    append_fixed(line, overall_ghost_rate(totals), 1);
    line += "%). Event average ghost rate: ";
    append_fixed(line, event_average_ghost_rate(totals, event_count), 1);
    line += "%\n";
    return line;
}

std::string category_line(const CategoryStats& stats) {
    std::string line = stats.label;
    if (line.size() < 20) line.append(20 - line.size(), ' ');
    line += ' ';
    append_integer(line, stats.n_recon_particles, 6);
    line += " from ";
    append_integer(line, stats.n_particles, 6);
    line += " (";
    append_fixed(line, stats.recoeff, 1, 5);
    line += "%, ";
    append_fixed(line, stats.avg_recoeff, 1, 5);
    line += "%) ";
    append_integer(line, stats.n_clones, 4);
    line += " clones (";
    append_fixed(line, clone_percentage(stats), 2, 5);
    line += "%), purity: (";
    append_fixed(line, stats.purity, 2, 6);
    line += "%, ";
    append_fixed(line, stats.latest_event_purity, 2, 6);
    line += "%), hitEff: (";
    append_fixed(line, stats.latest_event_hiteff, 2, 6);
    line += "%, ";
    append_fixed(line, hit_efficiency_percentage(stats), 2, 6);
    line += "%)\n";
    return line;
}

std::string summary_text(const ValidationRun& run, size_t event_count) {
    std::string text = ghost_line(run.totals(), event_count);
    for (const auto& stats : run.statistics()) {
        if (stats) text += category_line(*stats);
    }
    return text;
}

}  // namespace corvane::validation
