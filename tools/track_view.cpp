#include "track_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <opencv2/imgproc.hpp>

#include "drawing.h"

namespace quarvel::cli {
namespace {

const cv::Scalar kOutline(80, 200, 80);
const cv::Scalar kDown(60, 220, 255);
const cv::Scalar kMove(255, 190, 60);
const cv::Scalar kText(255, 255, 255);


}  // namespace

cv::Mat DrawTracking(const cv::Mat& frame, const std::vector<Contact>& contacts, const Model& calibration,
                     long long number, double fps) {
    cv::Mat picture = ColourCopy(frame);
    // The display's edges through the calibration's inverse.
    const std::vector<cv::Point> outline = MappedBorder(
        calibration.display(), [&calibration](const cv::Point2d& d) { return calibration.InvertPoint(d); }, 32);
    if (outline.size() > 1) {
        cv::polylines(picture, outline, true, kOutline, 1, cv::LINE_AA);
    }
    const double scale = std::max(0.4, picture.cols / 1600.0);
    for (const Contact& c : contacts) {
        if (c.state == ContactState::Up) {
            continue;
        }
        const cv::Point at = Pixel(c.camera());
        const int radius = static_cast<int>(std::sqrt(std::max(c.area, 1.0) / M_PI)) + 4;
        const cv::Scalar colour = c.state == ContactState::Down ? kDown : kMove;
        cv::circle(picture, at, radius, colour, 1, cv::LINE_AA);
        char label[96];
        std::snprintf(label, sizeof label, "%lld  (%.1f, %.1f)", c.id, c.x, c.y);
        cv::putText(picture, label, at + cv::Point(radius + 3, 4), cv::FONT_HERSHEY_SIMPLEX, scale, colour, 1,
                    cv::LINE_AA);
    }
    const auto down = std::count_if(contacts.begin(), contacts.end(),
                                    [](const Contact& c) { return c.state != ContactState::Up; });
    char header[96];
    std::snprintf(header, sizeof header, "frame %lld, %ld contacts, %.0f fps", number, static_cast<long>(down), fps);
    cv::putText(picture, header, cv::Point(8, static_cast<int>(20 * scale / 0.4)), cv::FONT_HERSHEY_SIMPLEX, scale,
                kText, 1, cv::LINE_AA);
    return picture;
}

}  // namespace quarvel::cli
