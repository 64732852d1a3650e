// The progress bar of a download, drawn on standard error.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace Tool {

/// "512 B", "1.5 KiB", "12.3 MiB", "1.02 GiB".
std::string FormatBytes(std::uint64_t bytes);

/// One line of the bar for Done bytes after Seconds, at most Width
/// characters: with a known Total the percentage, a bar, the sizes, the
/// rate and the time left; without one the bytes, the rate and the time
/// spent. With Finished, the time spent replaces the time left.
std::string FormatProgress(std::uint64_t done, std::optional<std::uint64_t> total, double seconds, int width,
                           bool finished);

/// Redraws one line on standard error as the bytes come in, at most ten
/// times a second, and ends it with a line break. A disabled bar draws
/// nothing.
class TProgressBar {
public:
    TProgressBar(bool enabled, std::optional<std::uint64_t> total);
    /// Ends a line left unfinished (a transfer that failed), so that the
    /// error message starts on a line of its own.
    ~TProgressBar();

    TProgressBar(const TProgressBar&) = delete;
    TProgressBar& operator=(const TProgressBar&) = delete;

    /// Done bytes have arrived so far.
    void Update(std::uint64_t done);
    /// Blanks the drawn line so that another message can take it; the bar
    /// comes back at the next update.
    void Interrupt();
    /// Draws the final state and ends the line.
    void Finish(std::uint64_t done);

private:
    void Draw(std::uint64_t done, bool finished);

    bool FEnabled;
    std::optional<std::uint64_t> FTotal;
    int FWidth;
    std::chrono::steady_clock::time_point FStart;
    std::chrono::steady_clock::time_point FLastDraw;
    bool FDrawn = false;
    std::size_t FDrawnLength = 0;
};

}  // namespace Tool
