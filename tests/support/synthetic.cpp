#include "support/synthetic.h"

#include <cmath>
#include <cstdio>
#include <random>

#include <opencv2/imgproc.hpp>

namespace quarvel::test {

CalibrationParams Truth(double magnification) {
    CalibrationParams p;
    p.imageWidth = 1280;
    p.imageHeight = 720;
    if (magnification > 1.0) {
        const double s = 640.0 * 640.0 + 360.0 * 360.0;
        p.focalZ = static_cast<float>(std::sqrt(s / (1.0 - 1.0 / magnification)));
    }
    // The corrected image (about 1280 m x 720 m, shrunk to the display)
    // stretched onto the display with a mild keystone.
    const double fill = magnification > 1.0 ? 1.0 / magnification : 1.0;
    p.matrix = cv::Matx33f(static_cast<float>(1.45 * fill), 0.03f, 30.0f, -0.01f, static_cast<float>(1.44 * fill), 20.0f,
                           static_cast<float>(2e-5 * fill), static_cast<float>(3e-5 * fill), 1.0f);
    p.displayWidth = 1920;
    p.displayHeight = 1080;
    return p;
}

CalibrationParams TruthFor(double magnification, cv::Size camera, cv::Size display, double keystone, double view,
                           bool mirrored) {
    CalibrationParams p;
    p.imageWidth = camera.width;
    p.imageHeight = camera.height;
    p.displayWidth = display.width;
    p.displayHeight = display.height;
    if (magnification > 1.0) {
        const double halfDiagonal2 = 0.25 * (static_cast<double>(camera.width) * camera.width +
                                             static_cast<double>(camera.height) * camera.height);
        p.focalZ = static_cast<float>(std::sqrt(halfDiagonal2 / (1.0 - 1.0 / magnification)));
    }
    // The corrected image's corners onto a keystoned quadrilateral over the
    // display: the top edge narrower by `keystone` of the width.
    const Geometry g = SetUpBarrel(camera.width, camera.height, p.focalZ, display);
    const double w = display.width;
    const double h = display.height;
    const cv::Point2f from[4] = {{0, 0}, {static_cast<float>(g.outWidth), 0},
                                 {static_cast<float>(g.outWidth), static_cast<float>(g.outHeight)},
                                 {0, static_cast<float>(g.outHeight)}};
    const cv::Point2f to[4] = {{static_cast<float>(w * (0.04 + keystone / 2)), static_cast<float>(h * 0.05)},
                               {static_cast<float>(w * (0.97 - keystone / 2)), static_cast<float>(h * 0.03)},
                               {static_cast<float>(w * 0.96), static_cast<float>(h * 0.96)},
                               {static_cast<float>(w * 0.03), static_cast<float>(h * 0.95)}};
    cv::Mat m = cv::getPerspectiveTransform(from, to);
    const cv::Mat scaled = (cv::Mat_<double>(3, 3) << view, 0, (1 - view) * (w - 1) / 2, 0, view,
                            (1 - view) * (h - 1) / 2, 0, 0, 1);
    m = scaled * m;
    if (mirrored) {
        m = (cv::Mat_<double>(3, 3) << -1, 0, w - 1, 0, 1, 0, 0, 0, 1) * m;
    }
    const double a22 = m.at<double>(2, 2);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            p.matrix(i, j) = static_cast<float>(m.at<double>(i, j) / a22);
        }
    }
    return p;
}

std::vector<PointPair> Pairs(const Model& truth, int cols, int rows, double noise, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> jitter(0.0, noise > 0 ? noise : 1.0);
    std::vector<PointPair> pairs;
    for (const cv::Point2d& target : TargetGrid(cols, rows, truth.display())) {
        cv::Point2d camera = truth.InvertPoint(target);
        if (noise > 0) {
            camera += cv::Point2d(jitter(random), jitter(random));
        }
        pairs.push_back({camera, target});
    }
    return pairs;
}

std::string PairsText(const std::vector<PointPair>& pairs) {
    std::string text = "# x y X Y\n";
    for (const PointPair& p : pairs) {
        char line[128];
        std::snprintf(line, sizeof line, "%.4f %.4f %.0f %.0f\n", p.camera.x, p.camera.y, p.display.x, p.display.y);
        text += line;
    }
    return text;
}

double HeldOutRms(const Model& truth, const Model& fitted, bool insideDisplay) {
    const int width = truth.params().imageWidth;
    const int height = truth.params().imageHeight;
    double sum = 0;
    int n = 0;
    for (int y = 0; y <= height; y += std::max(1, height / 18)) {
        for (int x = 0; x <= width; x += std::max(1, width / 32)) {
            const cv::Point2d a = truth.CorrectPointSubpixel(cv::Point2d(x, y));
            if (insideDisplay && !(a.x >= 0 && a.y >= 0 && a.x <= truth.display().width - 1 &&
                                   a.y <= truth.display().height - 1)) {
                continue;
            }
            const cv::Point2d b = fitted.CorrectPointSubpixel(cv::Point2d(x, y));
            sum += (a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y);
            ++n;
        }
    }
    return n > 0 ? std::sqrt(sum / n) : 0.0;
}

}  // namespace quarvel::test
