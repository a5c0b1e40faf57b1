// holdfast-pack: makes and inspects the demo's data archive (RAR 2.x, RAR 2.0 encryption).
//   holdfast-pack create OUT ROOT --password PW [--compress] [--solid]
//   holdfast-pack list ARCHIVE [--password PW]
//   holdfast-pack extract ARCHIVE MEMBER [--password PW]
//   holdfast-pack test ARCHIVE [--password PW]
//   holdfast-pack bench ARCHIVE [--password PW] [--rounds N]
#include "common/ToolOptions.h"
#include "archive/Crc32.h"
#include "archive/RarArchive.h"
#include "archive/RarWriter.h"
#include "platform/RegularFile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const tool::Description kTool = {"holdfast-pack",
                                 "Makes, lists, tests and extracts the demo's RAR 2.x data archives.",
                                 "usage: holdfast-pack create OUT ROOT --password PW [--compress] [--solid]\n"
                                 "       holdfast-pack list ARCHIVE [--password PW]\n"
                                 "       holdfast-pack extract ARCHIVE MEMBER [--password PW]\n"
                                 "       holdfast-pack test ARCHIVE [--password PW]\n"
                                 "       holdfast-pack bench ARCHIVE [--password PW] [--rounds N]\n"};

int usage() {
    return tool::usageError(kTool);
}

struct Args {
    std::vector<std::string> positional;
    std::string password;
    bool havePassword = false;
    bool compress = false;
    bool solid = false;
    bool noAudio = false;
    int rounds = 3;
};

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

const char* passwordOf(const Args& a) {
    return a.havePassword && !a.password.empty() ? a.password.c_str() : nullptr;
}

bool readWhole(const fs::path& path, std::vector<uint8_t>& out, std::string& error) {
    // Opened only if regular: a FIFO put in place after the scan would block the run.
    std::string why;
    const int fd = platform::openRegularFile(path.c_str(), &why);
    FILE* f = fd >= 0 ? fdopen(fd, "rb") : nullptr;
    if (!f) {
        if (fd >= 0) close(fd);
        error = std::string("cannot open ") + path.string() + ": " + why;
        return false;
    }
    out.clear();
    uint8_t chunk[1 << 16];
    size_t n;
    while ((n = fread(chunk, 1, sizeof(chunk), f)) > 0) {
        out.insert(out.end(), chunk, chunk + n);
        if (out.size() > rar::kMaxMemberSize) {
            fclose(f);
            error = "file too large for the archive (limit 512 MiB): " + path.string();
            return false;
        }
    }
    bool bad = ferror(f);
    fclose(f);
    if (bad) error = "read error on " + path.string();
    return !bad;
}

int create(const Args& a) {
    if (a.positional.size() != 2 || !a.havePassword) return usage();
    const fs::path out = a.positional[0];
    const fs::path root = a.positional[1];
    std::error_code ec;
    if (!fs::is_directory(root, ec)) {
        fprintf(stderr, "holdfast-pack: %s is not a directory\n", root.c_str());
        return 1;
    }
    struct Item {
        std::string name;
        fs::path path;
        uint64_t size;
    };
    // The rename at the end replaces whatever has the name: only an earlier archive (a regular
    // file) may go that way, never a link, FIFO, device or directory someone named by mistake.
    struct stat existing;
    if (lstat(out.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        fprintf(stderr, "holdfast-pack: %s exists and is not a regular file; not replacing it\n",
                out.c_str());
        return 1;
    }
    std::vector<Item> items;
    uint64_t total = 0;
    fs::path outAbs = fs::absolute(out, ec);
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file(ec)) {
            // A FIFO or device has no contents to pack (reading one could block forever): say so.
            std::error_code ignored;
            if (!it->is_directory(ignored))
                fprintf(stderr, "holdfast-pack: warning: leaving out %s: not a regular file\n",
                        it->path().c_str());
            ec.clear();
            continue;
        }
        if (fs::equivalent(it->path(), outAbs, ec)) continue; // never pack the archive into itself
        std::string rel = fs::relative(it->path(), root, ec).generic_string();
        uint64_t size = it->file_size(ec);
        items.push_back({rel, it->path(), size});
        total += size;
    }
    if (ec) {
        fprintf(stderr, "holdfast-pack: cannot scan %s: %s\n", root.c_str(), ec.message().c_str());
        return 1;
    }
    std::sort(items.begin(), items.end(), [](const Item& x, const Item& y) { return x.name < y.name; });

    rar::WriterOptions wo;
    wo.password = a.password;
    wo.compress = a.compress;
    wo.solid = a.solid;
    wo.audioBlocks = !a.noAudio;
    rar::Writer writer(wo);

    // Written beside the target and renamed at the end: a failed run leaves no broken archive.
    std::string tmpName = out.string() + ".tmp-XXXXXX";
    std::vector<char> tmpBuf(tmpName.begin(), tmpName.end());
    tmpBuf.push_back('\0');
    int fd = mkstemp(tmpBuf.data());
    if (fd < 0) {
        fprintf(stderr, "holdfast-pack: cannot create %s: %s\n", tmpName.c_str(), strerror(errno));
        return 1;
    }
    tmpName = tmpBuf.data();
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask); // mkstemp makes it private; the archive is ordinary data
    FILE* f = fdopen(fd, "wb");
    auto abandon = [&](const std::string& why) {
        fprintf(stderr, "holdfast-pack: %s\n", why.c_str());
        if (f) fclose(f);
        unlink(tmpName.c_str());
        return 1;
    };
    if (!f) return abandon("cannot write temporary file");
    if (!writer.begin(f)) return abandon(writer.error());
    const bool progress = total >= (16u << 20);
    uint64_t done = 0;
    int lastPercent = -1;
    auto started = std::chrono::steady_clock::now();
    std::vector<uint8_t> data;
    for (const Item& item : items) {
        std::string why;
        if (!readWhole(item.path, data, why)) return abandon(why);
        struct stat st;
        int64_t unixTime = stat(item.path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtime) : 0;
        if (!writer.add(item.name, data.data(), data.size(), rar::dosTimeFromUnix(unixTime)))
            return abandon(writer.error());
        done += data.size();
        if (progress) {
            int percent = static_cast<int>(done * 100 / total);
            if (percent != lastPercent) {
                fprintf(stderr, "\rpacking: %3d%% (%llu of %llu MB)", percent,
                        static_cast<unsigned long long>(done >> 20),
                        static_cast<unsigned long long>(total >> 20));
                lastPercent = percent;
            }
        }
    }
    if (!writer.finish()) return abandon(writer.error());
    if (fsync(fileno(f)) != 0 && errno != EINVAL) return abandon("cannot flush the archive");
    if (fclose(f) != 0) {
        f = nullptr;
        return abandon("write failed");
    }
    f = nullptr;
    if (lstat(out.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        unlink(tmpName.c_str());
        fprintf(stderr, "holdfast-pack: %s exists and is not a regular file; not replacing it\n",
                out.c_str());
        return 1;
    }
    if (rename(tmpName.c_str(), out.c_str()) != 0) {
        unlink(tmpName.c_str());
        fprintf(stderr, "holdfast-pack: cannot rename to %s: %s\n", out.c_str(), strerror(errno));
        return 1;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (progress) fprintf(stderr, "\n");
    fprintf(stderr, "%s: %zu files, %llu bytes in, %llu bytes out (%.1f s)\n", out.c_str(), items.size(),
            static_cast<unsigned long long>(writer.bytesIn()),
            static_cast<unsigned long long>(writer.bytesOut()), seconds);
    return 0;
}

bool openArchive(const std::string& path, rar::Reader& reader) {
    if (!reader.openFile(path.c_str())) {
        fprintf(stderr, "holdfast-pack: %s: %s\n", path.c_str(), reader.error().c_str());
        return false;
    }
    return true;
}

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
        printf("%s\t%llu\t%llu\t%s\t%08X\t%s\n", e.name.c_str(),
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
        fprintf(stderr, "holdfast-pack: no member %s in %s\n", a.positional[1].c_str(),
                a.positional[0].c_str());
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
            fprintf(stderr, "holdfast-pack: %s: %s\n", reader.entries()[index].name.c_str(), error.c_str());
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

} // namespace

int main(int argc, char** argv) {
    tool::answerHelpAndVersion(argc, argv, kTool);
    if (argc < 2) return usage();
    Args a;
    if (!parseArgs(argc, argv, a)) return usage();
    std::string command = argv[1];
    if (command == "create") return create(a);
    if (command == "list") return list(a);
    if (command == "extract") return extract(a);
    if (command == "test") return test(a);
    if (command == "bench") return bench(a);
    return usage();
}
