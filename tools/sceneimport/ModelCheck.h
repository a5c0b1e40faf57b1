// Checks on a model file made before assimp reads it. assimp's readers recurse along the JSON
// nesting and the node hierarchy and trust a binary container's declared lengths, so a small
// hostile file could overflow the stack or ask for gigabytes; these checks read the file as a
// stream, without recursion, and give a reason that names the line and column or the limit.
// (A scanner of our own: the JSON library Debian ships, rapidjson 1.1, does pointer arithmetic on
// a null stack that the sanitizer builds stop on.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sceneimport {

// Deeper JSON than any glTF needs (its own structure is under ten levels; extras get the rest).
constexpr size_t kMaxJsonDepth = 256;
// Nodes nested deeper than this in a model are refused before reading.
constexpr size_t kMaxNodeDepth = 1000;
// Braces nested deeper than this in an ASCII FBX file (real files use under ten).
constexpr size_t kMaxFbxDepth = 256;

enum class ModelKind { Other, GltfText, GltfBinary, FbxText };

// The kind as far as the checks care: the content decides for binary glTF, the name's ending
// for the text formats.
ModelKind modelKind(const std::string& name, const uint8_t* head, size_t headSize);

// "" when the model file may go to assimp, else the reason it may not.
std::string checkModelFile(const std::string& path);

// The same checks on a model held in memory; `name` gives the ending.
std::string checkModelBytes(const std::string& name, const uint8_t* data, size_t size);

} // namespace sceneimport
