// Fuzzes the model: arbitrary parameter values (NaN, infinities and
// denormals included) and display sizes, then the set-up, every
// correction, the inverse, the batch against the one-by-one chain, and
// the diagnosis.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <quarvel/model.h>

namespace {

float AnyFloat(FuzzedDataProvider& input) {
    const std::uint32_t bits = input.ConsumeIntegral<std::uint32_t>();
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    quarvel::CalibrationParams p;
    p.imageWidth = input.ConsumeIntegral<int>();
    p.imageHeight = input.ConsumeIntegral<int>();
    p.focalZ = AnyFloat(input);
    for (float& m : p.matrix.val) {
        m = input.ConsumeBool() ? AnyFloat(input) : static_cast<float>(input.ConsumeIntegralInRange<int>(-4, 4));
    }
    const cv::Size display(input.ConsumeIntegral<int>(), input.ConsumeIntegral<int>());
    const quarvel::Model model(p, display);
    // A later set-up that keeps this one's geometry, as a reload does.
    const quarvel::Geometry next =
        quarvel::SetUpBarrel(input.ConsumeIntegral<int>(), input.ConsumeIntegral<int>(), AnyFloat(input), display,
                             model.geometry());
    const quarvel::Model kept(p, display, next);

    std::vector<cv::Point> points(input.ConsumeIntegralInRange<std::size_t>(0, 40));
    for (cv::Point& q : points) {
        q = cv::Point(input.ConsumeIntegral<int>(), input.ConsumeIntegral<int>());
    }
    for (const quarvel::Model* m : {&model, &kept}) {
        std::vector<cv::Point> batch(points.size());
        m->CorrectPoints(points.data(), batch.data(), points.size());
        for (std::size_t i = 0; i < points.size(); ++i) {
            if (batch[i] != m->CorrectPoint(points[i])) {
                std::abort();  // the batch must be the chain, bit for bit
            }
            const cv::Point2d sub(points[i].x + AnyFloat(input), points[i].y + 0.5);
            (void)m->InvertPoint(m->CorrectPointSubpixel(sub));
        }
        std::vector<cv::Point2f> floats(points.begin(), points.end());
        cv::Mat out;
        (void)m->CorrectPoints(floats, out);
        (void)m->InvertPoints(floats, out);
        (void)quarvel::Diagnose(*m);
    }
    return 0;
}
