// Checks on a model file made before assimp reads it. assimp's readers recurse along the JSON
// nesting and the node hierarchy, copy a glTF node for every way it is reached, trust a binary
// container's declared lengths and look every OBJ object up among all before it, so a small
// hostile file could overflow the stack, ask for gigabytes or take hours; these checks read the
// file as a stream, without recursion, and give a reason that names the line and column, the
// node or the limit (the scene's own: 100 000 objects, 256 levels).
// (A scanner of our own: the JSON library Debian ships, rapidjson 1.1, does pointer arithmetic on
// a null stack that the sanitizer builds stop on.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sceneimport {

// Deeper JSON than any glTF needs (its own structure is under ten levels; extras get the rest).
constexpr size_t kMaxJsonDepth = 256;
// Braces nested deeper than this in an ASCII FBX file (real files use under ten).
constexpr size_t kMaxFbxDepth = 256;

enum class ModelKind { Other, GltfText, GltfBinary, FbxText, Obj };

// The kind as far as the checks care: the content decides for binary glTF, the name's ending
// for the text formats.
ModelKind modelKind(const std::string& name, const uint8_t* head, size_t headSize);

// What the checks learn that the reading uses.
struct ModelFacts {
    // An OBJ file whose 'o' statements may be read as 'g' statements: each names a new object
    // in one word at the start of its line, and the file has no 'g' statement and no continued
    // line. assimp's reader makes the same objects of either, but looks each 'o' name up among
    // all objects before it, which takes minutes for many thousands; a 'g' costs a map lookup.
    bool objectsAsGroups = false;
};

// "" when the model file may go to assimp, else the reason it may not.
std::string checkModelFile(const std::string& path, ModelFacts& facts);

// The same checks on a model held in memory; `name` gives the ending.
std::string checkModelBytes(const std::string& name, const uint8_t* data, size_t size, ModelFacts& facts);

// Where assimp's OBJ reader ends a line.
bool objLineEnd(char c);
// Turns the 'o' that starts a line into 'g' in `n` bytes of an OBJ file that ModelFacts allows
// it for; `lineStart` says whether the first byte starts a line and is kept for the next piece.
void readObjectsAsGroups(char* p, size_t n, bool& lineStart);

} // namespace sceneimport
