// The arithmetic of the quality figures: percentiles of a set of timings, the distance of a
// drawn point from the straight line it should lie on, and how many frames a moving pointer
// trails the finger.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numeric>
#include <vector>

namespace kv::quality {

// p50, p99 and the largest of a set of values; all zero for an empty set.
struct Summary {
    size_t count = 0;
    double p50 = 0.0;
    double p99 = 0.0;
    double max = 0.0;
};

// The nearest-rank percentile (0 < p <= 100) of values sorted in ascending order: the
// smallest value that at least p % of the set do not exceed.
inline double SortedPercentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) {
        return 0.0;
    }
    const double rank = std::ceil(p / 100.0 * static_cast<double>(sorted.size()));
    const auto index = static_cast<size_t>(std::max(rank, 1.0)) - 1;
    return sorted[std::min(index, sorted.size() - 1)];
}

// Sorts the values (taken by value: the caller's order stays).
inline Summary Summarise(std::vector<double> values) {
    Summary s;
    s.count = values.size();
    if (values.empty()) {
        return s;
    }
    std::sort(values.begin(), values.end());
    s.p50 = SortedPercentile(values, 50.0);
    s.p99 = SortedPercentile(values, 99.0);
    s.max = values.back();
    return s;
}

struct Point {
    double x = 0.0;
    double y = 0.0;
};

// The signed distance of p from the infinite line through a and b (positive to the left of
// a -> b); 0 when a and b coincide.
inline double DistanceFromLine(Point p, Point a, Point b) {
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double length = std::hypot(dx, dy);
    if (length == 0.0) {
        return 0.0;
    }
    return (dx * (p.y - a.y) - dy * (p.x - a.x)) / length;
}

// How far a drawn stroke strays from its line: root mean square and largest distance.
struct LineDeviation {
    size_t count = 0;
    double rms = 0.0;
    double max = 0.0;
};

inline LineDeviation DeviationFromLine(const std::vector<Point>& points, Point a, Point b) {
    LineDeviation d;
    double sumSquares = 0.0;
    for (const Point& p : points) {
        const double distance = std::fabs(DistanceFromLine(p, a, b));
        sumSquares += distance * distance;
        d.max = std::max(d.max, distance);
    }
    d.count = points.size();
    if (d.count > 0) {
        sumSquares /= static_cast<double>(d.count);
        d.rms = std::sqrt(sumSquares);
    }
    return d;
}

// A finger moving at constant speed along one coordinate: from `from` at time `start`
// (seconds), `speed` units per second (negative for the way back).
struct ConstantMove {
    double from = 0.0;
    double start = 0.0;
    double speed = 1.0;

    // When the finger was at position p.
    double TimeAt(double p) const { return start + (p - from) / speed; }
};

// The frames a pointer reported at position p in the frame of time t trails the finger: the
// time since the finger was where the pointer is, in frames. A position error along the move
// adds to it on the way out and subtracts on the way back, so the mean of both directions is
// the lag alone.
inline double LagFrames(const ConstantMove& move, double t, double p, double rate) {
    return (t - move.TimeAt(p)) * rate;
}

// One point of an n x n sweep grid: column i (along X) and row j (along Y), 0 .. n-1.
struct GridCell {
    int i = 0;
    int j = 0;
};

// The k-th point (0 .. n*n-1) a sweep visits. Every run of n touches visits each column and each
// row once, jumping about a third of the grid from one touch to the next, so that the same
// electrodes are not touched again soon: the baseline is the lowest of an electrode's recent
// period means, and a finger that keeps coming back to the same electrodes within that memory
// (as column after column of touches did) becomes part of it and skews what is measured there.
inline GridCell GridVisit(int k, int n) {
    int stride = std::max(1, n / 3);
    while (std::gcd(stride, n) != 1) {
        ++stride;
    }
    const int run = k / n;
    const int i = (k % n) * stride % n;
    return {i, (run + i) % n};
}

// The foil the millimetre figures are given for: a 55-inch 16:9 picture (1217.6 x 684.9 mm)
// with a B64 foil turned a quarter, its 40 Y electrodes across the width and its 24 X
// electrodes up the height, the first and last electrode of each axis on the picture's edges
// (normalised 0..1 runs from the first electrode to the last). That gives nearly square cells.
struct ExampleFoil {
    double diagonalInches = 55.0;
    double widthMm = 55.0 * 25.4 * 16.0 / std::sqrt(16.0 * 16.0 + 9.0 * 9.0);
    double heightMm = 55.0 * 25.4 * 9.0 / std::sqrt(16.0 * 16.0 + 9.0 * 9.0);
    double pitchXMm = heightMm / (24 - 1);  // B64: 24 X electrodes
    double pitchYMm = widthMm / (40 - 1);   // B64: 40 Y electrodes
};

}  // namespace kv::quality
