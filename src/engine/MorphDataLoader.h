// Attaches a mesh's morph data ("data/scenes/morphdata_<mesh name>.pmd") read through the
// data-file layer; the file must hold frames of exactly the mesh's vertex count.
#pragma once

class MeshObject;

enum class MorphLoad {
    Attached,
    Missing,  // no such file: the caller decides whether that matters
    NoFrames, // a file of zero frames: the mesh does not morph (and keeps its buffer objects)
    Broken,   // reported with the reason; the mesh keeps what it had
};

// A file that cannot be right (fewer than 4 bytes, a negative frame count, a size that is not
// whole frames of the mesh's vertices, more than MaxMorphBytes of frames, a mesh name that
// leads out of the demo) is Broken, reported fatally when `brokenIsFatal`. Its size is checked
// before it is read.
MorphLoad loadMorphData(MeshObject& mesh, bool brokenIsFatal = false);
