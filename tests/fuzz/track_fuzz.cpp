// Fuzzes the touch side: a tracker and a touch calibration fed frames of
// fuzzer-chosen sizes, types and pixels, with fuzzer-chosen options and
// times, and now and then a host that stops. The oracles: ids of new
// contacts rise and are never reused, every contact that lifts was down
// before, nothing is left down after LiftAll, display positions are the
// calibration's.

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <set>

#include <quarvel/touch.h>
#include <quarvel/touch_calibration.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    quarvel::CalibrationParams p;
    p.imageWidth = 48;
    p.imageHeight = 48;
    p.focalZ = input.ConsumeBool() ? 60.0f : 0.0f;
    p.matrix = cv::Matx33f(4, 0, 10, 0, 4, 5, 0, 0, 1);
    const quarvel::Model model(p, cv::Size(200, 200));

    quarvel::TrackerOptions o;
    o.blobs.backgroundFrames = input.ConsumeIntegralInRange(0, 4);
    o.blobs.threshold = input.ConsumeFloatingPoint<double>();
    o.blobs.minArea = input.ConsumeIntegralInRange(-2, 30);
    o.blobs.maxArea = input.ConsumeIntegralInRange(-2, 3000);
    o.blobs.adaptation = input.ConsumeFloatingPointInRange(-0.5, 1.5);
    o.blobs.darkening = input.ConsumeFloatingPointInRange(-0.5, 1.5);
    o.blobs.settleChange = input.ConsumeFloatingPointInRange(-0.1, 0.5);
    o.blobs.fingerDiameter = input.ConsumeFloatingPointInRange(-1.0, 40.0);
    o.blobs.relearnFrames = input.ConsumeIntegralInRange(-1, 4);
    o.blobs.quietFrames = input.ConsumeIntegralInRange(-1, 4);
    o.blobs.maxBlobs = input.ConsumeIntegralInRange(-1, 8);
    o.blobs.stormSpecks = input.ConsumeIntegralInRange(-1, 8);
    o.blobs.followGain = input.ConsumeBool();
    o.maxJump = input.ConsumeFloatingPoint<double>();
    o.confirmNextFrame = input.ConsumeBool();
    o.coastFrames = input.ConsumeIntegralInRange(-1, 3);
    o.absorbSeconds = input.ConsumeFloatingPointInRange(-1.0, 0.5);
    o.absorbPixels = input.ConsumeFloatingPointInRange(-1.0, 2.0);
    quarvel::TouchTracker tracker(model, o);

    quarvel::TouchCalibrationOptions c;
    c.columns = input.ConsumeIntegralInRange(0, 4);
    c.rows = input.ConsumeIntegralInRange(0, 4);
    c.displayWidth = 200;
    c.displayHeight = 200;
    c.blobs = o.blobs;
    c.holdSeconds = input.ConsumeFloatingPointInRange(-1.0, 0.2);
    c.liftWaitSeconds = input.ConsumeFloatingPointInRange(-1.0, 0.5);
    quarvel::TouchCalibration calibration(c);

    std::set<long long> down;
    long long highest = 0;
    cv::Size frameSize(input.ConsumeIntegralInRange(1, 48), input.ConsumeIntegralInRange(1, 48));
    const int frames = input.ConsumeIntegralInRange(1, 12);
    for (int f = 0; f < frames; ++f) {
        if (input.ConsumeIntegralInRange(0, 7) == 0) {
            frameSize = cv::Size(input.ConsumeIntegralInRange(1, 48), input.ConsumeIntegralInRange(1, 48));
        }
        static const int kTypes[] = {CV_8UC1, CV_8UC1, CV_8UC1, CV_8UC3, CV_8UC4, CV_16UC1, CV_32FC1};
        const int type = kTypes[input.ConsumeIntegralInRange(0, 6)];
        cv::Mat frame(frameSize, type, cv::Scalar::all(input.ConsumeIntegral<std::uint8_t>()));
        // A few bright patches, then raw bytes over the first rows.
        for (int b = input.ConsumeIntegralInRange(0, 4); b > 0; --b) {
            const cv::Rect r(input.ConsumeIntegralInRange(0, 47), input.ConsumeIntegralInRange(0, 47),
                             input.ConsumeIntegralInRange(1, 12), input.ConsumeIntegralInRange(1, 12));
            frame(r & cv::Rect(cv::Point(), frameSize)).setTo(cv::Scalar::all(input.ConsumeIntegral<std::uint8_t>()));
        }
        const std::vector<std::uint8_t> bytes = input.ConsumeBytes<std::uint8_t>(
            std::min<std::size_t>(64, frame.total() * frame.elemSize()));
        std::copy(bytes.begin(), bytes.end(), frame.data);

        // Now and then the host stops and lifts everything.
        const bool stop = input.ConsumeIntegralInRange(0, 15) == 0;
        const double seconds = input.ConsumeBool() ? f * 0.1 : NAN;
        for (const quarvel::Contact& contact : stop ? tracker.LiftAll() : tracker.Track(frame, seconds)) {
            const cv::Point2d expected = model.CorrectPointSubpixel(contact.camera());
            const bool same = (expected.x == contact.x || (std::isnan(expected.x) && std::isnan(contact.x))) &&
                              (expected.y == contact.y || (std::isnan(expected.y) && std::isnan(contact.y)));
            if (!same) {
                std::abort();
            }
            switch (contact.state) {
                case quarvel::ContactState::Down:
                    if (contact.id <= highest || !down.insert(contact.id).second) {
                        std::abort();  // a new id must be above every earlier one
                    }
                    highest = contact.id;
                    break;
                case quarvel::ContactState::Move:
                case quarvel::ContactState::Coasting:
                    if (down.count(contact.id) == 0) {
                        std::abort();
                    }
                    break;
                case quarvel::ContactState::Up:
                    if (down.erase(contact.id) == 0) {
                        std::abort();  // only what was down lifts, once
                    }
                    break;
            }
        }
        if (stop && !down.empty()) {
            std::abort();  // nothing is left down
        }
        const quarvel::TouchCalibrationStatus s = calibration.Feed(frame, input.ConsumeBool() ? f * 0.1 : NAN);
        if (s.target < 0 || s.target > static_cast<int>(calibration.targets().size()) ||
            calibration.measurements().size() > calibration.targets().size()) {
            std::abort();
        }
    }
    (void)calibration.Result();
    return 0;
}
