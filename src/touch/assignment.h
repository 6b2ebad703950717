#ifndef QUARVEL_SRC_TOUCH_ASSIGNMENT_H
#define QUARVEL_SRC_TOUCH_ASSIGNMENT_H

#include <vector>

#include <opencv2/core.hpp>

namespace quarvel::detail {

// Pairs each of `from` with at most one of `to`, no farther than `gate`:
// as many pairs as the gate allows, and among those the smallest sum of
// squared distances (the Hungarian method; beyond 64 on either side a
// greedy nearest-first pairing). Returns, for each of `from`, the index
// into `to` or -1.
std::vector<int> AssignNearest(const std::vector<cv::Point2d>& from, const std::vector<cv::Point2d>& to,
                               double gate);
// The same with a gate of its own for each of `from`.
std::vector<int> AssignNearest(const std::vector<cv::Point2d>& from, const std::vector<cv::Point2d>& to,
                               const std::vector<double>& gates);

}  // namespace quarvel::detail

#endif
