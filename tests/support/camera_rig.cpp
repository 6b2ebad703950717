#include "support/camera_rig.h"

#include <cmath>
#include <deque>
#include <memory>

#include <opencv2/imgproc.hpp>

namespace quarvel::test {

CameraRig::CameraRig(const Model& truth, const RigOptions& options)
    : CameraRig(cv::Size(truth.params().imageWidth, truth.params().imageHeight), truth.display(),
                [truth](const cv::Point2d& p) { return truth.CorrectPointSubpixel(p); }, options) {}

CameraRig::CameraRig(cv::Size camera, cv::Size display, const Mapping& cameraToDisplay, const RigOptions& options)
    : camera_(camera), display_(display), options_(options), random_(options.seed) {
    const int s = std::max(1, options.supersample);
    const int width = camera.width;
    const int height = camera.height;
    // Sample (i, j) of camera pixel (x, y) sits at x + (i + 0.5) / s - 0.5:
    // the pixel's footprint is [x - 0.5, x + 0.5].
    mapX_.create(height * s, width * s, CV_32FC1);
    mapY_.create(height * s, width * s, CV_32FC1);
    for (int y = 0; y < height * s; ++y) {
        float* mx = mapX_.ptr<float>(y);
        float* my = mapY_.ptr<float>(y);
        for (int x = 0; x < width * s; ++x) {
            const cv::Point2d d = cameraToDisplay(cv::Point2d((x + 0.5) / s - 0.5, (y + 0.5) / s - 0.5));
            const bool finite = std::isfinite(d.x) && std::isfinite(d.y);
            mx[x] = finite ? static_cast<float>(d.x) : -1e6f;
            my[x] = finite ? static_cast<float>(d.y) : -1e6f;
        }
    }
    // Vignetting falls with the squared distance from the image centre;
    // the person is a dark body with a head.
    shading_.create(height, width, CV_32FC1);
    const double cx = (width - 1) / 2.0;
    const double cy = (height - 1) / 2.0;
    const double r2max = cx * cx + cy * cy;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double r2 = ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / r2max;
            shading_.at<float>(y, x) = static_cast<float>(1.0 - options.vignetting * r2);
        }
    }
    if (options.occluderWidth > 0) {
        const double bodyWidth = options.occluderWidth * width;
        const double left = options.occluderAt * width - bodyWidth / 2;
        const double headRadius = bodyWidth * 0.3;
        const double shoulders = height * 0.45;
        cv::Mat person(height, width, CV_8UC1, cv::Scalar(0));
        cv::rectangle(person, cv::Point(static_cast<int>(left), static_cast<int>(shoulders)),
                      cv::Point(static_cast<int>(left + bodyWidth), height), cv::Scalar(255), cv::FILLED);
        cv::circle(person, cv::Point(static_cast<int>(left + bodyWidth / 2), static_cast<int>(shoulders - headRadius)),
                   static_cast<int>(headRadius), cv::Scalar(255), cv::FILLED);
        shading_.setTo(0.0f, person);
    }
}

cv::Mat CameraRig::Luminance(const cv::Mat& picture) {
    for (const auto& [shown, luminance] : seen_) {
        if (shown.size() == picture.size() && cv::norm(shown, picture, cv::NORM_INF) == 0.0) {
            return luminance;
        }
    }
    // The projector's light for each display pixel.
    cv::Mat table(1, 256, CV_32FC1);
    for (int v = 0; v < 256; ++v) {
        table.at<float>(v) =
            static_cast<float>(options_.blackLevel + (1 - options_.blackLevel) * std::pow(v / 255.0, options_.gamma));
    }
    cv::Mat light;
    cv::LUT(picture, table, light);
    // Sampled where the truth maps each sample, averaged over the pixel.
    cv::Mat samples;
    cv::remap(light, samples, mapX_, mapY_, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(options_.wall));
    cv::Mat luminance;
    cv::resize(samples, luminance, camera_, 0, 0,
               cv::INTER_AREA);
    seen_.emplace_back(picture.clone(), luminance);
    return luminance;
}

cv::Mat CameraRig::See(const cv::Mat& picture, double gain) {
    cv::Mat light = Luminance(picture) + options_.ambient;
    light = light.mul(shading_) * (255.0 * options_.exposure * gain);
    if (options_.blurSigma > 0) {
        cv::GaussianBlur(light, light, cv::Size(), options_.blurSigma);
    }
    cv::Mat noise(light.size(), CV_32FC1);
    random_.fill(noise, cv::RNG::NORMAL, 0.0, options_.noiseSigma);
    light += noise;
    cv::Mat frame;
    light.convertTo(frame, CV_8UC1);  // rounds and saturates
    return frame;
}

std::function<cv::Mat(const cv::Mat&)> CameraRig::Capture(int lag, int settleFrames, int maxFrames) {
    struct State {
        std::deque<cv::Mat> shown;
        cv::Mat last;
        int sinceChange = 0;
        int calls = 0;
    };
    auto state = std::make_shared<State>();
    const cv::Mat black =
        cv::Mat::zeros(display_.height, display_.width, CV_8UC1);
    return [this, state, lag, settleFrames, maxFrames, black](const cv::Mat& picture) -> cv::Mat {
        if (++state->calls > maxFrames) {
            return cv::Mat();
        }
        state->shown.push_back(picture.clone());
        while (static_cast<int>(state->shown.size()) > lag + 1) {
            state->shown.pop_front();
        }
        const cv::Mat& seen = static_cast<int>(state->shown.size()) > lag ? state->shown.front() : black;
        if (state->last.empty() || state->last.size() != seen.size() || cv::norm(state->last, seen, cv::NORM_INF) != 0) {
            state->last = seen.clone();
            state->sinceChange = 0;
        }
        const double gain =
            settleFrames > 0 ? 0.5 + 0.5 * std::min(1.0, static_cast<double>(state->sinceChange) / settleFrames) : 1.0;
        ++state->sinceChange;
        return See(seen, gain);
    };
}

}  // namespace quarvel::test
