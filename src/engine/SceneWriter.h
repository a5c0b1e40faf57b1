// Writes scene files and morph data from the records of SceneFile.h: the one way our tools and
// tests make scenes.
//
// Typical use (a demo-content generator):
//
//   scenefile::SceneFile scene;              // version 1, frames 0..0, step 1
//   scene.lastFrame = 99; scene.frameStep = 1; // 100 frames
//   scenefile::Material mat; mat.id = 1; mat.name = "stone";
//   mat.textures.push_back({"stone.png", scenefile::DiffuseMap});
//   scene.chunks.push_back(scenefile::MaterialList{{mat}});
//   scenefile::Mesh box = ...;                // header.name/id/materialId, vertices, normals, faces
//   scene.chunks.push_back(box);
//   std::string error;
//   if (!scenefile::writeSceneFile(scene, "out/data/scenes/box.qzg", &error)) ...
//
// The writer refuses what the loader would refuse or mis-handle (see checkScene), and beyond
// that: names holding a zero byte, key tracks of different lengths.
#pragma once

#include "engine/SceneFile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace scenefile {

// Appends the file's bytes to `out`. False (and `out` unchanged) with the reason in `error` when
// the scene cannot be written as a valid file.
bool writeScene(const SceneFile& scene, std::vector<uint8_t>& out, std::string* error = nullptr);
// Writes the file, creating missing parent directories.
bool writeSceneFile(const SceneFile& scene, const std::string& path, std::string* error = nullptr);

// Morph data: positions and normals must each hold frameCount * vertexCount * 3 floats.
bool writeMorphData(const MorphData& morph, std::vector<uint8_t>& out, std::string* error = nullptr);
bool writeMorphDataFile(const MorphData& morph, const std::string& path, std::string* error = nullptr);

// Writes bytes to a file, creating missing parent directories.
bool writeBytesToFile(const std::vector<uint8_t>& bytes, const std::string& path,
                      std::string* error = nullptr);

// Little pieces for building records by hand (tests that need a byte layout the records cannot
// express).
void appendInt32(std::vector<uint8_t>& out, int32_t value);
void appendFloat(std::vector<uint8_t>& out, float value);
void appendString(std::vector<uint8_t>& out, const std::string& text);

} // namespace scenefile
