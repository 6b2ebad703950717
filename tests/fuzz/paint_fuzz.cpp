// Fuzzes painting: arbitrary calibrations over small images of arbitrary
// layout (strided views included), painted directly every time; through
// a Preview's cache (forward, then filled) for one input in 256,
// chosen by the input's hash, since each cache builds a canvas-sized map.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <quarvel/preview.h>

#include "fuzz_support.h"

#include "preview/canvas.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    quarvel::CalibrationParams p;
    p.imageWidth = input.ConsumeIntegralInRange<int>(-4, 64);
    p.imageHeight = input.ConsumeIntegralInRange<int>(-4, 64);
    p.focalZ = input.ConsumeFloatingPoint<float>();
    for (float& m : p.matrix.val) {
        m = input.ConsumeBool() ? input.ConsumeFloatingPoint<float>()
                                : static_cast<float>(input.ConsumeIntegralInRange<int>(-3, 3));
    }
    const quarvel::Model model(p, cv::Size(input.ConsumeIntegralInRange<int>(-1, 4096),
                                           input.ConsumeIntegralInRange<int>(-1, 4096)));
    const int cols = input.ConsumeIntegralInRange<int>(1, 24);
    const int rows = input.ConsumeIntegralInRange<int>(1, 24);
    const int pad = input.ConsumeIntegralInRange<int>(0, 7);
    std::vector<std::uint8_t> pixels = input.ConsumeRemainingBytes<std::uint8_t>();
    pixels.resize(static_cast<std::size_t>((cols + pad) * rows));
    const cv::Mat source(rows, cols, CV_8UC1, pixels.data(), static_cast<std::size_t>(cols + pad));

    static cv::Mat direct;  // one canvas for every input: only painting is fuzzed, not the page allocator
    quarvel::detail::PaintCanvas(model, source, direct);
    if (InputHash(data, size) % 256 == 0) {
        const quarvel::Preview preview(model);
        const cv::Mat cached = preview.Render(source);
        if (cached.size() != direct.size() || cv::norm(cached, direct, cv::NORM_INF) != 0.0) {
            std::abort();  // the cache paints what direct painting paints
        }
        (void)preview.RenderFilled(source);
    }
    return 0;
}
