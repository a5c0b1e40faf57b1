#include "capture/Frames.h"

#include "host/FrameLoop.h"
#include "platform/GL.h"
#include "sound/SoundSystem.h"
#include "sound/SpectrumTap.h"

#include <cstdio>

#include <unistd.h>

namespace capture {

const unsigned char* FrameReader::pixels() {
    if (!valid) {
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, kWidth, kHeight, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
        valid = true;
    }
    return rgb.data();
}

void stepFrame(int t) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    sound::renderOfflineAt(t);
    drawFrame(t);
}

namespace {
bool lineOpen = false; // a progress line rewritten in place, not ended yet
}

void endProgressLine() {
    if (lineOpen) fprintf(stderr, "\n");
    lineOpen = false;
}

Progress::Progress(uint64_t total)
    : total(total), terminal(isatty(fileno(stderr)) == 1), last(std::chrono::steady_clock::now()) {
    if (terminal) last -= std::chrono::seconds(1); // the first call shows where the run starts
}

void Progress::show(uint64_t written, int64_t t, bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (terminal) {
        if (!force && now - last < std::chrono::milliseconds(250)) return;
        fprintf(stderr, "\rholdfast-capture: frame %llu/%llu (t = %lld ms)",
                static_cast<unsigned long long>(written), static_cast<unsigned long long>(total),
                static_cast<long long>(t));
        lineOpen = true;
    } else {
        // A log reads line by line: a carriage return would make the whole run one line.
        const int tenth = total ? static_cast<int>(written * 10 / total) : 0;
        const bool due = tenth > tenths || now - last >= std::chrono::seconds(10) || force;
        if (!due || written == printed) return;
        tenths = tenth;
        printed = written;
        fprintf(stderr, "holdfast-capture: frame %llu/%llu (t = %lld ms)\n",
                static_cast<unsigned long long>(written), static_cast<unsigned long long>(total),
                static_cast<long long>(t));
    }
    last = now;
    fflush(stderr);
}

void printSummary(const char* what, uint64_t written, uint64_t stepped, double seconds) {
    endProgressLine();
    fprintf(stderr,
            "holdfast-capture: %llu %s in %.2f s, %.1f frames per second (%llu frames stepped, %.1f per "
            "second)\n",
            static_cast<unsigned long long>(written), what, seconds, seconds > 0 ? written / seconds : 0.0,
            static_cast<unsigned long long>(stepped), seconds > 0 ? stepped / seconds : 0.0);
    // How often the Spectrum's beat test fired in the frames stepped, and when (demo ms).
    const std::vector<int>& beats = spectrumTap::beatTimes();
    fprintf(stderr, "holdfast-capture: beats=%zu", beats.size());
    for (size_t i = 0; i < beats.size(); ++i)
        fprintf(stderr, "%s%d", i ? "," : " at ", beats[i]);
    fprintf(stderr, "\n");
}

} // namespace capture
