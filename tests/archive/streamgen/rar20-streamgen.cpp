// Writes generated RAR 2.0 archives for the differential test against the reference decoder.
//   rar20-streamgen OUTDIR FIRST_SEED COUNT [MAX_MEMBER_SIZE [--probe-crossing]]
// For each seed: OUTDIR/SEED.rar, the expected bytes of member I in OUTDIR/SEED.I.bin, and one
// line per archive in OUTDIR/manifest.json; the construct counts over all seeds go to stdout.
#include "Rar20StreamGen.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool writeFile(const std::string& path, const std::vector<uint8_t>& data) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = data.empty() || fwrite(data.data(), 1, data.size(), f) == data.size();
    return fclose(f) == 0 && ok;
}

std::string jsonString(const std::string& s) {
    std::string r = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') r += '\\';
        r += c;
    }
    return r + "\"";
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr,
                "usage: rar20-streamgen OUTDIR FIRST_SEED COUNT [MAX_MEMBER_SIZE [--probe-crossing]]\n");
        return 2;
    }
    std::string dir = argv[1];
    uint32_t first = static_cast<uint32_t>(strtoul(argv[2], nullptr, 10));
    uint32_t count = static_cast<uint32_t>(strtoul(argv[3], nullptr, 10));
    streamgen::Options options;
    if (argc > 4) options.maxMemberSize = strtoul(argv[4], nullptr, 10);
    std::string probe = argc > 5 ? argv[5] : "";
    options.probeCrossing = probe == "--probe-crossing";
    streamgen::Tally tally;
    std::string manifest = "[\n";
    for (uint32_t seed = first; seed < first + count; ++seed) {
        streamgen::Archive a = streamgen::generate(seed, options, &tally);
        std::string base = dir + "/" + std::to_string(seed);
        if (!writeFile(base + ".rar", a.image)) {
            fprintf(stderr, "cannot write %s.rar\n", base.c_str());
            return 1;
        }
        manifest += "{\"seed\":" + std::to_string(seed) + ",\"archive\":" + jsonString(base + ".rar") +
                    ",\"password\":" + jsonString(a.password) + ",\"solid\":" + (a.solid ? "true" : "false") +
                    ",\"members\":[";
        for (size_t i = 0; i < a.members.size(); ++i) {
            std::string expected = base + "." + std::to_string(i) + ".bin";
            if (!writeFile(expected, a.members[i].data)) return 1;
            manifest += std::string(i ? "," : "") + "{\"name\":" + jsonString(a.members[i].name) +
                        ",\"expected\":" + jsonString(expected) + "}";
        }
        manifest += std::string("]}") + (seed + 1 < first + count ? ",\n" : "\n");
    }
    manifest += "]\n";
    if (!writeFile(dir + "/manifest.json", std::vector<uint8_t>(manifest.begin(), manifest.end()))) return 1;
    for (const auto& t : tally)
        printf("%-40s %llu\n", t.first.c_str(), static_cast<unsigned long long>(t.second));
    return 0;
}
