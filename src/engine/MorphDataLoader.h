// Attaches a mesh's morph data ("data/scenes/morphdata_<mesh name>.pmd") read through the
// data-file layer; the file must hold frames of exactly the mesh's vertex count.
#pragma once

class MeshObject;

enum class MorphLoad {
    Attached,
    Missing, // no such file: the caller decides whether that matters
    Broken,  // reported (non-fatal) with the reason; the mesh keeps what it had
};

MorphLoad loadMorphData(MeshObject& mesh);
