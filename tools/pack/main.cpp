// holdfast-pack: makes and inspects the demo's data archive (RAR 2.x, RAR 2.0 encryption).
//   holdfast-pack create OUT ROOT --password PW [--compress] [--solid]
//   holdfast-pack list ARCHIVE [--password PW]
//   holdfast-pack extract ARCHIVE MEMBER [--password PW]
//   holdfast-pack test ARCHIVE [--password PW]
//   holdfast-pack bench ARCHIVE [--password PW] [--rounds N]
#include "common/ToolOptions.h"
#include "pack/PackCommands.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace pack {

namespace {

const tool::Description kTool = {"holdfast-pack",
                                 "Makes, lists, tests and extracts the demo's RAR 2.x data archives.",
                                 "usage: holdfast-pack create OUT ROOT --password PW [--compress] [--solid]\n"
                                 "       holdfast-pack list ARCHIVE [--password PW]\n"
                                 "       holdfast-pack extract ARCHIVE MEMBER [--password PW]\n"
                                 "       holdfast-pack test ARCHIVE [--password PW]\n"
                                 "       holdfast-pack bench ARCHIVE [--password PW] [--rounds N]\n"};

bool parseArgs(int argc, char** argv, Args& a) {
    for (int i = 2; i < argc; ++i) {
        std::string s = argv[i];
        if (s == "--password") {
            if (i + 1 >= argc) return false;
            a.password = argv[++i];
            a.havePassword = true;
        } else if (s == "--compress") {
            a.compress = true;
        } else if (s == "--solid") {
            a.solid = true;
        } else if (s == "--no-audio") {
            a.noAudio = true;
        } else if (s == "--rounds") {
            if (i + 1 >= argc) return false;
            a.rounds = std::max(1, atoi(argv[++i]));
        } else if (s.size() > 2 && s.compare(0, 2, "--") == 0) {
            fprintf(stderr, "holdfast-pack: unknown option %s\n", s.c_str());
            return false;
        } else {
            a.positional.push_back(s);
        }
    }
    return true;
}

} // namespace

int usage() {
    return tool::usageError(kTool);
}

const char* passwordOf(const Args& a) {
    return a.havePassword && !a.password.empty() ? a.password.c_str() : nullptr;
}

} // namespace pack

int main(int argc, char** argv) {
    tool::answerHelpAndVersion(argc, argv, pack::kTool);
    if (argc < 2) return pack::usage();
    pack::Args a;
    if (!pack::parseArgs(argc, argv, a)) return pack::usage();
    std::string command = argv[1];
    if (command == "create") return pack::create(a);
    if (command == "list") return pack::list(a);
    if (command == "extract") return pack::extract(a);
    if (command == "test") return pack::test(a);
    if (command == "bench") return pack::bench(a);
    return pack::usage();
}
