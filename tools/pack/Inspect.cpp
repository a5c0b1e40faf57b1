#include "pack/PackCommands.h"

#include "archive/RarArchive.h"
#include "common/Printable.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace pack {

namespace {

bool openArchive(const std::string& path, rar::Reader& reader) {
    if (!reader.openFile(path.c_str())) {
        fprintf(stderr, "holdfast-pack: %s: %s\n", path.c_str(), reader.error().c_str());
        return false;
    }
    return true;
}

} // namespace

int list(const Args& a) {
    if (a.positional.size() != 1) return usage();
    rar::Reader reader;
    if (!openArchive(a.positional[0], reader)) return 1;
    for (const rar::Entry& e : reader.entries()) {
        std::string method = e.stored() ? "store" : "m" + std::to_string(e.method - 0x30);
        std::string flagText;
        auto flag = [&](bool on, const char* text) {
            if (!on) return;
            if (!flagText.empty()) flagText += ",";
            flagText += text;
        };
        flag(e.encrypted(), "encrypted");
        flag(e.solid(), "solid");
        flag(e.directory(), "dir");
        flag(e.unsafeName, "unsafe-name");
        if (flagText.empty()) flagText = "-";
        printf("%s\t%llu\t%llu\t%s\t%08X\t%s\n", tool::printable(e.name).c_str(),
               static_cast<unsigned long long>(e.unpackedSize), static_cast<unsigned long long>(e.packedSize),
               method.c_str(), e.crc, flagText.c_str());
    }
    if (reader.damaged()) {
        fprintf(stderr, "holdfast-pack: archive damaged: %s\n", reader.damageReport().c_str());
        return 1;
    }
    return 0;
}

int extract(const Args& a) {
    if (a.positional.size() != 2) return usage();
    rar::Reader reader;
    if (!openArchive(a.positional[0], reader)) return 1;
    int index = reader.find(a.positional[1].c_str());
    if (index < 0) {
        fprintf(stderr, "holdfast-pack: no member %s in %s\n", tool::printable(a.positional[1]).c_str(),
                tool::printable(a.positional[0]).c_str());
        return 1;
    }
    uint8_t* data = nullptr;
    size_t size = 0;
    if (!reader.extract(static_cast<size_t>(index), passwordOf(a), &data, &size)) {
        fprintf(stderr, "holdfast-pack: %s: %s\n", a.positional[1].c_str(), reader.error().c_str());
        return 1;
    }
    bool ok = fwrite(data, 1, size, stdout) == size && fflush(stdout) == 0;
    free(data);
    if (!ok) {
        fprintf(stderr, "holdfast-pack: write to stdout failed\n");
        return 1;
    }
    return 0;
}

int test(const Args& a) {
    if (a.positional.size() != 1) return usage();
    rar::Reader reader;
    if (!openArchive(a.positional[0], reader)) return 1;
    int failures = 0, members = 0;
    reader.extractAll(passwordOf(a), [&](size_t index, const uint8_t*, size_t, bool ok,
                                         const std::string& error) {
        ++members;
        if (!ok) {
            ++failures;
            fprintf(stderr, "holdfast-pack: %s: %s\n", tool::printable(reader.entries()[index].name).c_str(),
                    tool::printable(error).c_str());
        }
    });
    if (reader.damaged()) {
        ++failures;
        fprintf(stderr, "holdfast-pack: archive damaged: %s\n", reader.damageReport().c_str());
    }
    if (!reader.damaged() && !reader.endMarked())
        fprintf(stderr, "holdfast-pack: warning: %s has no end-of-archive block; it may be cut short\n",
                a.positional[0].c_str());
    printf("%d members, %d failed\n", members, failures);
    return failures ? 1 : 0;
}

// Extraction speed of a whole archive, for comparing builds and machines.
int bench(const Args& a) {
    if (a.positional.size() != 1) return usage();
    double best = 0;
    uint64_t bytes = 0;
    for (int round = 0; round < a.rounds; ++round) {
        rar::Reader reader;
        auto t0 = std::chrono::steady_clock::now();
        if (!openArchive(a.positional[0], reader)) return 1;
        bytes = 0;
        bool ok = true;
        reader.extractAll(passwordOf(a),
                          [&](size_t, const uint8_t*, size_t size, bool good, const std::string& e) {
                              bytes += size;
                              if (!good) {
                                  ok = false;
                                  fprintf(stderr, "holdfast-pack: %s\n", e.c_str());
                              }
                          });
        if (!ok) return 1;
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        double rate = bytes / s / 1e6;
        best = std::max(best, rate);
    }
    printf("extracted %llu bytes: %.1f MB/s (best of %d)\n", static_cast<unsigned long long>(bytes), best,
           a.rounds);
    return 0;
}

} // namespace pack
