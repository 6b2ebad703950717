// Fuzzes a whole load followed by corrections and a preview: the input
// chooses the display size, the points and a small grey image; the rest of
// it is the parameter file.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <quarvel/quarvel.h>

#include "memory_file.h"
#include "platform/display_size.h"

namespace {

quarvel::detail::DisplaySize g_display{1680, 1050};
quarvel::detail::DisplaySize ChosenDisplay() { return g_display; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // No X server: the display size comes from the input, previews are
    // painted without a window.
    unsetenv("DISPLAY");
    quarvel::detail::SetDisplaySizeSource(&ChosenDisplay);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    g_display.width = input.ConsumeIntegralInRange<int>(1, 8192);
    g_display.height = input.ConsumeIntegralInRange<int>(1, 8192);
    std::vector<CvPoint> points(input.ConsumeIntegralInRange<std::size_t>(0, 16));
    for (CvPoint& p : points) {
        p = cvPoint(input.ConsumeIntegral<int>(), input.ConsumeIntegral<int>());
    }
    const int width = input.ConsumeIntegralInRange<int>(0, 24);
    const int height = input.ConsumeIntegralInRange<int>(0, 24);
    std::vector<std::uint8_t> pixels = input.ConsumeBytes<std::uint8_t>(static_cast<std::size_t>(width * height));
    pixels.resize(static_cast<std::size_t>(width * height));

    const MemoryFile file(input.ConsumeRemainingBytesAsString());
    Quarvel q;
    if (!q.ReadIniParam(file.path())) {
        return 0;
    }
    for (const CvPoint& p : points) {
        (void)q.CorrectPoint(p);
    }
    if (width > 0 && height > 0) {
        q.TestBarrelCorrect(cv::Mat(height, width, CV_8UC1, pixels.data()));
    } else {
        q.TestBarrelCorrect(static_cast<const IplImage*>(nullptr));
    }
    const Quarvel copy(q);
    (void)copy.CorrectPoint(cvPoint(width, height));
    return 0;
}
