#ifndef QUARVEL_MODEL_H
#define QUARVEL_MODEL_H

// The calibration as a value: the parameters, the display they are set up
// for and the geometry that set-up derives. Everything that corrects points
// is built on it: the Quarvel class, the preview, the fit and the tool.
//
//   quarvel::CalibrationParams params;          // or quarvel::ReadParameterFile(...).params
//   params.imageWidth = 1280; params.imageHeight = 720; params.focalZ = 1800;
//   const quarvel::Model model(params, cv::Size(1920, 1080));
//   cv::Point2d d = model.CorrectPointSubpixel(cv::Point2d(412.25, 300.5));
//
// A Model never changes once made: any number of threads may use one at
// once, and copies are cheap (about 200 bytes; a lens stage's tables are
// shared between copies).

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/display.h>
#include <quarvel/export.h>
#include <quarvel/lens.h>
#include <quarvel/result.h>

namespace quarvel {

// Every value of a parameter file, plus the display size it was made for.
struct CalibrationParams {
    int imageWidth = 0;
    int imageHeight = 0;
    float focalZ = 0.0f;  // 0: no barrel correction
    cv::Matx33f matrix = cv::Matx33f::eye();
    // The entries the public correction does not use; neutral by default.
    float mapTop = 0.0f;
    float mapBottom = 0.0f;
    float keyStoneOriginX = 0.0f;
    float keyStoneOriginY = 0.0f;
    float planeNormal[3] = {0.0f, 0.0f, 1.0f};
    float rotateAngle = 0.0f;
    float shearX = 0.0f;
    // The display the values were fitted on (0 x 0: not recorded).
    int displayWidth = 0;
    int displayHeight = 0;
    // The lens stage in front of the barrel and the matrix (a section of
    // its own in the file; none by default).
    LensStage lens;
};

// What the barrel set-up derived: the source centre, and the size, centre
// and scale of the corrected image fitted to the display.
struct Geometry {
    enum class Outcome {
        NotRun,       // no set-up yet
        Uncorrected,  // the focal value counts as zero: output = source geometry, scale kept
        Stopped,      // corner factor below 1: the output geometry kept from before
        Fitted,       // fitted to the display
    };
    Outcome outcome = Outcome::NotRun;
    float cornerFactor = 0.0f;  // magnification at the image corners (Stopped, Fitted)
    float scale = 1.0f;         // the display fit's factor
    int outWidth = 0;
    int outHeight = 0;
    float outCenterX = 0.0f;
    float outCenterY = 0.0f;
    float centerX = 0.0f;  // the source centre, stored on every outcome
    float centerY = 0.0f;
};

// The barrel set-up: the source centre, then (unless the focal value counts
// as zero) the corner magnification k = f^2 / (f^2 - s), s the squared
// half-diagonal, and the corrected image sized by k and shrunk to fit
// `display` when larger. Where it stops early (k below 1: a focal value too
// short for the image) the output geometry is `previous`'s; where the focal
// value counts as zero the scale is. Pure: it asks no platform and reads no
// file; the same arguments give the same bits.
QUARVEL_EXPORT Geometry SetUpBarrel(int imageWidth, int imageHeight, float focalZ, cv::Size display,
                                    const Geometry& previous = Geometry());

// Why a calibration cannot be trusted over its camera image.
struct Flaw {
    enum class Kind {
        FocalTooShort,   // the set-up stopped: corner factor below 1, nothing fitted
        NoFiniteBarrel,  // the barrel correction has no finite value somewhere over the image
        PointsLost,      // the matrix's w is zero (or not a number) somewhere over the image
        PointsMirrored,  // the matrix's w is negative somewhere over the image
        Folded,          // neighbouring image points change their order on the display
    };
    Kind kind;
    std::string message;  // one sentence, for people
};

namespace detail {
class LensMap;
struct ModelAccess;
}  // namespace detail

class QUARVEL_EXPORT Model {
public:
    // No calibration: a 0 x 0 image, no barrel, the identity matrix.
    Model();
    // `params` set up for `display`. A display with a side that is not
    // positive is replaced by the one the parameters record, and failing
    // that by kAssumedDisplayWidth x kAssumedDisplayHeight.
    explicit Model(const CalibrationParams& params, cv::Size display = cv::Size());
    // `params` with a geometry derived elsewhere (the one a series of loads
    // left in a Quarvel instance), taken as it is.
    Model(const CalibrationParams& params, cv::Size display, const Geometry& geometry);

    // Whether a lens stage is applied in front of the barrel and matrix
    // (params().lens is active and usable).
    bool hasLensStage() const noexcept { return lens_ != nullptr; }

    const CalibrationParams& params() const noexcept { return params_; }
    cv::Size display() const noexcept { return display_; }
    const Geometry& geometry() const noexcept { return geometry_; }

    // The chain for a camera pixel: the lens stage where there is one, the
    // barrel correction, then the matrix, rounded as trunc(v + 0.5). A
    // coordinate without an integer value (a zero w, NaN, beyond 32 bits,
    // a lens stage's position beyond the camera image's margin) is INT_MIN.
    // Bit for bit what Quarvel::CorrectPoint gives for the same calibration.
    cv::Point CorrectPoint(const cv::Point& p) const noexcept;

    // The chain for a real-valued camera position: the offset from the
    // source centre rounded to float where the integer chain converts its
    // input, and the unrounded quotients X / w, Y / w. For integer inputs
    // trunc(r + 0.5) of each coordinate is CorrectPoint.
    cv::Point2d CorrectPointSubpixel(const cv::Point2d& p) const noexcept;

    // The camera position whose sub-pixel correction is `display`: the
    // inverse matrix, then the barrel's radial equation solved for the
    // radius. NaN where there is none (w <= 0 there, a singular matrix,
    // non-finite input).
    cv::Point2d InvertPoint(const cv::Point2d& display) const noexcept;

    // n points at once, vectorised, bit-identical to CorrectPoint. `out`
    // may be `in`; the arrays must not otherwise overlap.
    void CorrectPoints(const cv::Point* in, cv::Point* out, std::size_t n) const noexcept;

    // Point arrays: CV_32SC2 gives CV_32SC2 (CorrectPoint), CV_32FC2 and
    // CV_64FC2 give CV_64FC2 (CorrectPointSubpixel), in the input's shape
    // (N x 1, 1 x N, or std::vector). Anything else: not ok, result empty.
    Result CorrectPoints(cv::InputArray points, cv::OutputArray corrected) const;
    // InvertPoint over an array: CV_32SC2, CV_32FC2 or CV_64FC2 in,
    // CV_64FC2 out, in the input's shape.
    Result InvertPoints(cv::InputArray display, cv::OutputArray camera) const;

private:
    friend struct detail::ModelAccess;

    CalibrationParams params_;
    cv::Size display_;
    Geometry geometry_;
    std::shared_ptr<const detail::LensMap> lens_;  // the lens stage's tables (null: none)
};

// What makes `model` unusable over its camera image: a focal value too
// short for it, no finite barrel value, the matrix's w not positive (points
// lost or mirrored), a folded picture. Walks a 25 x 17 grid over the image;
// empty when the calibration can be trusted.
QUARVEL_EXPORT std::vector<Flaw> Diagnose(const Model& model);

}  // namespace quarvel

#endif
