// holdfast-makemusic: synthesizes the bundled demo's music and writes it as Ogg Vorbis.
//   holdfast-makemusic OUT.ogg [--seconds S] [--quality Q]
//
// Everything is made here from oscillators and noise: drums (kick on the beat, snare, hats,
// crashes), a bass line, pad chords and an arpeggio, at 120 beats per minute (a beat every
// 500 ms, a bar every 2000 ms). The arrangement, in bars:
//   0 intro (pads)            8 hats and a kick per bar     16 groove (drums, bass)
//  32 + arpeggio             48 breakdown (no drums)       56 build (snare roll, riser)
//  64 drop                   96 half-time                 112 drop again
// 128 outro, fading out until 286 s.
// The output is the same on every run (fixed noise seed).
#include "common/ToolOptions.h"
#include "makemusic/Arrangement.h"
#include "makemusic/Synth.h"
#include "platform/ReplacingFile.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace makemusic;

namespace {

bool encode(const std::vector<float>& left, const std::vector<float>& right, float quality,
            const char* path) {
    // Written under a temporary name and renamed at the end: a failed run leaves no broken file.
    platform::ReplacingFile output(path);
    std::string why;
    FILE* out = output.begin(&why) ? output.stream() : nullptr;
    if (!out) {
        fprintf(stderr, "holdfast-makemusic: cannot write %s: %s\n", path,
                why.empty() ? "no stream" : why.c_str());
        return false;
    }
    vorbis_info info;
    vorbis_info_init(&info);
    if (vorbis_encode_init_vbr(&info, 2, kRate, quality) != 0) {
        fprintf(stderr, "holdfast-makemusic: the encoder refused quality %.2f\n", quality);
        return false;
    }
    vorbis_comment comment;
    vorbis_comment_init(&comment);
    vorbis_comment_add_tag(&comment, "TITLE", "hold fast");
    vorbis_comment_add_tag(&comment, "ENCODER", "holdfast-makemusic");
    vorbis_dsp_state dsp;
    vorbis_block block;
    vorbis_analysis_init(&dsp, &info);
    vorbis_block_init(&dsp, &block);
    ogg_stream_state stream;
    ogg_stream_init(&stream, 0x686f6c64);

    ogg_packet header, headerComment, headerCode;
    vorbis_analysis_headerout(&dsp, &comment, &header, &headerComment, &headerCode);
    ogg_stream_packetin(&stream, &header);
    ogg_stream_packetin(&stream, &headerComment);
    ogg_stream_packetin(&stream, &headerCode);
    ogg_page page;
    bool ok = true;
    auto writePage = [&](const ogg_page& p) {
        ok = ok && fwrite(p.header, 1, p.header_len, out) == static_cast<size_t>(p.header_len) &&
             fwrite(p.body, 1, p.body_len, out) == static_cast<size_t>(p.body_len);
    };
    while (ogg_stream_flush(&stream, &page))
        writePage(page);

    const size_t frames = left.size();
    size_t position = 0;
    bool done = false;
    while (!done) {
        const size_t chunk = std::min<size_t>(4096, frames - position);
        if (chunk == 0) {
            vorbis_analysis_wrote(&dsp, 0);
        } else {
            float** buffer = vorbis_analysis_buffer(&dsp, static_cast<int>(chunk));
            std::copy(left.begin() + position, left.begin() + position + chunk, buffer[0]);
            std::copy(right.begin() + position, right.begin() + position + chunk, buffer[1]);
            vorbis_analysis_wrote(&dsp, static_cast<int>(chunk));
            position += chunk;
        }
        while (vorbis_analysis_blockout(&dsp, &block) == 1) {
            vorbis_analysis(&block, nullptr);
            vorbis_bitrate_addblock(&block);
            ogg_packet packet;
            while (vorbis_bitrate_flushpacket(&dsp, &packet)) {
                ogg_stream_packetin(&stream, &packet);
                while (ogg_stream_pageout(&stream, &page)) {
                    writePage(page);
                    if (ogg_page_eos(&page)) done = true;
                }
            }
        }
        if (chunk == 0 && !done) {
            while (ogg_stream_flush(&stream, &page))
                writePage(page);
            done = true;
        }
    }
    ogg_stream_clear(&stream);
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    if (!ok) {
        fprintf(stderr, "holdfast-makemusic: error writing %s\n", path);
        return false;
    }
    if (!output.commit(&why)) {
        fprintf(stderr, "holdfast-makemusic: cannot write %s: %s\n", path, why.c_str());
        return false;
    }
    return true;
}

const tool::Description kTool = {
    "holdfast-makemusic", "Synthesises the demo's music (120 bpm) and writes it as Ogg Vorbis.",
    "usage: holdfast-makemusic OUT.ogg [--seconds S] [--quality Q]\n"
    "  S: length in seconds (default 286), Q: Vorbis quality -0.1..1 (default 0.3)\n"};

int usage() {
    return tool::usageError(kTool);
}

} // namespace

int main(int argc, char** argv) {
    tool::answerHelpAndVersion(argc, argv, kTool);
    const char* outPath = nullptr;
    double seconds = 286.0;
    float quality = 0.3f;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (arg == "--quality" && i + 1 < argc) {
            quality = static_cast<float>(std::atof(argv[++i]));
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage();
        } else if (!outPath) {
            outPath = argv[i];
        } else {
            return usage();
        }
    }
    if (!outPath || !(seconds > 0.5) || seconds > 3600.0 || !(quality >= -0.1f && quality <= 1.0f))
        return usage();
    // Refused before the minute of synthesis rather than after it.
    if (!platform::replaceableOutput(outPath)) {
        fprintf(stderr, "holdfast-makemusic: will not write %s: it exists and is not a regular file\n",
                outPath);
        return 1;
    }

    const auto begin = std::chrono::steady_clock::now();
    const size_t frames = frameAt(seconds);
    const int bars = static_cast<int>(std::ceil(seconds / kBar));
    Bus drums(frames), music(frames);
    Parts parts;
    // The drums and the other parts are independent: make them side by side.
    std::thread drumThread([&] { arrange(&drums, nullptr, bars, parts); });
    Parts unused;
    arrange(nullptr, &music, bars, unused);
    drumThread.join();
    std::vector<float> left, right;
    mixDown(drums, music, parts, seconds, left, right);
    const auto synthesized = std::chrono::steady_clock::now();
    if (!encode(left, right, quality, outPath)) return 1;
    const auto end = std::chrono::steady_clock::now();
    fprintf(stderr, "holdfast-makemusic: %s, %.1f s of music; synthesis %.1f s, encoding %.1f s\n", outPath,
            seconds, std::chrono::duration<double>(synthesized - begin).count(),
            std::chrono::duration<double>(end - synthesized).count());
    return 0;
}
