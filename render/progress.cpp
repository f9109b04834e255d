#include "render/progress.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "render/terminal.h"

namespace {

constexpr std::string_view kName = "zarvelin-render: ";
constexpr unsigned kBarFrame = 7; // "[", "] ", "100%"

} // namespace

std::string progressBar(std::uint64_t done, std::uint64_t total, unsigned width)
{
    if (total == 0 || done > total)
        done = total = 1;
    const std::uint64_t marks = done * width / total;
    const unsigned percent = static_cast<unsigned>(done * 100 / total);
    std::string bar = "[";
    bar.append(static_cast<std::size_t>(marks), '#');
    bar.append(static_cast<std::size_t>(width - marks), '-');
    bar += "] ";
    const std::string number = std::to_string(percent);
    bar.append(3 - number.size(), ' ');
    bar += number;
    bar += '%';
    return bar;
}

std::string progressLine(std::uint64_t done, std::uint64_t total, unsigned columns)
{
    if (columns == 0)
        return std::string(kName) + progressBar(done, total, kProgressMarks);
    const unsigned room = columns - 1; // the last column left free
    const unsigned named = static_cast<unsigned>(kName.size()) + kBarFrame;
    if (room >= named + kProgressMinMarks)
        return std::string(kName) + progressBar(done, total, std::min(kProgressMarks, room - named));
    const unsigned marks = room > kBarFrame ? room - kBarFrame : 1;
    return progressBar(done, total, std::min(marks, kProgressMarks));
}

bool progressWorthShowing(double elapsedSeconds, double fraction)
{
    if (elapsedSeconds >= 1.0)
        return true;
    // A quarter second in, the pace so far is a fair guess of the whole.
    return elapsedSeconds >= 0.25 && fraction > 0.0 && elapsedSeconds / fraction > 1.0;
}

void progressBegin(Progress& progress, bool terminal)
{
    progress = Progress{};
    progress.terminal = terminal;
    progress.start = std::chrono::steady_clock::now();
}

void progressUpdate(Progress& progress, std::uint64_t done, std::uint64_t total)
{
    if (!progress.terminal || total == 0)
        return;
    const double fraction = static_cast<double>(done) / static_cast<double>(total);
    if (!progress.shown) {
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - progress.start;
        if (!progressWorthShowing(elapsed.count(), fraction))
            return;
        progress.shown = true;
    }
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == progress.lastPercent)
        return;
    progress.lastPercent = percent;
    // The width is asked each time, so a terminal made narrower mid-render is followed.
    std::fprintf(stderr, "\r%s", progressLine(done, total, stderrColumns()).c_str());
    std::fflush(stderr);
}

void progressEnd(Progress& progress)
{
    if (progress.shown) {
        std::fputc('\n', stderr);
        std::fflush(stderr);
    }
    progress.shown = false;
}
