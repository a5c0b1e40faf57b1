#include "OggWriter.h"

#include <vorbis/vorbisenc.h>

#include <cmath>
#include <cstdio>

bool writeSineOgg(const std::string& path, double seconds, double hz, double amplitude, int rate,
                  int channels) {
    FILE* out = fopen(path.c_str(), "wb");
    if (!out) return false;
    vorbis_info info;
    vorbis_info_init(&info);
    vorbis_encode_init_vbr(&info, channels, rate, 0.0f);
    vorbis_comment comment;
    vorbis_comment_init(&comment);
    vorbis_dsp_state dsp;
    vorbis_block block;
    vorbis_analysis_init(&dsp, &info);
    vorbis_block_init(&dsp, &block);
    ogg_stream_state stream;
    ogg_stream_init(&stream, 1);
    ogg_packet h1, h2, h3;
    vorbis_analysis_headerout(&dsp, &comment, &h1, &h2, &h3);
    ogg_stream_packetin(&stream, &h1);
    ogg_stream_packetin(&stream, &h2);
    ogg_stream_packetin(&stream, &h3);
    ogg_page page;
    auto write = [&] {
        fwrite(page.header, 1, page.header_len, out);
        fwrite(page.body, 1, page.body_len, out);
    };
    while (ogg_stream_flush(&stream, &page))
        write();

    const long frames = static_cast<long>(seconds * rate);
    long done = 0;
    bool eos = false;
    while (!eos) {
        const long n = frames - done < 4096 ? frames - done : 4096;
        if (n > 0) {
            float** buffer = vorbis_analysis_buffer(&dsp, static_cast<int>(n));
            for (long i = 0; i < n; ++i) {
                const double v = amplitude * std::sin(2.0 * M_PI * hz * static_cast<double>(done + i) / rate);
                for (int c = 0; c < channels; ++c)
                    buffer[c][i] = static_cast<float>(v);
            }
            done += n;
        }
        vorbis_analysis_wrote(&dsp, static_cast<int>(n > 0 ? n : 0));
        while (vorbis_analysis_blockout(&dsp, &block) == 1) {
            vorbis_analysis(&block, nullptr);
            vorbis_bitrate_addblock(&block);
            ogg_packet packet;
            while (vorbis_bitrate_flushpacket(&dsp, &packet)) {
                ogg_stream_packetin(&stream, &packet);
                while (ogg_stream_pageout(&stream, &page)) {
                    write();
                    if (ogg_page_eos(&page)) eos = true;
                }
            }
        }
        if (n <= 0 && !eos) {
            while (ogg_stream_flush(&stream, &page))
                write();
            eos = true;
        }
    }
    ogg_stream_clear(&stream);
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    return fclose(out) == 0;
}
