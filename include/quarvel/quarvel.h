#ifndef QUARVEL_QUARVEL_H
#define QUARVEL_QUARVEL_H

// Quarvel corrects point coordinates for a display calibration: it undoes a
// radial barrel distortion about the source image centre, fits the corrected
// image to the display and maps the result through a 3x3 projective matrix.
// All parameters come from one INI file (see ReadIniParam).

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/types_c.h>

#include <quarvel/display.h>
#include <quarvel/export.h>
#include <quarvel/load_report.h>
#include <quarvel/model.h>
#include <quarvel/version.h>

namespace quarvel::detail {
class CTabrel;
struct FacadeState;
struct Chain;
}  // namespace quarvel::detail

// A point between the class's correction steps, in single precision.
struct FPoint {
    float x;
    float y;
};

class QUARVEL_EXPORT Quarvel {
public:
    // Every parameter zero, an all-zero matrix, no reader and no canvas.
    Quarvel();
    // Copies hold the same parameters, matrix, normal list and canvas, and
    // correct points exactly as the original does.
    Quarvel(const Quarvel& other);
    Quarvel& operator=(const Quarvel& other);
    ~Quarvel();

    // Loads every calibration parameter from the INI file at `path` (section
    // and key names in GBK, or in UTF-8 or UTF-16 with a byte-order mark,
    // which are converted), then derives the output geometry from the image
    // size, the focal value and the display size (SetDisplaySize, else the
    // platform's: see GetLoadReport). Returns false only when the file cannot
    // be opened as a readable regular file of at most 1 MiB; the calibration
    // is then unchanged. Missing or malformed entries keep their earlier
    // values; GetLoadReport says which they were.
    bool ReadIniParam(const char* path);
    bool ReadIniParam(const std::string& path);

    // Loads parameter values without a file (a fit's result, say): every
    // value as if a file held all 21 entries, then the set-up, exactly as
    // ReadIniParam would. The display is SetDisplaySize's or the
    // platform's, not params.displayWidth/Height. The load report has no
    // entries (there is no file) but says the display and the set-up.
    void LoadParams(const quarvel::CalibrationParams& params);

    // The loaded calibration as a value: the parameters, the display and
    // the geometry the record holds. It corrects exactly as this instance
    // does, and stays valid (and safe to share between threads) whatever
    // happens to the instance afterwards. Its display is the one the last
    // set-up fitted to; where the set-up fitted nothing (no barrel), the
    // size SetDisplaySize fixed, else the one the file records, else the
    // platform's, asked now: so that touches and outlines are scaled to the
    // display the points are corrected for.
    quarvel::Model GetModel() const;

    // Fixes the display size every later set-up of this instance fits the
    // corrected image to, instead of asking the platform. Any non-positive
    // width or height returns to asking. Takes effect at the next
    // ReadIniParam; copies and assignment carry it.
    void SetDisplaySize(int width, int height);

    // What the last ReadIniParam found: the encoding, each of the 21 entries
    // (value, missing with near misses, not a number with its text), names
    // the file holds that are none of them, the display size the set-up
    // used with its source, and whether the loaded calibration is usable
    // (`ok`, else `reason`). Before any load, `loaded` is false and the rest
    // empty.
    quarvel::LoadReport GetLoadReport() const;

    // The displays a load could fit to, as the platform reports them now:
    // the X server's RandR outputs (or its screen), else the Wayland
    // outputs, else the 1680 x 1050 fallback. `used` marks the one a load
    // without SetDisplaySize takes. Never fails; never aborts the host.
    static std::vector<quarvel::DisplayInfo> ListDisplays();

    // Maps a source-image pixel to a display pixel. A result that cannot be
    // represented (a zero projective denominator, NaN or an overflow) has the
    // coordinate INT_MIN. Where the file has a lens stage, the stage comes
    // first (see quarvel/lens.h); without one, exactly the barrel and matrix.
    CvPoint CorrectPoint(const CvPoint& p) const;

    // The same for OpenCV's point type.
    cv::Point CorrectPoint(const cv::Point& p) const;

    // The chain for a real-valued camera position (a detector's sub-pixel
    // centroid): the offset from the source centre is formed in double and
    // rounded to float where the integer chain converts its input, and the
    // result is the projective step's unrounded quotients X / w and Y / w in
    // double. For integer inputs, trunc(r + 0.5) of each coordinate is
    // exactly CorrectPoint. A zero w gives infinities or NaN.
    cv::Point2d CorrectPointSubpixel(const cv::Point2d& p) const;

    // The camera-image position whose sub-pixel correction is `display`:
    // the inverse matrix, then the barrel's radial equation solved for the
    // radius (a quadratic). NaN where there is none (w <= 0 there, a
    // singular matrix, non-finite input). CorrectPointSubpixel of the result
    // gives `display` back within float rounding (about 1e-4 px).
    cv::Point2d InvertPoint(const cv::Point2d& display) const;

    // Many points at once. Integer points (CV_32SC2: std::vector<cv::Point>,
    // an N x 1 or 1 x N cv::Mat) give CV_32SC2 results bit-identical to
    // CorrectPoint, through the vectorised path; CV_32FC2 or CV_64FC2 points
    // give CV_64FC2 CorrectPointSubpixel results. The result has the
    // input's shape. Any other type or shape returns false and leaves
    // `corrected` empty. `corrected` may be `points`.
    bool CorrectPoints(cv::InputArray points, cv::OutputArray corrected) const;

    // InvertPoint for many points: CV_32SC2, CV_32FC2 or CV_64FC2 in,
    // CV_64FC2 out, in the input's shape; false (and `camera` empty) for any
    // other type or shape.
    bool InvertPoints(cv::InputArray display, cv::OutputArray camera) const;

    // Corrects n points at once: out[i] = CorrectPoint(in[i]), bit for bit,
    // computed several points at a time with vector arithmetic. `out` may
    // be `in` (in place); the arrays must not otherwise overlap.
    void CorrectPoints(const CvPoint* in, CvPoint* out, std::size_t n) const;

    // Operator preview: paints every pixel of an 8-bit one-channel source
    // through the same correction as CorrectPoint onto a fresh 1680 x 1050
    // canvas (unreached pixels 0; where several pixels land on one canvas
    // pixel, the last in x-then-y order wins) and shows it in a window titled
    // "barrel". Returns at once: the host pumps window events (cv::waitKey).
    // Only the pixels that exist in both the source and the loaded image
    // size are read. A null source, or one that is not 8-bit one-channel,
    // paints nothing. Without a reachable display no window is made; the
    // canvas is painted and kept all the same.
    void TestBarrelCorrect(const IplImage* source);
    void TestBarrelCorrect(const cv::Mat& source);

    // The canvas TestBarrelCorrect would paint for `source`, without keeping
    // or showing it: 1050 rows x 1680 columns, CV_8UC1. Empty only when the
    // canvas cannot be allocated.
    //
    // The first call for a source size runs the chain over every source
    // pixel and keeps, for each canvas pixel, which source pixel wins
    // (7.1 MB); later calls with the same calibration and source layout
    // only gather. ReadIniParam, LoadParams, SetDisplaySize, copy and
    // assignment drop it. Safe to call from several threads at once while
    // no thread changes the instance (the cache has its own lock).
    cv::Mat RenderBarrel(const cv::Mat& source) const;

    // A hole-free picture of the same calibration: each canvas pixel takes
    // its value from where the inverse chain (InvertPoint) lands in the
    // source, sampled bilinearly (cv::remap); pixels whose inverse falls
    // outside the source are 0. The map is cached like RenderBarrel's (the
    // instance keeps one of the two at a time).
    cv::Mat RenderBarrelFilled(const cv::Mat& source) const;

    // A copy of the last preview canvas (1050 rows x 1680 columns, CV_8UC1),
    // or an empty matrix before the first preview.
    cv::Mat GetBarrelImage() const;

private:
    friend class QuarvelTestPeer;

    // A parameter within +-0.00001 (bounds and NaN included) switches its
    // correction step off.
    static bool IsZero(float v);

    // Main chain: barrel model and projective matrix.
    void ComputeBarrelParam();
    FPoint CorrectBarrelPoint(const CvPoint& p) const;
    CvPoint CorrectKeyStonePointByMat(const FPoint& p) const;

    // Sphere model: magnifies by f / sqrt(f^2 - r^2) instead of
    // f^2 / (f^2 - r^2). No public operation uses it.
    void ComputeBallParam();
    FPoint CorrectBallPoint(const CvPoint& p) const;

    // Plane steps: keystone by projection onto the inclined plane, rotation
    // about the output centre, shear along x with conversion to integers,
    // and origin shifts. No public operation uses them.
    FPoint CorrectKeyStonePoint(const FPoint& p) const;
    FPoint RotatePoint(const FPoint& p) const;
    CvPoint Warp(const FPoint& p) const;
    FPoint ScreenToDescartes(const CvPoint& p, const FPoint& origin) const;
    FPoint ScreenToDescartes(const FPoint& p, const FPoint& origin) const;
    FPoint DescartesToScreen(const FPoint& p, const FPoint& origin) const;

    // The record's geometry and parameters as the model's values.
    quarvel::Geometry StoredGeometry() const noexcept;
    void StoreGeometry(const quarvel::Geometry& geometry) noexcept;
    quarvel::CalibrationParams StoredParams() const noexcept;
    // The display a set-up fits to: the host's size, else the platform's,
    // asked now.
    quarvel::DisplayInfo DisplayForSetUp() const noexcept;
    // The barrel set-up every load ends with, stored in the record: the
    // display is asked only when the set-up fits at all. Returns what it
    // derived; `display`, when given, receives the display it fitted to
    // (width 0 when it fitted nothing).
    quarvel::Geometry RunBarrelSetUp(quarvel::DisplayInfo* display = nullptr) noexcept;
    // The loaded calibration with the display the last set-up recorded
    // (possibly none): what correcting and painting need, asking nothing.
    quarvel::Model LoadedModel() const;
    // The chain the public corrections run: the record's barrel and matrix,
    // with the loaded lens stage in front where the file has one.
    quarvel::detail::Chain LoadedChain() const noexcept;

    std::shared_ptr<const quarvel::detail::CTabrel> reader;
    int imageWidth = 0;
    int imageHeight = 0;
    float centerX = 0.0f;
    float centerY = 0.0f;
    float focalZ = 0.0f;
    float scale = 1.0f;
    float outCenterX = 0.0f;
    float outCenterY = 0.0f;
    int outWidth = 0;
    int outHeight = 0;
    float mapTop = 0.0f;
    float mapBottom = 0.0f;
    float keyStoneOriginX = 0.0f;
    float keyStoneOriginY = 0.0f;
    std::vector<float> planeNormal;
    float rotateAngle = 0.0f;
    float shearX = 0.0f;
    cv::Matx33f keyStoneMat;
    cv::Mat barrelImage;

    // Everything beyond the calibration record (the display size the host
    // fixed, what the last load found, the preview cache) lives behind this
    // one pointer, so that what the library adds changes neither the
    // class's size nor its layout. A copy gets its own; null only where
    // memory ran out, and then those extras are simply absent.
    std::unique_ptr<quarvel::detail::FacadeState> state;
};

#endif
