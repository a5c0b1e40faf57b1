// Whole-archive fuzzing: headers, look-up, decryption, unpacking and the CRC check, as the
// data-file layer and holdfast-pack drive them.
#include "archive/RarArchive.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rar::Reader reader;
    reader.setMemberLimit(4u << 20); // keeps each run fast; the real limit is only a number
    if (!reader.openMemory(data, size)) return 0;
    reader.find("data/scripts/demo.scr");
    reader.find("DATA\\SCRIPTS\\DEMO.SCR");
    const char* passwords[] = {"tolvrask", nullptr};
    for (const char* password : passwords) {
        for (size_t i = 0; i < reader.entries().size() && i < 8; ++i) {
            uint8_t* out = nullptr;
            size_t outSize = 0;
            if (reader.extract(i, password, &out, &outSize)) free(out);
        }
    }
    reader.extractAll("tolvrask", [](size_t, const uint8_t*, size_t, bool, const std::string&) {});
    return 0;
}
