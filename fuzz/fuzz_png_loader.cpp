// PNG loading as the texture registry drives it: the data-file layer reads the file, libpng
// decodes it through our read callback, the size checks and the row set-up are ours.
#include "FuzzImage.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    (void)unattended;
    useImage(ImageLibrary::instance().loadPNG(fuzzInputPath(data, size)));
    return 0;
}
