#include "session/busy_progress.h"

#include <algorithm>
#include <iterator>
#include <limits>

namespace vantory {

std::string NextBusyCaption(const std::string& caption) {
    const std::string stem = "Program is busy";
    if (caption == stem + "...") {
        return stem + ".";
    }
    if (caption == stem + "." || caption == stem + "..") {
        return caption + ".";
    }
    return caption;
}

std::string BytesText(uint64_t done, uint64_t size) {
    static const char* const units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    size_t unit = 0;
    uint64_t scale = 1;
    while (unit + 1 < std::size(units) && size / scale >= 10240) {
        scale *= 1024;
        ++unit;
    }
    const std::string name = std::string(" ") + units[unit];
    return std::to_string(done / scale) + name + " of " + std::to_string(size / scale) + name;
}

BusyProgress::BusyProgress(const ProgramState& state, Timer& timer) : state_(state), timer_(timer) {
    timer_.start(kTickMilliseconds);
}

BusyProgress::View BusyProgress::tick() {
    View view;
    // Items completed is the 1-based item in hand less one, in 16-bit arithmetic: at the
    // smallest counter the subtraction has no result and the line stays as it was.
    if (state_.intProgress != std::numeric_limits<int16_t>::min()) {
        const int completed = state_.intProgress - 1;
        const int total = state_.intProgressTotal;
        view.status =
            std::to_string(completed) + " files completed out of " + std::to_string(total);
        view.bar = total > 0 ? Bar{true, total, std::clamp(completed, 0, total)} : Bar{};
    }
    const FileBytes& bytes = state_.fileBytes;
    bytesShown_ = bytesShown_ || bytes.size >= kLargeFile;
    if (bytesShown_) {
        const uint64_t done = std::min(bytes.done, bytes.size);
        view.bytes = BytesText(done, bytes.size);
        if (state_.intProgressTotal == 1 && bytes.size > 0) {
            view.bar = Bar{true, kBarSteps, static_cast<int>(done * kBarSteps / bytes.size)};
        }
    }
    view.close = !state_.bolBusy;
    if (!view.close) {
        timer_.start(kTickMilliseconds);
    }
    return view;
}

}  // namespace vantory
