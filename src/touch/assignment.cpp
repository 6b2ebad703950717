#include "touch/assignment.h"

#include <algorithm>
#include <limits>
#include <tuple>

namespace quarvel::detail {
namespace {

constexpr std::size_t kOptimalUpTo = 64;

double Squared(const cv::Point2d& a, const cv::Point2d& b) {
    const cv::Point2d d = a - b;
    return d.x * d.x + d.y * d.y;
}

// Nearest pairs first, each side used once.
std::vector<int> Greedy(const std::vector<cv::Point2d>& from, const std::vector<cv::Point2d>& to,
                        const std::vector<double>& gate2) {
    std::vector<std::tuple<double, int, int>> candidates;
    for (std::size_t i = 0; i < from.size(); ++i) {
        for (std::size_t j = 0; j < to.size(); ++j) {
            const double d = Squared(from[i], to[j]);
            if (d <= gate2[i]) {
                candidates.emplace_back(d, static_cast<int>(i), static_cast<int>(j));
            }
        }
    }
    std::sort(candidates.begin(), candidates.end());
    std::vector<int> match(from.size(), -1);
    std::vector<bool> taken(to.size(), false);
    for (const auto& [d, i, j] : candidates) {
        if (match[static_cast<std::size_t>(i)] < 0 && !taken[static_cast<std::size_t>(j)]) {
            match[static_cast<std::size_t>(i)] = j;
            taken[static_cast<std::size_t>(j)] = true;
        }
    }
    return match;
}

// The Hungarian method with potentials on an n x m cost matrix, n <= m
// (rows and columns from 1; row 0 and column 0 are the method's own).
// Returns the column of each row.
std::vector<int> Hungarian(const std::vector<std::vector<double>>& cost, int n, int m) {
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> u(static_cast<std::size_t>(n) + 1, 0.0), v(static_cast<std::size_t>(m) + 1, 0.0);
    std::vector<int> p(static_cast<std::size_t>(m) + 1, 0), way(static_cast<std::size_t>(m) + 1, 0);
    for (int i = 1; i <= n; ++i) {
        p[0] = i;
        int j0 = 0;
        std::vector<double> minv(static_cast<std::size_t>(m) + 1, inf);
        std::vector<bool> used(static_cast<std::size_t>(m) + 1, false);
        do {
            used[static_cast<std::size_t>(j0)] = true;
            const int i0 = p[static_cast<std::size_t>(j0)];
            double delta = inf;
            int j1 = 0;
            for (int j = 1; j <= m; ++j) {
                const auto J = static_cast<std::size_t>(j);
                if (used[J]) {
                    continue;
                }
                const double cur = cost[static_cast<std::size_t>(i0) - 1][J - 1] - u[static_cast<std::size_t>(i0)] - v[J];
                if (cur < minv[J]) {
                    minv[J] = cur;
                    way[J] = j0;
                }
                if (minv[J] < delta) {
                    delta = minv[J];
                    j1 = j;
                }
            }
            for (int j = 0; j <= m; ++j) {
                const auto J = static_cast<std::size_t>(j);
                if (used[J]) {
                    u[static_cast<std::size_t>(p[J])] += delta;
                    v[J] -= delta;
                } else {
                    minv[J] -= delta;
                }
            }
            j0 = j1;
        } while (p[static_cast<std::size_t>(j0)] != 0);
        do {
            const int j1 = way[static_cast<std::size_t>(j0)];
            p[static_cast<std::size_t>(j0)] = p[static_cast<std::size_t>(j1)];
            j0 = j1;
        } while (j0 != 0);
    }
    std::vector<int> column(static_cast<std::size_t>(n), -1);
    for (int j = 1; j <= m; ++j) {
        if (p[static_cast<std::size_t>(j)] != 0) {
            column[static_cast<std::size_t>(p[static_cast<std::size_t>(j)]) - 1] = j - 1;
        }
    }
    return column;
}

}  // namespace

std::vector<int> AssignNearest(const std::vector<cv::Point2d>& from, const std::vector<cv::Point2d>& to,
                               double gate) {
    return AssignNearest(from, to, std::vector<double>(from.size(), gate));
}

std::vector<int> AssignNearest(const std::vector<cv::Point2d>& from, const std::vector<cv::Point2d>& to,
                               const std::vector<double>& gates) {
    std::vector<int> match(from.size(), -1);
    if (from.empty() || to.empty() || gates.size() != from.size()) {
        return match;
    }
    std::vector<double> gate2(from.size());
    double widest = 0.0;
    for (std::size_t i = 0; i < from.size(); ++i) {
        const double g = gates[i] >= 0.0 ? std::min(gates[i], 1e100) : -1.0;
        gate2[i] = g >= 0.0 ? g * g : -1.0;
        widest = std::max(widest, gate2[i]);
    }
    if (from.size() > kOptimalUpTo || to.size() > kOptimalUpTo) {
        return Greedy(from, to, gate2);
    }
    // Pairs beyond a gate cost more than any set of pairs within the
    // gates, so the method first pairs as many as the gates allow.
    const bool transposed = from.size() > to.size();
    const std::vector<cv::Point2d>& rows = transposed ? to : from;
    const std::vector<cv::Point2d>& cols = transposed ? from : to;
    const double beyond = widest * static_cast<double>(rows.size() + 1) + 1.0;
    std::vector<std::vector<double>> cost(rows.size(), std::vector<double>(cols.size()));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        for (std::size_t j = 0; j < cols.size(); ++j) {
            const double d = Squared(rows[i], cols[j]);
            const double g = gate2[transposed ? j : i];
            cost[i][j] = d <= g ? d : beyond;
        }
    }
    const std::vector<int> column = Hungarian(cost, static_cast<int>(rows.size()), static_cast<int>(cols.size()));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const int j = column[i];
        if (j < 0 || cost[i][static_cast<std::size_t>(j)] >= beyond) {
            continue;
        }
        if (transposed) {
            match[static_cast<std::size_t>(j)] = static_cast<int>(i);
        } else {
            match[i] = j;
        }
    }
    return match;
}

}  // namespace quarvel::detail
