// JPEG loading as the texture registry drives it: the data-file layer reads the file, libjpeg
// decodes it from memory with our error and warning handling, the size checks are ours.
#include "FuzzImage.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    (void)unattended;
    useImage(ImageLibrary::instance().loadJPEG(fuzzInputPath(data, size)));
    return 0;
}
