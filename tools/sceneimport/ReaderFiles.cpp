#include "sceneimport/ReaderFiles.h"

#include "sceneimport/ModelCheck.h"

#include <assimp/IOStream.hpp>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace sceneimport {

namespace {

// An OBJ file read with the 'o' that starts a line as 'g' (ModelFacts).
class ObjectsAsGroups : public Assimp::IOStream {
  public:
    explicit ObjectsAsGroups(Assimp::IOStream* file) : file_(file) {}

    size_t Read(void* buffer, size_t size, size_t count) override {
        const size_t from = file_->Tell();
        const size_t items = file_->Read(buffer, size, count);
        const size_t bytes = std::min(file_->Tell() - from, size * count);
        readObjectsAsGroups(static_cast<char*>(buffer), bytes, lineStart_);
        return items;
    }
    size_t Write(const void*, size_t, size_t) override { return 0; }
    aiReturn Seek(size_t offset, aiOrigin origin) override {
        const aiReturn result = file_->Seek(offset, origin);
        if (result != aiReturn_SUCCESS) return result;
        // Whether the next byte starts a line: the byte before it says.
        const size_t at = file_->Tell();
        lineStart_ = true;
        if (at > 0 && file_->Seek(at - 1, aiOrigin_SET) == aiReturn_SUCCESS) {
            char before = '\n';
            file_->Read(&before, 1, 1);
            lineStart_ = objLineEnd(before);
        }
        return result;
    }
    size_t Tell() const override { return file_->Tell(); }
    size_t FileSize() const override { return file_->FileSize(); }
    void Flush() override {}

  private:
    std::unique_ptr<Assimp::IOStream> file_;
    bool lineStart_ = true;
};

} // namespace

ConfinedIO::ConfinedIO(const std::string& model, bool allowOutside, bool objectsAsGroups)
    : fromDisk_(true), folder_(canonical(directoryOf(model))), allowOutside_(allowOutside),
      objectsAsGroups_(objectsAsGroups) {
    fileId(model, model_);
}

Assimp::IOStream* ConfinedIO::Open(const char* file, const char* mode) {
    // The readers only read.
    if (!fromDisk_ || std::strpbrk(mode, "wa+")) return nullptr;
    // The file's real place, links resolved; what does not exist the reader reports itself.
    const std::string real = canonical(file);
    struct stat st;
    if (real.empty() || ::stat(real.c_str(), &st) != 0) return nullptr;
    // A FIFO or a device could block the import or feed it without end.
    if (!S_ISREG(st.st_mode)) {
        if (notRegular.empty()) notRegular = std::string(file) + " is not a regular file";
        return nullptr;
    }
    const FileId id{st.st_dev, st.st_ino};
    const bool model = !(id < model_) && !(model_ < id);
    if (!model && !allowOutside_ && (folder_.empty() || !isInside(real, folder_))) {
        if (outside.empty())
            outside = std::string(file) + " lies outside the model's folder (it is " + real + ")";
        return nullptr;
    }
    opened.insert(id);
    // Opened by its real name, so that the file checked is the file read.
    Assimp::IOStream* stream = DefaultIOSystem::Open(real.c_str(), mode);
    if (stream && model && objectsAsGroups_) return new ObjectsAsGroups(stream);
    return stream;
}

} // namespace sceneimport
