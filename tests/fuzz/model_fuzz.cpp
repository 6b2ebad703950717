// Fuzzes the model: arbitrary parameter values (NaN, infinities and
// denormals included), lens stages and display sizes, then the set-up, every
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
    if (input.ConsumeBool()) {
        // A lens stage, on an image small enough that its tables stay cheap.
        p.imageWidth = input.ConsumeIntegralInRange<int>(-4, 200);
        p.imageHeight = input.ConsumeIntegralInRange<int>(-4, 200);
        quarvel::LensStage& lens = p.lens;
        lens.form = input.ConsumeBool() ? quarvel::LensStage::Form::Polynomial : quarvel::LensStage::Form::Fisheye;
        lens.centerX = AnyFloat(input);
        lens.centerY = AnyFloat(input);
        lens.focal = AnyFloat(input);
        for (double& k : lens.k) {
            k = AnyFloat(input);
        }
        for (double& t : lens.p) {
            t = AnyFloat(input);
        }
        for (double& h : lens.homography.val) {
            h = input.ConsumeBool() ? AnyFloat(input) : input.ConsumeIntegralInRange<int>(-2, 2);
        }
        if (input.ConsumeBool()) {
            // A residual grid, its counts sometimes not matching its points.
            lens.gridColumns = input.ConsumeIntegralInRange<int>(0, 8);
            lens.gridRows = input.ConsumeIntegralInRange<int>(0, 8);
            lens.grid.resize(input.ConsumeIntegralInRange<std::size_t>(0, 64));
            for (cv::Point2d& g : lens.grid) {
                g = cv::Point2d(AnyFloat(input), AnyFloat(input));
            }
        }
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
