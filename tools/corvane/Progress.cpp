#include "Progress.h"

#include <algorithm>
#include <cstdio>

#include "Files.h"
#include "Tool.h"

namespace Tool {

namespace {

// "0:07", "12:34", "1:02:03".
std::string FormatClock(double seconds) {
    const auto total = static_cast<std::uint64_t>(std::max(0.0, seconds) + 0.5);
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(total / 3600),
                      static_cast<unsigned long long>(total / 60 % 60),
                      static_cast<unsigned long long>(total % 60));
    else
        std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(total / 60),
                      static_cast<unsigned long long>(total % 60));
    return text;
}

// The time a finished download took: tenths of a second below a minute.
std::string FormatDuration(double seconds) {
    if (seconds >= 60) return FormatClock(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", std::max(0.0, seconds));
    return text;
}

std::string FormatRate(std::uint64_t done, double seconds) {
    if (seconds <= 0 || done == 0) return "--/s";
    return FormatBytes(static_cast<std::uint64_t>(static_cast<double>(done) / seconds)) + "/s";
}

}  // namespace

std::string FormatBytes(std::uint64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + " B";
    static const char* const units[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    double value = static_cast<double>(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 5) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    // Three significant digits, as far as that goes.
    const char* format = value < 10 ? "%.2f %s" : value < 100 ? "%.1f %s" : "%.0f %s";
    std::snprintf(text, sizeof text, format, value, units[unit]);
    return text;
}

// Lays out the texts first and gives the bar what is left of the width.
std::string FormatProgress(std::uint64_t done, std::optional<std::uint64_t> total, double seconds, int width,
                           bool finished) {
    const std::string rate = FormatRate(done, seconds);
    if (!total) {
        const std::string time = finished ? "in " + FormatDuration(seconds) : FormatClock(seconds);
        return FormatBytes(done) + "  " + rate + "  " + time;
    }

    const std::uint64_t whole = *total;
    const double Fraction =
        whole == 0 ? 1.0 : std::min(1.0, static_cast<double>(done) / static_cast<double>(whole));
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(Fraction * 100));

    std::string tail;
    if (finished)
        tail = "in " + FormatDuration(seconds);
    else if (seconds > 0 && done > 0)
        tail = "ETA " + FormatClock(static_cast<double>(whole > done ? whole - done : 0) * seconds /
                                    static_cast<double>(done));
    else
        tail = "ETA --:--";

    const std::string sizes = FormatBytes(done) + " / " + FormatBytes(whole);
    const std::string Text = sizes + "  " + rate + "  " + tail;
    // The bar keeps one width for the whole download: what the width leaves
    // beside the longest texts, at most 40. The line stays one column short
    // of the width so that the terminal never wraps it.
    constexpr int longestText = 46;  // "1023 MiB / 1023 MiB  1023 MiB/s  ETA 10:00:00"
    const int barWidth = std::min(40, width - 1 - 7 - longestText);
    const std::string line = barWidth < 10 ? std::string(percent) + " " + Text : [&] {
        const int filled = static_cast<int>(Fraction * barWidth);
        return std::string(percent) + " [" + std::string(static_cast<std::size_t>(filled), '#') +
               std::string(static_cast<std::size_t>(barWidth - filled), '.') + "] " + Text;
    }();
    return line;
}

TProgressBar::TProgressBar(bool enabled, std::optional<std::uint64_t> total)
    : FEnabled(enabled),
      FTotal(total),
      FWidth(enabled ? TerminalWidth() : 80),
      FStart(std::chrono::steady_clock::now()),
      FLastDraw(FStart) {}

TProgressBar::~TProgressBar() {
    if (FEnabled && FDrawn) Err("\n");
}

void TProgressBar::Update(std::uint64_t done) {
    if (!FEnabled) return;
    const auto now = std::chrono::steady_clock::now();
    if (FDrawn && now - FLastDraw < std::chrono::milliseconds(100)) return;
    Draw(done, false);
}

void TProgressBar::Interrupt() {
    if (!FEnabled || !FDrawn) return;
    Err("\r" + std::string(FDrawnLength, ' ') + "\r");
    FDrawn = false;
    FDrawnLength = 0;
}

void TProgressBar::Finish(std::uint64_t done) {
    if (!FEnabled) return;
    Draw(done, true);
}

// Overwrites the previous line in place: carriage return, the new text, and
// blanks over whatever the longer previous text left.
void TProgressBar::Draw(std::uint64_t done, bool finished) {
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - FStart).count();
    const std::string line = FormatProgress(done, FTotal, seconds, FWidth, finished);
    std::string output = "\r" + line;
    if (FDrawnLength > line.size()) output += std::string(FDrawnLength - line.size(), ' ');
    if (finished) output += "\n";
    Err(output);
    FLastDraw = now;
    FDrawn = !finished;
    FDrawnLength = finished ? 0 : line.size();
}

}  // namespace Tool
