// Fuzzes a whole load followed by corrections: the input chooses the
// display size and the points; the rest of it is the parameter file.
// Painting has a target of its own (paint_fuzz).

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <quarvel/parameter_file.h>
#include <quarvel/quarvel.h>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // No display server: the display size comes from the input.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const int displayWidth = input.ConsumeIntegralInRange<int>(-2, 8192);
    const int displayHeight = input.ConsumeIntegralInRange<int>(-2, 8192);
    std::vector<CvPoint> points(input.ConsumeIntegralInRange<std::size_t>(0, 16));
    for (CvPoint& p : points) {
        p = cvPoint(input.ConsumeIntegral<int>(), input.ConsumeIntegral<int>());
    }
    const MemoryFile file(input.ConsumeRemainingBytesAsString());
    Quarvel q;
    q.SetDisplaySize(displayWidth, displayHeight);
    if (!q.ReadIniParam(file.path())) {
        return 0;
    }
    std::vector<CvPoint> batch(points.size());
    q.CorrectPoints(points.data(), batch.data(), points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        const CvPoint one = q.CorrectPoint(points[i]);
        if (one.x != batch[i].x || one.y != batch[i].y) {
            std::abort();  // the batch must be the chain, bit for bit
        }
        (void)q.InvertPoint(q.CorrectPointSubpixel(cv::Point2d(points[i].x, points[i].y)));
    }
    (void)q.GetLoadReport();
    (void)quarvel::Diagnose(q.GetModel());
    const Quarvel copy(q);
    (void)copy.CorrectPoint(cvPoint(displayWidth, displayHeight));
    // The public reader over the same file agrees with the load.
    const quarvel::ParameterFile read = quarvel::ReadParameterFile(file.path());
    if (!read.read || read.params.imageWidth != q.GetModel().params().imageWidth) {
        std::abort();
    }
    return 0;
}
