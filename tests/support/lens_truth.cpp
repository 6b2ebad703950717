#include "support/lens_truth.h"

#include <cmath>
#include <limits>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

namespace quarvel::test {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Lens Polynomial(const char* name, double focal, double k1, double k2, double k3, double p1, double p2,
                cv::Point2d offset) {
    Lens l;
    l.name = name;
    l.focal = focal;
    l.k1 = k1;
    l.k2 = k2;
    l.k3 = k3;
    l.p1 = p1;
    l.p2 = p2;
    l.principalOffset = offset;
    return l;
}

cv::Point2d Apply(const cv::Matx33d& h, const cv::Point2d& p) {
    const double w = h(2, 0) * p.x + h(2, 1) * p.y + h(2, 2);
    return cv::Point2d((h(0, 0) * p.x + h(0, 1) * p.y + h(0, 2)) / w, (h(1, 0) * p.x + h(1, 1) * p.y + h(1, 2)) / w);
}

// Catmull-Rom weights for a sample at fraction t between nodes 1 and 2.
void CubicWeights(double t, double w[4]) {
    const double t2 = t * t;
    const double t3 = t2 * t;
    w[0] = 0.5 * (-t3 + 2 * t2 - t);
    w[1] = 0.5 * (3 * t3 - 5 * t2 + 2);
    w[2] = 0.5 * (-3 * t3 + 4 * t2 + t);
    w[3] = 0.5 * (t3 - t2);
}

}  // namespace

Lens WebcamLens() { return Polynomial("webcam k1 -0.10 k2 +0.05", 0.62, -0.10, 0.05, 0, 0, 0, {0.004, -0.003}); }
Lens MixedSignsLens() { return Polynomial("mixed k1 +0.08 k2 -0.20", 0.8, 0.08, -0.20, 0, 0, 0, {-0.005, 0.004}); }
Lens OffCentreLens() { return Polynomial("off-centre k1 -0.20", 0.75, -0.20, 0, 0, 0, 0, {0.012, 0.008}); }
Lens TangentialLens() {
    return Polynomial("tangential p 2e-3", 0.7, -0.10, 0.03, 0, 2e-3, -2e-3, {0.004, 0.003});
}
Lens WideLens() { return Polynomial("wide k1 -0.30 k2 +0.10", 0.55, -0.30, 0.10, 0, 0, 0, {0.006, 0.004}); }
Lens WiderLens() {
    return Polynomial("wider k1 -0.35 k2 +0.15 p 1e-3", 0.47, -0.35, 0.15, 0.02, 1e-3, 1e-3, {0.006, -0.006});
}
Lens FisheyeLens() {
    Lens l;
    l.name = "fisheye";
    l.family = Lens::Family::Fisheye;
    l.focal = 0.5;
    l.f1 = 0.05;
    l.f2 = -0.02;
    l.f3 = 0.01;
    l.principalOffset = {0.005, 0.004};
    return l;
}
Lens IrregularLens() {
    Lens l = WebcamLens();
    l.name = "webcam with a 0.25 px irregularity";
    l.irregularity = 0.25;
    return l;
}

struct LensTruth::Grid {
    int step = 2;
    int columns = 0;
    int rows = 0;
    cv::Point2d origin;           // camera position of node (0, 0)
    std::vector<cv::Point2d> at;  // display positions, row by row
};

LensTruth::LensTruth(const Lens& lens, cv::Size camera, cv::Size display, double view, double keystone,
                     bool mirrored)
    : lens_(lens), camera_(camera), display_(display) {
    const double f = lens.focal * camera.width;
    const double cx = (camera.width - 1) / 2.0 + lens.principalOffset.x * camera.width;
    const double cy = (camera.height - 1) / 2.0 + lens.principalOffset.y * camera.width;
    cameraMatrix_ = cv::Matx33d(f, 0, cx, 0, f, cy, 0, 0, 1);
    // Where the display's corners are seen: a keystoned quadrilateral
    // filling `view` of the image about its centre.
    const double w = camera.width - 1;
    const double h = camera.height - 1;
    const cv::Point2d centre(w / 2, h / 2);
    const cv::Point2d seen[4] = {{w * keystone / 2, 0.02 * h}, {w * (1 - keystone / 2), 0}, {w, h}, {0, h * 0.99}};
    std::vector<cv::Point2d> cameraCorners;
    for (const cv::Point2d& s : seen) {
        cameraCorners.push_back(centre + (s - centre) * view);
    }
    // Their ideal (undistorted, normalised) positions, by Newton's method.
    displayToIdeal_ = cv::Matx33d::eye();
    idealToDisplay_ = cv::Matx33d::eye();
    std::vector<cv::Point2d> ideal;
    {
        // DisplayOf with the identity between ideal and display coordinates
        // gives the ideal positions.
        ideal = DisplayOf(cameraCorners);
    }
    std::vector<cv::Point2f> from;
    std::vector<cv::Point2f> to;
    const double dw = display.width - 0.5;
    const double dh = display.height - 0.5;
    const cv::Point2d displayCorners[4] = {{-0.5, -0.5}, {dw, -0.5}, {dw, dh}, {-0.5, dh}};
    for (int i = 0; i < 4; ++i) {
        cv::Point2d d = displayCorners[i];
        if (mirrored) {
            d.x = display.width - 1 - d.x;
        }
        from.emplace_back(static_cast<float>(d.x), static_cast<float>(d.y));
        to.emplace_back(static_cast<float>(ideal[static_cast<std::size_t>(i)].x),
                        static_cast<float>(ideal[static_cast<std::size_t>(i)].y));
    }
    displayToIdeal_ = cv::Matx33d(cv::getPerspectiveTransform(from, to));
    idealToDisplay_ = displayToIdeal_.inv();

    // The rig's grid: every other camera pixel, and a margin of two nodes.
    auto grid = std::make_shared<Grid>();
    grid->origin = cv::Point2d(-2.0 * grid->step - 0.5, -2.0 * grid->step - 0.5);
    grid->columns = camera.width / grid->step + 6;
    grid->rows = camera.height / grid->step + 6;
    std::vector<cv::Point2d> nodes;
    nodes.reserve(static_cast<std::size_t>(grid->columns) * grid->rows);
    for (int r = 0; r < grid->rows; ++r) {
        for (int c = 0; c < grid->columns; ++c) {
            nodes.push_back(grid->origin + cv::Point2d(c * grid->step, r * grid->step));
        }
    }
    grid->at = DisplayOf(nodes);
    grid_ = std::move(grid);
}

std::vector<cv::Point2d> LensTruth::Project(const std::vector<cv::Point2d>& ideal) const {
    std::vector<cv::Point3d> points;
    points.reserve(ideal.size());
    for (const cv::Point2d& p : ideal) {
        points.emplace_back(p.x, p.y, 1.0);
    }
    std::vector<cv::Point2d> pixels;
    if (points.empty()) {
        return pixels;
    }
    const cv::Mat k(cameraMatrix_);
    if (lens_.family == Lens::Family::Fisheye) {
        cv::fisheye::projectPoints(points, pixels, cv::Vec3d(0, 0, 0), cv::Vec3d(0, 0, 0), k,
                                   cv::Vec4d(lens_.f1, lens_.f2, lens_.f3, lens_.f4));
    } else {
        cv::projectPoints(points, cv::Vec3d(0, 0, 0), cv::Vec3d(0, 0, 0), k,
                          cv::Mat(std::vector<double>{lens_.k1, lens_.k2, lens_.p1, lens_.p2, lens_.k3}), pixels);
    }
    if (lens_.irregularity > 0) {
        // A smooth ripple over the image that no closed form holds: two
        // crossing waves of a few periods across the frame.
        const double w = camera_.width;
        const double h = camera_.height;
        for (cv::Point2d& p : pixels) {
            const double u = p.x / w;
            const double v = p.y / h;
            p.x += lens_.irregularity * std::sin(2 * CV_PI * (1.3 * u + 0.4 * v) + 0.7);
            p.y += lens_.irregularity * std::cos(2 * CV_PI * (0.5 * u - 1.1 * v) + 0.2);
        }
    }
    return pixels;
}

std::vector<cv::Point2d> LensTruth::CameraOf(const std::vector<cv::Point2d>& display) const {
    std::vector<cv::Point2d> ideal;
    ideal.reserve(display.size());
    for (const cv::Point2d& d : display) {
        ideal.push_back(Apply(displayToIdeal_, d));
    }
    return Project(ideal);
}

std::vector<cv::Point2d> LensTruth::DisplayOf(const std::vector<cv::Point2d>& camera) const {
    // Newton's method on the projection, all points at once, the Jacobian
    // by central differences; started from the pinhole's position.
    const double f = cameraMatrix_(0, 0);
    std::vector<cv::Point2d> x;
    x.reserve(camera.size());
    for (const cv::Point2d& c : camera) {
        x.emplace_back((c.x - cameraMatrix_(0, 2)) / f, (c.y - cameraMatrix_(1, 2)) / f);
    }
    const double h = 1e-6;
    std::vector<cv::Point2d> shifted(x.size());
    for (int iteration = 0; iteration < 40; ++iteration) {
        const std::vector<cv::Point2d> at = Project(x);
        for (std::size_t i = 0; i < x.size(); ++i) {
            shifted[i] = x[i] + cv::Point2d(h, 0);
        }
        const std::vector<cv::Point2d> right = Project(shifted);
        for (std::size_t i = 0; i < x.size(); ++i) {
            shifted[i] = x[i] - cv::Point2d(h, 0);
        }
        const std::vector<cv::Point2d> left = Project(shifted);
        for (std::size_t i = 0; i < x.size(); ++i) {
            shifted[i] = x[i] + cv::Point2d(0, h);
        }
        const std::vector<cv::Point2d> down = Project(shifted);
        for (std::size_t i = 0; i < x.size(); ++i) {
            shifted[i] = x[i] - cv::Point2d(0, h);
        }
        const std::vector<cv::Point2d> up = Project(shifted);
        double largest = 0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            const cv::Point2d jx = (right[i] - left[i]) / (2 * h);
            const cv::Point2d jy = (down[i] - up[i]) / (2 * h);
            const cv::Point2d e = at[i] - camera[i];
            const double det = jx.x * jy.y - jy.x * jx.y;
            const cv::Point2d step((jy.y * e.x - jy.x * e.y) / det, (-jx.y * e.x + jx.x * e.y) / det);
            // Damped where a step would leave the lens's sensible range.
            const double length = std::hypot(step.x, step.y);
            x[i] -= length > 0.2 ? step * (0.2 / length) : step;
            largest = std::max(largest, std::hypot(e.x, e.y));
        }
        if (largest < 1e-10) {
            break;
        }
    }
    const std::vector<cv::Point2d> check = Project(x);
    std::vector<cv::Point2d> display;
    display.reserve(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        const bool converged = std::hypot(check[i].x - camera[i].x, check[i].y - camera[i].y) < 1e-7;
        display.push_back(converged ? Apply(idealToDisplay_, x[i]) : cv::Point2d(kNaN, kNaN));
    }
    return display;
}

std::function<cv::Point2d(const cv::Point2d&)> LensTruth::Mapping() const {
    const std::shared_ptr<const Grid> grid = grid_;
    return [grid](const cv::Point2d& p) {
        const double gx = (p.x - grid->origin.x) / grid->step;
        const double gy = (p.y - grid->origin.y) / grid->step;
        const int ix = static_cast<int>(std::floor(gx));
        const int iy = static_cast<int>(std::floor(gy));
        if (ix < 1 || iy < 1 || ix + 2 >= grid->columns || iy + 2 >= grid->rows) {
            return cv::Point2d(kNaN, kNaN);
        }
        double wx[4];
        double wy[4];
        CubicWeights(gx - ix, wx);
        CubicWeights(gy - iy, wy);
        cv::Point2d sum(0, 0);
        for (int j = 0; j < 4; ++j) {
            for (int i = 0; i < 4; ++i) {
                sum += grid->at[static_cast<std::size_t>((iy - 1 + j) * grid->columns + ix - 1 + i)] * (wx[i] * wy[j]);
            }
        }
        return sum;
    };
}

HeldOut HeldOutError(const LensTruth& truth, const std::function<cv::Point2d(const cv::Point2d&)>& corrected,
                     double inset) {
    std::vector<cv::Point2d> grid;
    const cv::Size camera = truth.camera();
    for (int r = 0; r <= 60; ++r) {
        for (int c = 0; c <= 100; ++c) {
            grid.emplace_back((camera.width - 1) * c / 100.0, (camera.height - 1) * r / 60.0);
        }
    }
    const std::vector<cv::Point2d> exact = truth.DisplayOf(grid);
    const cv::Size display = truth.display();
    HeldOut out;
    double sum = 0;
    for (std::size_t i = 0; i < grid.size(); ++i) {
        const cv::Point2d& d = exact[i];
        if (!(d.x >= inset * display.width && d.x <= (1 - inset) * display.width && d.y >= inset * display.height &&
              d.y <= (1 - inset) * display.height)) {
            continue;
        }
        const cv::Point2d c = corrected(grid[i]);
        const double e = std::hypot(c.x - d.x, c.y - d.y);
        const double counted = std::isfinite(e) ? e : 1e9;
        sum += counted * counted;
        out.max = std::max(out.max, counted);
        ++out.points;
    }
    out.rms = out.points > 0 ? std::sqrt(sum / out.points) : 0.0;
    return out;
}

}  // namespace quarvel::test
