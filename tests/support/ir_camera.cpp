#include "support/ir_camera.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgcodecs.hpp>

#include "support/synthetic.h"

namespace quarvel::test {

Model TouchTruth(cv::Size camera) {
    const cv::Size display(1920, 1080);
    return Model(TruthFor(1.15, camera, display, 0.03, 1.3), display);
}

IrCamera::IrCamera(const Model& truth, const IrOptions& options, IrScene scene)
    : truth_(truth), options_(options), scene_(std::move(scene)), random_(options.seed) {
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
    if (options.surroundShare != 1.0) {
        Surround(options.surroundShare);
    }
}

void IrCamera::Surround(double share) {
    const cv::Size display = truth_.display();
    for (int y = 0; y < surface_.rows; ++y) {
        for (int x = 0; x < surface_.cols; ++x) {
            int inside = 0;  // of 2 x 2 samples of the pixel: a soft edge
            for (const double dy : {-0.25, 0.25}) {
                for (const double dx : {-0.25, 0.25}) {
                    const cv::Point2d d = truth_.CorrectPointSubpixel(cv::Point2d(x + dx, y + dy));
                    inside += d.x >= 0 && d.y >= 0 && d.x < display.width && d.y < display.height ? 1 : 0;
                }
            }
            surface_.at<float>(y, x) *= static_cast<float>(share + (1.0 - share) * inside / 4.0);
        }
    }
}

cv::Point2d IrCamera::CameraOf(const cv::Point2d& display) const { return truth_.InvertPoint(display); }
cv::Point2d IrCamera::DisplayOf(const cv::Point2d& camera) const { return truth_.CorrectPointSubpixel(camera); }

int IrCamera::Shown(int frame) const {
    const bool again = std::find(scene_.repeated.begin(), scene_.repeated.end(), frame) != scene_.repeated.end();
    return again ? frame - 1 : frame;
}

cv::Mat IrCamera::Render(int frame, const std::vector<ScriptedTouch>& script) {
    // With the shutter open for part of the frame interval (centred on the
    // frame's time), a moving finger is drawn along that stretch of its path.
    const int steps = options_.motionBlur > 0.0 ? 5 : 1;
    std::vector<std::vector<cv::Point2d>> fingers;
    for (const ScriptedTouch& t : script) {
        if (!t.Down(frame)) {
            continue;
        }
        // (At a finger's first and last frames its path runs on as it came.)
        const cv::Point2d now = CameraOf(t.at(frame));
        const bool hasBefore = t.Down(frame - 1);
        const bool hasAfter = t.Down(frame + 1);
        const cv::Point2d before = hasBefore ? CameraOf(t.at(frame - 1))
                                   : hasAfter ? now * 2.0 - CameraOf(t.at(frame + 1)) : now;
        const cv::Point2d after = hasAfter ? CameraOf(t.at(frame + 1)) : now * 2.0 - before;
        std::vector<cv::Point2d> path;
        for (int k = 0; k < steps; ++k) {
            const double s = steps > 1 ? options_.motionBlur * (k / (steps - 1.0) - 0.5) : 0.0;
            path.push_back(s < 0 ? now + (now - before) * s : now + (after - now) * s);
        }
        fingers.push_back(path);
    }
    return Compose(frame, fingers);
}

cv::Mat IrCamera::RenderAt(int frame, const std::vector<cv::Point2d>& fingers) {
    std::vector<std::vector<cv::Point2d>> paths;
    for (const cv::Point2d& f : fingers) {
        paths.push_back({f});
    }
    return Compose(frame, paths);
}

void IrCamera::Disc(cv::Mat& light, const cv::Point2d& c, double radius, double level) const {
    if (!std::isfinite(c.x) || !std::isfinite(c.y)) {
        return;
    }
    const int reach = static_cast<int>(std::ceil(radius + 3.0));
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
            light.at<float>(y, x) += static_cast<float>(level * sum / 16.0);
        }
    }
}

void IrCamera::Gaussian(cv::Mat& light, const cv::Point2d& c, double sigma, double level) const {
    if (!std::isfinite(c.x) || !std::isfinite(c.y)) {
        return;
    }
    const int reach = static_cast<int>(std::ceil(4.0 * sigma));
    const int x0 = std::max(0, static_cast<int>(std::floor(c.x)) - reach);
    const int x1 = std::min(light.cols - 1, static_cast<int>(std::floor(c.x)) + reach + 1);
    const int y0 = std::max(0, static_cast<int>(std::floor(c.y)) - reach);
    const int y1 = std::min(light.rows - 1, static_cast<int>(std::floor(c.y)) + reach + 1);
    const double k = -0.5 / (sigma * sigma);
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            double sum = 0.0;
            for (int j = 0; j < 4; ++j) {
                for (int i = 0; i < 4; ++i) {
                    const double dx = x + (i + 0.5) / 4.0 - 0.5 - c.x;
                    const double dy = y + (j + 0.5) / 4.0 - 0.5 - c.y;
                    sum += std::exp(k * (dx * dx + dy * dy));
                }
            }
            light.at<float>(y, x) += static_cast<float>(level * sum / 16.0);
        }
    }
}

void IrCamera::Palm(cv::Mat& light, const IrScene::Palm& palm, int frame) const {
    if (frame < palm.from || frame > palm.to) {
        return;
    }
    // An ellipse of ten fingers' area, 1.6 times as long as wide, pressed
    // on as a finger is but a little less bright, its edge soft over two
    // pixels; it fades in and out.
    const double fade = std::min({1.0, (frame - palm.from + 1.0) / std::max(1, palm.fade),
                                  (palm.to - frame + 1.0) / std::max(1, palm.fade)});
    const double b = diameter_ * std::sqrt(2.5 / 1.6);
    const double a = 1.6 * b;
    const double level = 0.9 * options_.fingerLevel * fade;
    const int x0 = std::max(0, static_cast<int>(palm.at.x - a - 6));
    const int x1 = std::min(light.cols - 1, static_cast<int>(palm.at.x + a + 6));
    const int y0 = std::max(0, static_cast<int>(palm.at.y - b - 6));
    const int y1 = std::min(light.rows - 1, static_cast<int>(palm.at.y + b + 6));
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const double r = std::hypot((x - palm.at.x) / a, (y - palm.at.y) / b);
            light.at<float>(y, x) += static_cast<float>(level * 0.5 * (1.0 - std::tanh((r - 1.0) * b / 2.0)));
        }
    }
}

cv::Mat IrCamera::Compose(int frame, const std::vector<std::vector<cv::Point2d>>& fingers) {
    if (std::find(scene_.repeated.begin(), scene_.repeated.end(), frame) != scene_.repeated.end() && !last_.empty()) {
        return last_.clone();
    }
    const bool black = std::find(scene_.lost.begin(), scene_.lost.end(), frame) != scene_.lost.end();
    cv::Mat light;
    if (black) {
        light = cv::Mat::zeros(surface_.size(), CV_32FC1);
    } else {
        const double swing = options_.ambientDrift * std::sin(2.0 * M_PI * frame / options_.ambientPeriod);
        light = surface_ + drift_ * swing;
        if (scene_.flicker > 0.0) {
            light *= 1.0 + scene_.flicker * std::sin(2.0 * M_PI * 100.0 / 30.0 * frame);
        }
        for (const IrScene::Lamp& lamp : scene_.lamps) {
            if (frame < lamp.from) {
                continue;
            }
            const cv::Rect2d& r = lamp.area;
            for (int y = 0; y < light.rows; ++y) {
                const double fy = 0.5 * (std::tanh((y - r.y) / 4.0) - std::tanh((y - r.y - r.height) / 4.0));
                if (fy < 1e-4) {
                    continue;
                }
                float* row = light.ptr<float>(y);
                for (int x = 0; x < light.cols; ++x) {
                    const double fx = 0.5 * (std::tanh((x - r.x) / 4.0) - std::tanh((x - r.x - r.width) / 4.0));
                    row[x] += static_cast<float>(lamp.level * fx * fy);
                }
            }
        }
        for (const IrScene::Palm& palm : scene_.palms) {
            Palm(light, palm, frame);
        }
        for (const IrScene::Glint& glint : scene_.glints) {
            if (frame >= glint.from) {
                Disc(light, glint.at, 0.5 * diameter_, options_.fingerLevel);
            }
        }
        for (const std::vector<cv::Point2d>& path : fingers) {
            for (const cv::Point2d& at : path) {
                const double level = options_.fingerLevel / static_cast<double>(path.size());
                if (options_.fingerSigma > 0.0) {
                    Gaussian(light, at, options_.fingerSigma, level);
                } else {
                    Disc(light, at, diameter_ / 2.0, level);
                }
            }
        }
        for (const IrScene::Specks& s : scene_.specks) {
            if (frame < s.from || frame > s.to) {
                continue;
            }
            for (int k = 0; k < s.count; ++k) {
                const int x = random_.uniform(0, light.cols - s.size + 1);
                const int y = random_.uniform(0, light.rows - s.size + 1);
                light(cv::Rect(x, y, s.size, s.size)) += cv::Scalar(options_.fingerLevel);
            }
        }
        if (scene_.exposure) {
            light *= scene_.exposure(frame);
        }
    }
    if (options_.gamma != 1.0) {
        cv::max(light, 0.0, light);
        cv::pow(light * (1.0 / 255.0), 1.0 / options_.gamma, light);
        light *= 255.0;
    }
    light += cv::Scalar(options_.blackLevel);
    cv::Mat noise(light.size(), CV_32FC1);
    random_.fill(noise, cv::RNG::NORMAL, 0.0, options_.noiseSigma);
    light += noise;
    cv::Mat frame8;
    light.convertTo(frame8, CV_8U);
    if (options_.jpegQuality > 0) {
        std::vector<unsigned char> bytes;
        cv::imencode(".jpg", frame8, bytes, {cv::IMWRITE_JPEG_QUALITY, options_.jpegQuality});
        frame8 = cv::imdecode(bytes, cv::IMREAD_GRAYSCALE);
    }
    last_ = frame8;
    return frame8;
}

}  // namespace quarvel::test
