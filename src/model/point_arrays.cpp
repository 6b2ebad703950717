// The chain and its inverse over OpenCV point arrays.

#include "model/chain.h"

namespace quarvel::detail {
namespace {

// A one-row or one-column two-channel array (what std::vector<cv::Point*>
// gives) of one of `types`; its point count, or -1.
int PointCount(const cv::Mat& m, std::initializer_list<int> types) {
    bool typeOk = false;
    for (const int t : types) {
        typeOk = typeOk || m.type() == t;
    }
    if (!typeOk || m.dims != 2 || (m.rows != 1 && m.cols != 1)) {
        return -1;
    }
    return static_cast<int>(m.total());
}

// Reads point i of a CV_32SC2, CV_32FC2 or CV_64FC2 array as doubles.
cv::Point2d PointAt(const cv::Mat& m, int i) {
    const int r = m.rows == 1 ? 0 : i;
    const int c = m.rows == 1 ? i : 0;
    switch (m.type()) {
        case CV_32SC2: { const cv::Point& p = m.at<cv::Point>(r, c); return cv::Point2d(p.x, p.y); }
        case CV_32FC2: { const cv::Point2f& p = m.at<cv::Point2f>(r, c); return cv::Point2d(p.x, p.y); }
        default: return m.at<cv::Point2d>(r, c);
    }
}

template <typename Map>
bool MapToDouble(const cv::Mat& in, cv::OutputArray out, Map map) {
    // Read everything before `out` is (re)created: it may be the input.
    cv::Mat result(in.rows, in.cols, CV_64FC2);
    const int n = static_cast<int>(in.total());
    for (int i = 0; i < n; ++i) {
        result.at<cv::Point2d>(in.rows == 1 ? 0 : i, in.rows == 1 ? i : 0) = map(PointAt(in, i));
    }
    out.create(in.rows, in.cols, CV_64FC2);
    result.copyTo(out);
    return true;
}

void Clear(cv::OutputArray out) noexcept {
    try {
        if (!out.empty() || out.needed()) {
            out.release();
        }
    } catch (...) {
    }
}

}  // namespace

bool CorrectArray(const Chain& chain, cv::InputArray points, cv::OutputArray corrected) {
    try {
        const cv::Mat in = points.getMat();
        if (in.empty()) {
            Clear(corrected);  // no points, no results
            return true;
        }
        const int n = PointCount(in, {CV_32SC2, CV_32FC2, CV_64FC2});
        if (n < 0) {
            Clear(corrected);
            return false;
        }
        if (in.type() == CV_32SC2) {
            cv::Mat source = in.isContinuous() ? in : in.clone();
            cv::Mat result(in.rows, in.cols, CV_32SC2);
            static_assert(sizeof(CvPoint) == sizeof(cv::Point), "CvPoint and cv::Point share a layout");
            CorrectPixels(chain, reinterpret_cast<const CvPoint*>(source.ptr()),
                          reinterpret_cast<CvPoint*>(result.ptr()), static_cast<std::size_t>(n));
            corrected.create(in.rows, in.cols, CV_32SC2);
            result.copyTo(corrected);
            return true;
        }
        return MapToDouble(in, corrected, [&chain](const cv::Point2d& p) { return CorrectSubpixel(chain, p); });
    } catch (...) {
        Clear(corrected);
        return false;
    }
}

bool InvertArray(const Chain& chain, cv::InputArray display, cv::OutputArray camera) {
    try {
        const cv::Mat in = display.getMat();
        if (in.empty()) {
            Clear(camera);
            return true;
        }
        if (PointCount(in, {CV_32SC2, CV_32FC2, CV_64FC2}) < 0) {
            Clear(camera);
            return false;
        }
        return MapToDouble(in, camera, [&chain](const cv::Point2d& p) { return Invert(chain, p); });
    } catch (...) {
        Clear(camera);
        return false;
    }
}

}  // namespace quarvel::detail
