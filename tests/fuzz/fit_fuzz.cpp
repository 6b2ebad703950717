// Fuzzes the fit: up to ten arbitrary pairs (NaN and infinities included)
// for arbitrary image and display sizes. It must never crash or hang, and
// never return non-finite parameters with ok set. The barrel search (the
// fit's costly part) runs for one input in 64, chosen by the whole
// input's hash, so that the target stays fast.

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <quarvel/calibration.h>

#include "fuzz_support.h"

namespace {

double AnyCoordinate(FuzzedDataProvider& input) {
    switch (input.ConsumeIntegralInRange<int>(0, 7)) {
        case 0: {
            const std::uint64_t bits = input.ConsumeIntegral<std::uint64_t>();
            double v;
            std::memcpy(&v, &bits, sizeof v);
            return v;
        }
        case 1: return input.ConsumeFloatingPoint<double>();
        default: return input.ConsumeIntegralInRange<int>(-4000, 4000) / 2.0;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    quarvel::FitOptions options;
    options.imageWidth = input.ConsumeIntegralInRange<int>(-1, 4096);
    options.imageHeight = input.ConsumeIntegralInRange<int>(-1, 4096);
    options.displayWidth = input.ConsumeIntegralInRange<int>(-1, 4096);
    options.displayHeight = input.ConsumeIntegralInRange<int>(-1, 4096);
    options.outlierPixels = input.ConsumeFloatingPoint<double>();
    options.barrel = InputHash(data, size) % 64 == 0;
    std::vector<quarvel::PointPair> pairs(input.ConsumeIntegralInRange<std::size_t>(0, 10));
    for (quarvel::PointPair& p : pairs) {
        p.camera = cv::Point2d(AnyCoordinate(input), AnyCoordinate(input));
        p.display = cv::Point2d(AnyCoordinate(input), AnyCoordinate(input));
    }
    const quarvel::FitResult fit = quarvel::FitCalibration(pairs, options);
    if (fit.ok) {
        bool finite = std::isfinite(fit.params.focalZ) && std::isfinite(fit.rms);
        for (const float m : fit.params.matrix.val) {
            finite = finite && std::isfinite(m);
        }
        if (!finite || fit.pairs.size() != pairs.size()) {
            std::abort();
        }
    }
    return 0;
}
