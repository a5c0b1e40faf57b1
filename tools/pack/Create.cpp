#include "pack/PackCommands.h"

#include "archive/RarArchive.h"
#include "archive/RarWriter.h"
#include "common/Printable.h"
#include "platform/RegularFile.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>

namespace fs = std::filesystem;

namespace pack {

namespace {

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

} // namespace

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
                        tool::printable(it->path().string()).c_str());
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

} // namespace pack
