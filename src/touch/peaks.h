#ifndef QUARVEL_SRC_TOUCH_PEAKS_H
#define QUARVEL_SRC_TOUCH_PEAKS_H

// The fingertips in one set of pixels: the peaks of its light, each
// standing out of the saddle that joins it to a higher one by more than
// the noise allows. Two fingertips side by side are two peaks; a single
// fingertip, however noisy its top, is one.

#include <vector>

#include <opencv2/core.hpp>

#include "touch/patch.h"

namespace quarvel::detail {

struct PeakRules {
    double height = 0.0;      // a peak's light (3 x 3 mean) at least this high
    double prominence = 0.0;  // and this far above its saddle to a higher peak, in grey levels ...
    double share = 0.0;       // ... and this share of its own height
    double separation = 0.0;  // and this far from a higher peak (camera pixels)
    int core = 1;             // its own pixels above `height` hold a solid core x core square ...
    bool eachCore = false;    // ... checked even for a lone peak (else only where there are several)
};

struct Peak {
    cv::Point2d at;   // patch coordinates, where the 3 x 3 mean peaks, to a fraction of a pixel
    double height;    // its light, 3 x 3 mean
    int area;         // pixels above `height` in its basin
};

// The peaks of the patch's own pixels, the highest first. `scratch`
// vectors are reused between calls.
class PeakFinder {
public:
    std::vector<Peak> Find(const Patch& patch, const PeakRules& rules);

private:
    int Root(int i);
    void Smooth(const Patch& patch);
    bool HasCore(const Patch& patch, int peak, double height, int core);
    // Floods the patch from its highest pixel down: each pixel's basin, each
    // top's prominence, and the top each merged top went into.
    void Flood(const Patch& patch);
    // The tops high and prominent enough, apart from each other, highest first.
    std::vector<int> Significant(const Patch& patch, const PeakRules& rules) const;
    // Every basin given to the significant top it drained into.
    void Drain(const std::vector<int>& kept);
    cv::Point2d Vertex(const Patch& patch, int p) const;

    std::vector<float> smooth_;
    std::vector<int> order_;
    std::vector<int> parent_;    // union-find over the patch's pixels (-1: not yet joined)
    std::vector<int> top_;       // per set: its highest pixel
    std::vector<int> basin_;     // per pixel: the peak whose basin it is in (-1: none yet)
    std::vector<double> prominence_;  // per pixel that is a set's top: its prominence when merged
    std::vector<int> into_;      // per top that was merged: the top it went into (-1: none)
    std::vector<int> runs_;
};

}  // namespace quarvel::detail

#endif
