#ifndef QUARVEL_SRC_MODEL_CHAIN_H
#define QUARVEL_SRC_MODEL_CHAIN_H

// The correction chain's arithmetic, as free functions over what the chain
// reads. Model and the Quarvel class both correct through these, so the
// two cannot drift apart.

#include <cstddef>

#include <opencv2/core.hpp>
#include <opencv2/core/types_c.h>

#include <quarvel/model.h>

#include "model/chain_kernel.h"
#include "numeric/arithmetic.h"

namespace quarvel::detail {

class LensMap;

// Everything the main chain reads: the focal value, the source centre, the
// display fit and the matrix; and the lens stage in front of them, where a
// calibration has one (null: none, every result the plain chain's).
struct Chain {
    float focal;
    float centerX;
    float centerY;
    float scale;
    float outCenterX;
    float outCenterY;
    cv::Matx33f matrix;
    const LensMap* lens = nullptr;
};

inline Chain ChainOf(float focal, const Geometry& g, const cv::Matx33f& matrix,
                     const LensMap* lens = nullptr) noexcept {
    return Chain{focal, g.centerX, g.centerY, g.scale, g.outCenterX, g.outCenterY, matrix, lens};
}

// Barrel magnification of a point at squared radius s from the centre for
// focal value f: t = s / (2f), k = f / (f - 2t), i.e. f^2 / (f^2 - s).
float BarrelFactor(float f, float s) noexcept;

// Places a source offset (dx, dy), magnified by k and the display-fit
// scale, about the output centre: the last step of both radial mappings.
FloatPoint PlaceAboutOutputCentre(float k, float dx, float dy, float scale, float outCenterX, float outCenterY) noexcept;

// The barrel mapping of a camera position: (x, y) itself when the focal
// value counts as zero; else the offset from the centre rounded to float,
// magnified by the barrel factor of its squared radius and placed about the
// output centre. Integer positions give exactly the integer chain's value.
FloatPoint BarrelMapping(const Chain& c, double x, double y) noexcept;

// The projective step's three named quantities for an output-image point:
// w = (m20 x + m21 y) + m22, X and Y likewise, each rounded to float. The
// quotients X / w and Y / w are the caller's.
struct ProjectiveTerms {
    float w;
    float x;
    float y;
};
ProjectiveTerms ProjectiveStep(const cv::Matx33f& m, const FloatPoint& p) noexcept;

// The projective step rounded to integers: trunc(X / w + 0.5), likewise y,
// INT_MIN where there is no integer value.
CvPoint ProjectToPixel(const cv::Matx33f& m, const FloatPoint& p) noexcept;

// The whole chain: integer, sub-pixel (unrounded quotients) and inverse.
// With a lens stage, the stage first; the integer result is then the
// sub-pixel one rounded as the chain rounds.
CvPoint CorrectPixel(const Chain& c, const CvPoint& p) noexcept;
cv::Point2d CorrectSubpixel(const Chain& c, const cv::Point2d& p) noexcept;
cv::Point2d Invert(const Chain& c, const cv::Point2d& display) noexcept;

// n points through the vector kernels (the widest this processor runs),
// the remainder one by one: out[i] = CorrectPixel(c, in[i]) bit for bit.
void CorrectPixels(const Chain& c, const CvPoint* in, CvPoint* out, std::size_t n) noexcept;

// What the kernels read: the chain's floats widened to double.
ChainParams KernelParams(const Chain& c) noexcept;

// Point arrays through the chain (Model::CorrectPoints / InvertPoints).
bool CorrectArray(const Chain& c, cv::InputArray points, cv::OutputArray corrected);
bool InvertArray(const Chain& c, cv::InputArray display, cv::OutputArray camera);

}  // namespace quarvel::detail

#endif
