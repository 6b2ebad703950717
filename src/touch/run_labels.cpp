#include "touch/run_labels.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace quarvel::detail {

int RunLabels::Find(int i) {
    while (parent_[static_cast<std::size_t>(i)] != i) {
        int& p = parent_[static_cast<std::size_t>(i)];
        p = parent_[static_cast<std::size_t>(p)];  // halving the path on the way
        i = p;
    }
    return i;
}

void RunLabels::Label(const cv::Mat& mask, cv::Rect area, const std::vector<unsigned char>* rows) {
    runs_.clear();
    parent_.clear();
    parts_.clear();
    area &= cv::Rect(0, 0, mask.cols, mask.rows);
    std::size_t previous = 0;  // the previous row's runs: [previous, current)
    std::size_t current = 0;
    for (int y = area.y; y < area.y + area.height; ++y) {
        const std::size_t start = runs_.size();
        if (rows != nullptr && (*rows)[static_cast<std::size_t>(y)] == 0) {
            previous = start;
            current = start;
            continue;
        }
        const unsigned char* m = mask.ptr(y);
        std::size_t k = previous;  // runs above are in x order, as these
        const int end = area.x + area.width;
        for (int x = area.x; x < end;) {
            if (m[x] == 0) {
                // Eight unmarked pixels at a time.
                std::uint64_t eight = 0;
                while (x + 8 <= end && (std::memcpy(&eight, m + x, 8), eight == 0)) {
                    x += 8;
                }
                while (x < end && m[x] == 0) {
                    ++x;
                }
                if (x >= end) {
                    break;
                }
            }
            const int x0 = x;
            while (x < area.x + area.width && m[x] != 0) {
                ++x;
            }
            const int index = static_cast<int>(runs_.size());
            runs_.push_back({y, x0, x, index});
            parent_.push_back(index);
            // Runs on the row above that touch it, diagonally included:
            // [x0 - 1, x] against theirs.
            while (k < current && runs_[k].x1 < x0) {
                ++k;
            }
            for (std::size_t j = k; j < current && runs_[j].x0 <= x; ++j) {
                const int a = Find(static_cast<int>(j));
                const int b = Find(index);
                if (a != b) {
                    parent_[static_cast<std::size_t>(std::max(a, b))] = std::min(a, b);
                }
            }
        }
        previous = start;
        current = runs_.size();
    }
    // Parts in the order of their first run.
    std::vector<int> partOf(runs_.size(), -1);
    for (std::size_t i = 0; i < runs_.size(); ++i) {
        const auto root = static_cast<std::size_t>(Find(static_cast<int>(i)));
        if (partOf[root] < 0) {
            partOf[root] = static_cast<int>(parts_.size());
            parts_.push_back({0, cv::Rect(runs_[i].x0, runs_[i].y, 0, 0)});
        }
        Run& r = runs_[i];
        r.set = partOf[root];
        Part& p = parts_[static_cast<std::size_t>(r.set)];
        p.area += r.x1 - r.x0;
        p.box |= cv::Rect(r.x0, r.y, r.x1 - r.x0, 1);
    }
    starts_.assign(parts_.size() + 1, 0);
    for (const Run& r : runs_) {
        ++starts_[static_cast<std::size_t>(r.set) + 1];
    }
    for (std::size_t i = 1; i < starts_.size(); ++i) {
        starts_[i] += starts_[i - 1];
    }
    order_.assign(runs_.size(), 0);
    std::vector<int> next(starts_.begin(), starts_.end() - 1);
    for (std::size_t i = 0; i < runs_.size(); ++i) {
        order_[static_cast<std::size_t>(next[static_cast<std::size_t>(runs_[i].set)]++)] = static_cast<int>(i);
    }
}

void RunLabels::Paint(std::size_t index, cv::Mat& out, cv::Point origin) const {
    for (int k = starts_[index]; k < starts_[index + 1]; ++k) {
        const Run& r = runs_[static_cast<std::size_t>(order_[static_cast<std::size_t>(k)])];
        const int y = r.y - origin.y;
        if (y < 0 || y >= out.rows) {
            continue;
        }
        const int x0 = std::max(0, r.x0 - origin.x);
        const int x1 = std::min(out.cols, r.x1 - origin.x);
        if (x1 > x0) {
            std::fill(out.ptr(y) + x0, out.ptr(y) + x1, static_cast<unsigned char>(255));
        }
    }
}

}  // namespace quarvel::detail
