#include "support/ir_camera.h"

#include <algorithm>
#include <cmath>

#include "support/synthetic.h"

namespace quarvel::test {

Model TouchTruth(cv::Size camera) {
    const cv::Size display(1920, 1080);
    return Model(TruthFor(1.15, camera, display, 0.03, 1.3), display);
}

IrCamera::IrCamera(const Model& truth, const IrOptions& options)
    : truth_(truth), options_(options), random_(options.seed) {
    const int width = truth.params().imageWidth;
    const int height = truth.params().imageHeight;
    diameter_ = options.fingerDiameter > 0 ? options.fingerDiameter : 8.0 * width / 640.0;
    // The illuminator lights the surface unevenly: brighter to the right
    // and the bottom. The hot spot sits in the upper right.
    surface_.create(height, width, CV_32FC1);
    drift_.create(height, width, CV_32FC1);
    const double hx = 0.72 * width, hy = 0.28 * height, hs = 0.02 * width;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double r2 = ((x - hx) * (x - hx) + (y - hy) * (y - hy)) / (hs * hs);
            surface_.at<float>(y, x) = static_cast<float>(35.0 + 30.0 * x / width + 15.0 * y / height +
                                                          options.hotSpotLevel * std::exp(-0.5 * r2));
            drift_.at<float>(y, x) = static_cast<float>(0.5 + static_cast<double>(x) / width);
        }
    }
}

cv::Point2d IrCamera::CameraOf(const cv::Point2d& display) const { return truth_.InvertPoint(display); }

cv::Mat IrCamera::Render(int frame, const std::vector<ScriptedTouch>& script) {
    std::vector<cv::Point2d> fingers;
    for (const ScriptedTouch& t : script) {
        if (t.Down(frame)) {
            fingers.push_back(CameraOf(t.at(frame)));
        }
    }
    return RenderAt(frame, fingers);
}

cv::Mat IrCamera::RenderAt(int frame, const std::vector<cv::Point2d>& fingers) {
    const double swing = options_.ambientDrift * std::sin(2.0 * M_PI * frame / options_.ambientPeriod);
    cv::Mat light = surface_ + drift_ * swing;
    // A finger is a disc with a soft edge a pixel wide, averaged over 4 x 4
    // samples per pixel.
    const double radius = diameter_ / 2.0;
    const int reach = static_cast<int>(std::ceil(radius + 3.0));
    for (const cv::Point2d& c : fingers) {
        if (!std::isfinite(c.x) || !std::isfinite(c.y)) {
            continue;
        }
        const int x0 = std::max(0, static_cast<int>(std::floor(c.x)) - reach);
        const int x1 = std::min(light.cols - 1, static_cast<int>(std::floor(c.x)) + reach + 1);
        const int y0 = std::max(0, static_cast<int>(std::floor(c.y)) - reach);
        const int y1 = std::min(light.rows - 1, static_cast<int>(std::floor(c.y)) + reach + 1);
        for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) {
                double sum = 0.0;
                for (int j = 0; j < 4; ++j) {
                    for (int i = 0; i < 4; ++i) {
                        const double dx = x + (i + 0.5) / 4.0 - 0.5 - c.x;
                        const double dy = y + (j + 0.5) / 4.0 - 0.5 - c.y;
                        sum += 0.5 * (1.0 - std::tanh(std::sqrt(dx * dx + dy * dy) - radius));
                    }
                }
                light.at<float>(y, x) += static_cast<float>(options_.fingerLevel * sum / 16.0);
            }
        }
    }
    cv::Mat noise(light.size(), CV_32FC1);
    random_.fill(noise, cv::RNG::NORMAL, 0.0, options_.noiseSigma);
    light += noise;
    cv::Mat frame8;
    light.convertTo(frame8, CV_8U);
    return frame8;
}

}  // namespace quarvel::test
