#include "resources/Texture.h"

#include "base/Report.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

namespace {
TextureManager::LoadCheck loadCheck = nullptr;
TextureManager::LoadFailure loadFailure = nullptr;
bool keepImages = true;

int roundUpPowerOfTwo(int value, int start) {
    int rounded = start;
    while (rounded < value && rounded < (1 << 30))
        rounded *= 2;
    return rounded;
}
} // namespace

Texture::~Texture() {
    freeImage(image);
}

void Texture::bind() {
    glBindTexture(target == GL_DEPTH_COMPONENT ? GL_TEXTURE_2D : target, id);
}

void Texture::setFilter(GLint minFilter, GLint magFilter) {
    bind();
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, minFilter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, magFilter);
}

bool Texture::loadFromFile(const char* name, const char* directory) {
    sourcePath = std::string(directory ? directory : "") + (name ? name : "");
    image = ImageLibrary::instance().loadImage(name, directory ? directory : "");
    if (!image) return false;
    if (target == GL_TEXTURE_2D) {
        // The upload squares and mipmaps the picture; a size the driver can't hold would only cost
        // memory and time before failing.
        GLint maxSize = 0;
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
        const int side = roundUpPowerOfTwo(static_cast<int>(std::max(image->width, image->height)), 1);
        if (maxSize > 0 && side > maxSize) {
            reportErrorText(__FILE__, __LINE__, "Image too large for a texture",
                            report::format("%s%s (%u x %u, texture limit %d)", directory ? directory : "",
                                           name, image->width, image->height, maxSize)
                                .c_str(),
                            false);
            freeImage(image);
            image = nullptr;
            return false;
        }
        generateTexture2D();
    } else
        reportError(__FILE__, __LINE__, "generateTexture1D is not implemented", false);
    return true;
}

bool Texture::reloadFromFile() {
    if (sourcePath.empty() || target != GL_TEXTURE_2D || id == 0) return false;
    Texture fresh(target, internalFormat);
    fresh.id = id; // uploaded into this texture's GL object
    if (!fresh.loadFromFile(sourcePath.c_str(), "")) return false;
    std::swap(image, fresh.image); // the old image goes with `fresh`
    width = fresh.width;
    height = fresh.height;
    imageWidth = fresh.imageWidth;
    imageHeight = fresh.imageHeight;
    if (alphaMask) applyAlphaMask(alphaMask);
    return true;
}

void Texture::dropImage() {
    if (sourcePath.empty() || target != GL_TEXTURE_2D || id == 0) return;
    freeImage(image);
    image = nullptr;
}

bool Texture::decodeAgain() {
    if (sourcePath.empty() || target != GL_TEXTURE_2D || id == 0) return false;
    ImageData* decoded = ImageLibrary::instance().loadImage(sourcePath.c_str(), "");
    if (!decoded) return false;
    if (static_cast<int>(decoded->width) != imageWidth || static_cast<int>(decoded->height) != imageHeight) {
        freeImage(decoded);
        return false;
    }
    if (decoded->width != static_cast<uint32_t>(width) || decoded->height != static_cast<uint32_t>(height))
        ImageLibrary::instance().scaleImage(static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                                            decoded);
    if (decoded->bitsPerPixel != 32) ImageLibrary::instance().convertTo32Bit(decoded, sourcePath.c_str());
    image = decoded;
    return true;
}

void Texture::applyAlphaMask(Texture* mask) {
    alphaMask = mask;
    const bool baseDecoded = !image && decodeAgain();
    const bool maskDecoded = mask && !mask->image && mask->decodeAgain();
    ImageData* base = image;
    ImageData* source = mask ? mask->image : nullptr;
    if (base && source && base->data && source->data && base->width == source->width &&
        base->height == source->height)
        writeAlphaFrom(*base, *source);
    if (baseDecoded) dropImage();
    if (maskDecoded) mask->dropImage();
}

void Texture::writeAlphaFrom(ImageData& base, const ImageData& source) {
    const size_t baseStep = base.bitsPerPixel / 8;
    const size_t maskStep = source.bitsPerPixel / 8;
    // Only images with an alpha byte to write and three colour bytes to read.
    if (baseStep != 4 || maskStep < 3) return;
    const size_t pixels = static_cast<size_t>(base.width) * base.height;
    for (size_t i = 0; i < pixels; ++i) {
        const unsigned char* m = source.data + i * maskStep;
        base.data[i * baseStep + 3] = static_cast<unsigned char>((m[0] + m[1] + m[2]) / 3);
    }
    glBindTexture(GL_TEXTURE_2D, id);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    gluBuild2DMipmaps(GL_TEXTURE_2D, 4, static_cast<GLint>(base.width), static_cast<GLint>(base.height),
                      GL_RGBA, GL_UNSIGNED_BYTE, base.data);
}

void Texture::generateTexture2D() {
    if (!image) return;
    imageWidth = static_cast<int>(image->width);
    imageHeight = static_cast<int>(image->height);

    int w = roundUpPowerOfTwo(imageWidth, 1);
    int h = roundUpPowerOfTwo(imageHeight, 1);
    if (h < w) h = w; // wide images get a square texture
    if (w != imageWidth || h != imageHeight)
        ImageLibrary::instance().scaleImage(static_cast<uint32_t>(w), static_cast<uint32_t>(h), image);
    width = w;
    height = h;

    if (id == 0) glGenTextures(1, &id); // a reload reuses the object
    glBindTexture(GL_TEXTURE_2D, id);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);

    if (image->bitsPerPixel != 32) ImageLibrary::instance().convertTo32Bit(image, sourcePath.c_str());

    glPixelStorei(GL_UNPACK_ALIGNMENT, 4); // 4-byte texels: rows are always aligned
    gluBuild2DMipmaps(GL_TEXTURE_2D, 4, width, height, GL_RGBA, GL_UNSIGNED_BYTE, image->data);
    checkGLError(__FILE__, __LINE__);
}

void Texture::createEmpty2D(int w, int h) {
    image = nullptr;
    const int roundedWidth = roundUpPowerOfTwo(w, 8);
    const int roundedHeight = roundUpPowerOfTwo(h, 8);
    if (roundedWidth > 1024 || roundedHeight > 1024) {
        reportError(__FILE__, __LINE__, "Texture: dimensions too large", true);
        return;
    }
    std::vector<unsigned char> texels(static_cast<size_t>(roundedWidth) * roundedHeight * 4, 0);
    if (w != roundedWidth || h != roundedHeight) {
        // Marks the requested region, so a caller can tell it from the padding.
        for (int row = 0; row < h; ++row)
            memset(&texels[static_cast<size_t>(row) * roundedWidth * 4], 127,
                   static_cast<size_t>(w > 0 ? w : 0) * 4);
    }
    glGenTextures(1, &id);
    glBindTexture(GL_TEXTURE_2D, id);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(internalFormat), roundedWidth, roundedHeight, 0,
                 GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    width = roundedWidth;
    height = roundedHeight;
}

void Texture::createDepth(int size) {
    width = height = size;
    glGenTextures(1, &id);
    glBindTexture(GL_TEXTURE_2D, id);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT, size, size, 0, GL_DEPTH_COMPONENT, GL_UNSIGNED_BYTE,
                 nullptr);
    checkGLError(__FILE__, __LINE__);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

void Texture::createCubeMap(int size) {
    width = height = size;
    glEnable(GL_TEXTURE_CUBE_MAP);
    glGenTextures(1, &id);
    glBindTexture(GL_TEXTURE_CUBE_MAP, id);
    std::vector<unsigned char> texels(static_cast<size_t>(size > 0 ? size : 0) * (size > 0 ? size : 0) * 4,
                                      0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    for (int face = 0; face < 6; ++face)
        glTexImage2D(GL_TEXTURE_CUBE_MAP_POSITIVE_X + face, 0, GL_RGBA, size, size, 0, GL_RGBA,
                     GL_UNSIGNED_BYTE, texels.data());
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_WRAP_R, GL_CLAMP_TO_EDGE);
    glDisable(GL_TEXTURE_CUBE_MAP);
}

// ---- registry ----------------------------------------------------------------------------

TextureManager& TextureManager::instance() {
    // Never destroyed: textures stay valid for everything that runs until exit.
    static TextureManager* manager = new TextureManager;
    return *manager;
}

Texture* TextureManager::loadTexture(const std::string& name, const std::string& directory, GLenum target) {
    if (marking) askedSinceMark.insert(name);
    auto found = entries.find(name);
    if (found != entries.end()) {
        ++found->second->useCount;
        if (found->second->object) return found->second->object;
    }
    if (name.empty()) return nullptr;
    if (loadCheck && !loadCheck(name, directory)) {
        registerTexture(name, nullptr);
        return nullptr;
    }

    // A fatal report during the upload (the driver out of memory) leaves nothing half made behind
    // for a tool that goes on after it.
    struct Unfinished {
        Texture* texture;
        ~Unfinished() {
            if (!texture) return;
            if (texture->id != 0) glDeleteTextures(1, &texture->id);
            delete texture;
        }
    } loading{new Texture(target, GL_RGBA)};
    Texture* texture = nullptr;
    if (!loading.texture->loadFromFile(name.c_str(), directory.c_str())) {
        if (loadFailure) loadFailure(name, directory);
    } else {
        texture = std::exchange(loading.texture, nullptr);
        if (!keepImages) texture->dropImage();
    }
    registerTexture(name, texture);
    return texture;
}

bool TextureManager::keepDecodedImages(bool keep) {
    const bool previous = keepImages;
    keepImages = keep;
    return previous;
}

TextureManager::LoadFailure TextureManager::setLoadFailure(LoadFailure observer) {
    LoadFailure previous = loadFailure;
    loadFailure = observer;
    return previous;
}

TextureManager::LoadCheck TextureManager::setLoadCheck(LoadCheck check) {
    LoadCheck previous = loadCheck;
    loadCheck = check;
    return previous;
}

Texture* TextureManager::createTexture(const std::string& name, int width, int height, GLenum target,
                                       GLenum internalFormat) {
    auto found = entries.find(name);
    if (found != entries.end()) {
        ++found->second->useCount;
        if (found->second->object) return found->second->object;
    }

    checkGLError(__FILE__, __LINE__);
    Texture* texture = nullptr;
    switch (target) {
    case GL_TEXTURE_2D:
        texture = new Texture(target, internalFormat);
        texture->createEmpty2D(width, height);
        break;
    case GL_TEXTURE_CUBE_MAP:
        texture = new Texture(target, internalFormat);
        texture->createCubeMap(width);
        break;
    case GL_DEPTH_COMPONENT:
        texture = new Texture(target, internalFormat);
        texture->createDepth(width);
        break;
    default:
        break;
    }
    checkGLError(__FILE__, __LINE__);
    registerTexture(name, texture);
    return texture;
}

int TextureManager::registerTexture(const std::string& name, Texture* texture) {
    if (!texture) return 1;
    auto found = entries.find(name);
    if (found == entries.end()) {
        entries[name] = new Entry{texture, 1};
        return 0;
    }
    if (found->second->object != texture) return 1;
    ++found->second->useCount;
    return 0;
}

std::vector<Texture*> TextureManager::fileTextures() const {
    std::vector<Texture*> textures;
    for (const auto& item : entries) {
        Texture* texture = item.second->object;
        if (texture && !texture->sourcePath.empty() && texture->target == GL_TEXTURE_2D)
            textures.push_back(texture);
    }
    return textures;
}

void TextureManager::dropImages() {
    for (auto& item : entries)
        if (item.second->object) item.second->object->dropImage();
}

std::vector<std::string> TextureManager::preload(const std::vector<std::string>& names) {
    std::vector<std::string> missing;
    std::set<std::string> tried;
    // Loading binds the new texture.
    glPushAttrib(GL_TEXTURE_BIT);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    for (const std::string& name : names)
        if (!name.empty() && tried.insert(name).second && !loadTexture(name, "", GL_TEXTURE_2D))
            missing.push_back(name);
    glPopClientAttrib();
    glPopAttrib();
    return missing;
}

void PreloadedPictures::preload(const std::vector<std::string>& names) {
    missed.clear();
    for (const std::string& name : TextureManager::instance().preload(names))
        missed.insert(name);
}

Texture* PreloadedPictures::load(const std::string& name) {
    if (missed.count(name)) return nullptr;
    return TextureManager::instance().loadTexture(name, "", GL_TEXTURE_2D);
}

bool TextureManager::releaseIfUnshared(const std::string& name) {
    auto found = entries.find(name);
    if (found == entries.end() || found->second->useCount > 1) return false;
    if (Texture* texture = found->second->object) {
        if (texture->id != 0) glDeleteTextures(1, &texture->id);
        delete texture;
    }
    delete found->second;
    entries.erase(found);
    return true;
}

void TextureManager::markFileTextures() {
    marked.clear();
    askedSinceMark.clear();
    for (const auto& item : entries) {
        const Texture* texture = item.second->object;
        if (texture && !texture->sourcePath.empty() && texture->target == GL_TEXTURE_2D)
            marked.insert(item.first);
    }
    marking = true;
}

size_t TextureManager::releaseMarkedNotAskedFor() {
    size_t released = 0;
    for (const std::string& name : marked)
        if (!askedSinceMark.count(name) && entries.count(name)) {
            releaseFileTexture(name);
            ++released;
        }
    marking = false;
    marked.clear();
    askedSinceMark.clear();
    return released;
}

size_t TextureManager::releaseUnmarked() {
    std::vector<std::string> loaded;
    for (const auto& item : entries) {
        const Texture* texture = item.second->object;
        if (texture && !texture->sourcePath.empty() && texture->target == GL_TEXTURE_2D &&
            !marked.count(item.first))
            loaded.push_back(item.first);
    }
    for (const std::string& name : loaded)
        releaseFileTexture(name);
    marking = false;
    marked.clear();
    askedSinceMark.clear();
    return loaded.size();
}

void TextureManager::releaseFileTexture(const std::string& name) {
    auto found = entries.find(name);
    if (found == entries.end()) return;
    Texture* texture = found->second->object;
    if (texture) {
        // A picture kept may have taken its alpha from this one: it keeps the alpha it has.
        for (auto& item : entries)
            if (item.second->object && item.second->object->alphaMask == texture)
                item.second->object->alphaMask = nullptr;
        if (texture->id != 0) glDeleteTextures(1, &texture->id);
        delete texture;
    }
    delete found->second;
    entries.erase(found);
}

void TextureManager::releaseAll() {
    for (auto& item : entries) {
        delete item.second->object; // frees its image too
        delete item.second;
    }
    entries.clear();
}
