#include "Progress.h"

#include <algorithm>
#include <cstdio>

#include "Files.h"
#include "Tool.h"

namespace Tool {

namespace {

// "0:07", "12:34", "1:02:03".
std::string FormatClock(double Seconds)
{
    const auto Total = static_cast<std::uint64_t>(std::max(0.0, Seconds) + 0.5);
    char Text[32];
    if (Total >= 3600)
        std::snprintf(Text, sizeof Text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(Total / 3600),
                      static_cast<unsigned long long>(Total / 60 % 60), static_cast<unsigned long long>(Total % 60));
    else
        std::snprintf(Text, sizeof Text, "%llu:%02llu", static_cast<unsigned long long>(Total / 60),
                      static_cast<unsigned long long>(Total % 60));
    return Text;
}

// The time a finished download took: tenths of a second below a minute.
std::string FormatDuration(double Seconds)
{
    if (Seconds >= 60) return FormatClock(Seconds);
    char Text[32];
    std::snprintf(Text, sizeof Text, "%.1f s", std::max(0.0, Seconds));
    return Text;
}

std::string FormatRate(std::uint64_t Done, double Seconds)
{
    if (Seconds <= 0 || Done == 0) return "--/s";
    return FormatBytes(static_cast<std::uint64_t>(static_cast<double>(Done) / Seconds)) + "/s";
}

}  // namespace

std::string FormatBytes(std::uint64_t Bytes)
{
    if (Bytes < 1024) return std::to_string(Bytes) + " B";
    static const char* const Units[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    double Value = static_cast<double>(Bytes) / 1024;
    int Unit = 0;
    while (Value >= 1024 && Unit < 5) {
        Value /= 1024;
        ++Unit;
    }
    char Text[32];
    // Three significant digits, as far as that goes.
    const char* Format = Value < 10 ? "%.2f %s" : Value < 100 ? "%.1f %s" : "%.0f %s";
    std::snprintf(Text, sizeof Text, Format, Value, Units[Unit]);
    return Text;
}

// Lays out the texts first and gives the bar what is left of the width.
std::string FormatProgress(std::uint64_t Done, std::optional<std::uint64_t> Total, double Seconds, int Width,
                           bool Finished)
{
    const std::string Rate = FormatRate(Done, Seconds);
    if (!Total) {
        const std::string Time = Finished ? "in " + FormatDuration(Seconds) : FormatClock(Seconds);
        return FormatBytes(Done) + "  " + Rate + "  " + Time;
    }

    const std::uint64_t Whole = *Total;
    const double Fraction = Whole == 0 ? 1.0 : std::min(1.0, static_cast<double>(Done) / static_cast<double>(Whole));
    char Percent[8];
    std::snprintf(Percent, sizeof Percent, "%3d%%", static_cast<int>(Fraction * 100));

    std::string Tail;
    if (Finished)
        Tail = "in " + FormatDuration(Seconds);
    else if (Seconds > 0 && Done > 0)
        Tail = "ETA " + FormatClock(static_cast<double>(Whole > Done ? Whole - Done : 0) * Seconds /
                                    static_cast<double>(Done));
    else
        Tail = "ETA --:--";

    const std::string Sizes = FormatBytes(Done) + " / " + FormatBytes(Whole);
    const std::string Text = Sizes + "  " + Rate + "  " + Tail;
    // The bar keeps one width for the whole download: what the width leaves
    // beside the longest texts, at most 40. The line stays one column short
    // of the width so that the terminal never wraps it.
    constexpr int LongestText = 46;  // "1023 MiB / 1023 MiB  1023 MiB/s  ETA 10:00:00"
    const int BarWidth = std::min(40, Width - 1 - 7 - LongestText);
    const std::string Line = BarWidth < 10 ? std::string(Percent) + " " + Text : [&] {
        const int Filled = static_cast<int>(Fraction * BarWidth);
        return std::string(Percent) + " [" + std::string(static_cast<std::size_t>(Filled), '#') +
               std::string(static_cast<std::size_t>(BarWidth - Filled), '.') + "] " + Text;
    }();
    return Line;
}

TProgressBar::TProgressBar(bool Enabled, std::optional<std::uint64_t> Total)
    : FEnabled(Enabled),
      FTotal(Total),
      FWidth(Enabled ? TerminalWidth() : 80),
      FStart(std::chrono::steady_clock::now()),
      FLastDraw(FStart)
{
}

TProgressBar::~TProgressBar()
{
    if (FEnabled && FDrawn) Err("\n");
}

void TProgressBar::Update(std::uint64_t Done)
{
    if (!FEnabled) return;
    const auto Now = std::chrono::steady_clock::now();
    if (FDrawn && Now - FLastDraw < std::chrono::milliseconds(100)) return;
    Draw(Done, false);
}

void TProgressBar::Interrupt()
{
    if (!FEnabled || !FDrawn) return;
    Err("\r" + std::string(FDrawnLength, ' ') + "\r");
    FDrawn = false;
    FDrawnLength = 0;
}

void TProgressBar::Finish(std::uint64_t Done)
{
    if (!FEnabled) return;
    Draw(Done, true);
}

// Overwrites the previous line in place: carriage return, the new text, and
// blanks over whatever the longer previous text left.
void TProgressBar::Draw(std::uint64_t Done, bool Finished)
{
    const auto Now = std::chrono::steady_clock::now();
    const double Seconds = std::chrono::duration<double>(Now - FStart).count();
    const std::string Line = FormatProgress(Done, FTotal, Seconds, FWidth, Finished);
    std::string Output = "\r" + Line;
    if (FDrawnLength > Line.size()) Output += std::string(FDrawnLength - Line.size(), ' ');
    if (Finished) Output += "\n";
    Err(Output);
    FLastDraw = Now;
    FDrawn = !Finished;
    FDrawnLength = Finished ? 0 : Line.size();
}

}  // namespace Tool
