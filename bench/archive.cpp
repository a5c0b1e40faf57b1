// Extraction speed of the data archive: a ~64 MB archive stored + encrypted and compressed +
// encrypted, through our reader and through the reference decoder (node-unrar-js) where node
// and the module are installed (tests/archive/setup.sh). Figures are MB/s of unpacked data.
// BM_Pictures: 100 picture-sized members, solid or not, opened in order (the player) or each
// three times over (holdfast-script --check), through one reader as the data-file layer keeps it.
//   bench_archive [benchmark options]
//   bench_archive --write-corpus DIR [N]   writes the first N members (default all 16, 4 MiB
//                                          each) as files under DIR/data/bench/, for timing
//                                          holdfast-pack on the same data (bench/run.sh)
#include "archive/RarArchive.h"
#include "archive/RarWriter.h"

#include <benchmark/benchmark.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kMember = 4u << 20;
constexpr int kMembers = 16; // 64 MiB in all
const char* kPassword = "tolvrask";

// A demo-like mix: script and shader text, 16-bit music-like samples, image-like gradients
// with noise, and a little incompressible data.
std::vector<uint8_t> memberData(int index) {
    std::vector<uint8_t> out(kMember);
    uint32_t s = 12345u + static_cast<uint32_t>(index) * 7919u;
    auto next = [&s] {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    };
    static const char* words[] = {"INSERT_EFFECT ", "\"Blur\" ", "BEGIN ",     "1000\r\n",
                                  "SIGNAL ",        "Speed ",    "0.25 ",      "scene ",
                                  "END ",           "glow ",     "camera\r\n", "TRIGGER "};
    switch (index % 4) {
    case 0: {
        size_t i = 0;
        while (i < out.size()) {
            const char* w = words[next() % 12];
            for (; *w && i < out.size(); ++w)
                out[i++] = static_cast<uint8_t>(*w);
        }
        break;
    }
    case 1:
        for (size_t i = 0; i + 1 < out.size(); i += 2) {
            int v = static_cast<int>(8000 * std::sin(i * 0.0031) + 4000 * std::sin(i * 0.00071)) +
                    static_cast<int>(next() % 128) - 64;
            out[i] = static_cast<uint8_t>(v);
            out[i + 1] = static_cast<uint8_t>(v >> 8);
        }
        break;
    case 2:
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = static_cast<uint8_t>(((i % 1024) / 4 + (i / 4096) % 256) / 2 + (next() % 8));
        break;
    default:
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = (i / 65536) % 4 == 0 ? static_cast<uint8_t>(next()) : 0x20;
        break;
    }
    return out;
}

struct Archives {
    std::string dir;
    std::string stored, compressed;
    uint64_t totalBytes = 0;
    Archives() {
        char tmpl[] = "/tmp/holdfast-bench-XXXXXX";
        dir = mkdtemp(tmpl);
        stored = dir + "/stored.qzd";
        compressed = dir + "/compressed.qzd";
        build(stored, false);
        build(compressed, true);
    }
    ~Archives() {
        unlink(stored.c_str());
        unlink(compressed.c_str());
        rmdir(dir.c_str());
    }
    void build(const std::string& path, bool compress) {
        rar::WriterOptions options;
        options.password = kPassword;
        options.compress = compress;
        FILE* f = fopen(path.c_str(), "wb");
        rar::Writer writer(options);
        writer.begin(f);
        totalBytes = 0;
        for (int i = 0; i < kMembers; ++i) {
            std::vector<uint8_t> data = memberData(i);
            writer.add("data/bench/member" + std::to_string(i) + ".bin", data.data(), data.size(), 0);
            totalBytes += data.size();
        }
        writer.finish();
        fclose(f);
    }
};

Archives& archives() {
    static Archives instance;
    return instance;
}

void extractAll(benchmark::State& state, const std::string& path) {
    uint64_t bytes = 0;
    for (auto _ : state) {
        rar::Reader reader;
        if (!reader.openFile(path.c_str())) {
            state.SkipWithError(reader.error().c_str());
            return;
        }
        for (size_t i = 0; i < reader.entries().size(); ++i) {
            uint8_t* data = nullptr;
            size_t size = 0;
            if (!reader.extract(i, kPassword, &data, &size)) {
                state.SkipWithError(reader.error().c_str());
                return;
            }
            benchmark::DoNotOptimize(data);
            free(data);
            bytes += size;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void BM_ExtractStoredEncrypted(benchmark::State& state) {
    extractAll(state, archives().stored);
}
void BM_ExtractCompressedEncrypted(benchmark::State& state) {
    extractAll(state, archives().compressed);
}

// The reference decoder's own best-of-3 figure, measured inside node (startup excluded).
void reference(benchmark::State& state, const std::string& path) {
    std::string script = std::string(HOLDFAST_SOURCE_DIR) + "/tests/archive/reference-bench.js";
    if (access(script.c_str(), R_OK) != 0 || system("node --version > /dev/null 2>&1") != 0) {
        state.SkipWithError("node or the reference decoder is not installed");
        return;
    }
    std::string command = "node " + script + " " + path + " " + kPassword + " 3";
    double rate = 0;
    for (auto _ : state) {
        FILE* p = popen(command.c_str(), "r");
        char line[256] = {};
        if (!p || !fgets(line, sizeof(line), p) || sscanf(line, "MB/s %lf", &rate) != 1) {
            if (p) pclose(p);
            state.SkipWithError("reference decoder failed");
            return;
        }
        pclose(p);
        state.SetIterationTime(static_cast<double>(archives().totalBytes) / (rate * 1e6));
    }
    state.counters["reference_MB/s"] = rate;
}

void BM_ReferenceStoredEncrypted(benchmark::State& state) {
    reference(state, archives().stored);
}
void BM_ReferenceCompressedEncrypted(benchmark::State& state) {
    reference(state, archives().compressed);
}

// 100 members of about 96 KB, gradients with grain like the pictures of a demo.
struct PictureArchives {
    std::string dir, paths[2];
    PictureArchives() {
        char tmpl[] = "/tmp/holdfast-bench-XXXXXX";
        dir = mkdtemp(tmpl);
        for (int solid = 0; solid < 2; ++solid) {
            paths[solid] = dir + (solid ? "/pictures-solid.qzd" : "/pictures.qzd");
            rar::WriterOptions options;
            options.password = kPassword;
            options.compress = true;
            options.solid = solid != 0;
            FILE* f = fopen(paths[solid].c_str(), "wb");
            rar::Writer writer(options);
            writer.begin(f);
            for (int i = 0; i < 100; ++i) {
                std::vector<uint8_t> data(96 * 1024);
                uint32_t s = 777u + static_cast<uint32_t>(i) * 31u;
                for (size_t k = 0; k < data.size(); ++k) {
                    s = s * 1103515245u + 12345u;
                    data[k] = static_cast<uint8_t>((k % 768) / 3 + i + ((s >> 16) & 15));
                }
                writer.add("data/images/pic" + std::to_string(i) + ".png", data.data(), data.size(), 0);
            }
            writer.finish();
            fclose(f);
        }
    }
    ~PictureArchives() {
        for (const std::string& path : paths)
            unlink(path.c_str());
        rmdir(dir.c_str());
    }
};

std::string pictureArchive(bool solid) {
    static PictureArchives instance;
    return instance.paths[solid];
}

void BM_Pictures(benchmark::State& state) {
    const bool solid = state.range(0) != 0;
    const int opens = static_cast<int>(state.range(1));
    const std::string path = pictureArchive(solid);
    uint64_t bytes = 0;
    for (auto _ : state) {
        rar::Reader reader;
        if (!reader.openFile(path.c_str())) {
            state.SkipWithError(reader.error().c_str());
            return;
        }
        for (size_t i = 0; i < reader.entries().size(); ++i)
            for (int n = 0; n < opens; ++n) {
                uint8_t* data = nullptr;
                size_t size = 0;
                if (!reader.extract(i, kPassword, &data, &size)) {
                    state.SkipWithError(reader.error().c_str());
                    return;
                }
                benchmark::DoNotOptimize(data);
                free(data);
                bytes += size;
            }
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.SetLabel(std::string(solid ? "solid" : "not solid") +
                   (opens > 1 ? ", each opened 3 times" : ", in order"));
}

} // namespace

BENCHMARK(BM_Pictures)->Args({0, 1})->Args({1, 1})->Args({0, 3})->Args({1, 3})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExtractStoredEncrypted)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ExtractCompressedEncrypted)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReferenceStoredEncrypted)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(BM_ReferenceCompressedEncrypted)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

namespace {
int writeCorpus(const std::string& dir, int members) {
    std::string path;
    for (const char* part : {"", "/data", "/data/bench"}) {
        path = dir + part;
        if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
            fprintf(stderr, "bench_archive: cannot create %s: %s\n", path.c_str(), strerror(errno));
            return 1;
        }
    }
    for (int i = 0; i < members; ++i) {
        std::vector<uint8_t> data = memberData(i);
        std::string name = path + "/member" + std::to_string(i) + ".bin";
        FILE* f = fopen(name.c_str(), "wb");
        bool ok = f && fwrite(data.data(), 1, data.size(), f) == data.size();
        if (f && fclose(f) != 0) ok = false;
        if (!ok) {
            fprintf(stderr, "bench_archive: cannot write %s: %s\n", name.c_str(), strerror(errno));
            return 1;
        }
    }
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    if ((argc == 3 || argc == 4) && std::string(argv[1]) == "--write-corpus") {
        const int members = argc == 4 ? atoi(argv[3]) : kMembers;
        if (members < 1 || members > kMembers) {
            fprintf(stderr, "usage: bench_archive --write-corpus DIR [1..%d]\n", kMembers);
            return 2;
        }
        return writeCorpus(argv[2], members);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
