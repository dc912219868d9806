// Places a finger between electrodes by the profile the foil shows, for the precise path.
#include "driver/dsp/profile_fit.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <utility>

namespace kv {

namespace {

constexpr float kTiny = 1e-6f;
// How much of the learnt error and curvature a clean frame keeps: a memory of a few hundred
// frames, seconds of touching.
constexpr float kKeep = 0.995f;
// Clean frames before the learnt shape is trusted, and how much better another exponent must
// predict before it takes over (so that two near-equal ones do not take turns).
constexpr int32_t kWarmUp = 100;
constexpr float kSwitchMargin = 0.8f;
// The curvature is learnt only where both neighbours read at least this share of the peak: on
// a weaker one noise bends the transform's steep end and with it the mean.
constexpr float kSteady = 0.15f;
// Steady frames whose curvature is averaged before the memory of kKeep takes over: the
// starting curvature (that of a narrower finger) is forgotten within them.
constexpr int32_t kSteadyFrames = 1000;

// The power transform, and back.
float Bend(float u, float p) {
    return p == 0.0f ? std::log(u) : (std::pow(u, p) - 1.0f) / p;
}
float Unbend(float t, float p) {
    if (p == 0.0f) {
        return std::exp(t);
    }
    const float base = 1.0f + p * t;
    return base > 0.0f ? std::pow(base, 1.0f / p) : 0.0f;
}

// A shape's least-squares fit h S(i - x) to signal[from .. to]: the place, the height (0 where
// the signal does not match the shape) and the sum of the squares it misses by.
struct Fitted {
    float place = 0.0f;
    float height = 0.0f;
    float miss = 0.0f;
};

template <class Shape>
Fitted FitAt(int32_t from, int32_t to, const float* signal, float x, const Shape& shape) {
    float both = 0.0f;
    float squares = 0.0f;
    float readings = 0.0f;
    for (int32_t i = from; i <= to; ++i) {
        const float model = shape(static_cast<float>(i) - x);
        both += signal[i] * model;
        squares += model * model;
        readings += signal[i] * signal[i];
    }
    Fitted fit;
    fit.place = x;
    if (squares > kTiny && both > 0.0f) {
        fit.height = both / squares;
        fit.miss = std::max(readings - both * fit.height, 0.0f);
    } else {
        fit.miss = readings;
    }
    return fit;
}

// The least squares are least where (sum s S)^2 / sum S^2 is largest, with the height at its
// best for each place: searched on a grid around the three-value fit's place, then between
// the best grid point's neighbours by a parabola.
template <class Shape>
Fitted FitShape(int32_t from, int32_t to, const float* signal, float start, const Shape& shape) {
    constexpr int32_t kSide = 8;
    constexpr float kGrid = 1.0f / 32.0f;
    std::array<float, 2 * kSide + 1> misses{};
    // From the grid's first point: a start at its middle would be compared with a miss not
    // yet computed (0), and no place below the three-value fit's could ever win.
    int32_t best = -kSide;
    for (int32_t g = -kSide; g <= kSide; ++g) {
        const auto u = static_cast<size_t>(g + kSide);
        misses[u] = FitAt(from, to, signal, start + static_cast<float>(g) * kGrid, shape).miss;
        if (misses[u] < misses[static_cast<size_t>(best + kSide)]) {
            best = g;
        }
    }
    float x = start + static_cast<float>(best) * kGrid;
    if (best > -kSide && best < kSide) {
        const float left = misses[static_cast<size_t>(best + kSide - 1)];
        const float centre = misses[static_cast<size_t>(best + kSide)];
        const float right = misses[static_cast<size_t>(best + kSide + 1)];
        const float bend = left + right - 2.0f * centre;
        if (bend > kTiny) {
            x += std::clamp(0.5f * (left - right) / bend, -0.5f, 0.5f) * kGrid;
        }
    }
    return FitAt(from, to, signal, x, shape);
}

// Moves the two steps of a learnt table around a place (share: how far it lies beyond step j)
// towards value, each by its nearness, as a running mean over at most memory frames.
template <size_t N>
void LearnAround(std::array<float, N>& table, std::array<float, N>& frames, int32_t j, float share,
                 float value, float memory) {
    for (const auto& [step, weight] : {std::pair{j, 1.0f - share}, std::pair{j + 1, share}}) {
        float& seen = frames[static_cast<size_t>(step)];
        float& entry = table[static_cast<size_t>(step)];
        seen = std::min(seen + weight, memory);
        if (seen > 0.0f) {
            entry += weight / seen * (value - entry);
        }
    }
}

}  // namespace

bool ProfileFit::Settled() const {
    return itsLearnt >= kWarmUp;
}

float ProfileFit::Model(float x) const {
    return Unbend(Curvature() * x * x, kExponents[static_cast<size_t>(itsShape)]);
}

void ProfileFit::Reset() {
    // A Gaussian finger of 0.7 pitch centred on an electrode: its neighbours read 0.36 of it.
    const float neighbour = std::exp(-0.5f / (0.7f * 0.7f));
    for (int32_t s = 0; s < kShapes; ++s) {
        itsCurvature[static_cast<size_t>(s)] = Bend(neighbour, kExponents[static_cast<size_t>(s)]);
    }
    itsError.fill(0.0f);
    itsShape = kStartShape;
    itsLearnt = 0;
    itsSteady = 0;
    itsTable.fill(0.0f);
    itsTableFrames.fill(0.0f);
    itsTableTrusted = false;
    itsPhase.fill(0.0f);
    itsPhaseFrames.fill(0.0f);
    itsPhaseTrusted = false;
}

bool ProfileFit::Locate(int32_t peak, int32_t count, const float* signal, bool clean, float& place,
                        float* height) {
    if (signal == nullptr || count < 3 || peak < 0 || peak >= count) {
        return false;
    }
    // The signal's own maximum beside the correlation's.
    int32_t k = peak;
    if (peak > 0 && signal[peak - 1] > signal[k]) {
        k = peak - 1;
    }
    if (peak < count - 1 && signal[peak + 1] > signal[k]) {
        k = peak + 1;
    }
    const float top = signal[k];
    if (!(top > kTiny)) {
        return false;
    }
    const float p = kExponents[static_cast<size_t>(itsShape)];
    const auto bent = [&](int32_t j) { return Bend(std::clamp(signal[j] / top, kFloor, 1.0f), p); };
    if (k > 0 && k < count - 1) {
        // The parabola through the bent neighbours and the peak (0 at k): its vertex.
        const float left = bent(k - 1);
        const float right = bent(k + 1);
        const float a = (left + right) / 2.0f;
        const float b = (right - left) / 2.0f;
        const float d = a < -kTiny ? std::clamp(-b / (2.0f * a), -0.5f, 0.5f) : 0.0f;
        place = static_cast<float>(k) + d;
        float h = top * Unbend(a * d * d + b * d, p);
        if (clean && k >= 2 && k <= count - 3) {
            Learn(k, signal);
            LearnTable(k, count, signal, place, h);
        }
        Refine(k, count, signal, clean && k >= 2 && k <= count - 3, place, h);
        if (height != nullptr) {
            *height = h;
        }
        return true;
    }
    // The outermost electrode has one neighbour: the finger is where the learnt profile gives
    // the neighbour's share of the electrode's reading (it falls as the finger nears the edge).
    const float share = std::clamp(signal[k == 0 ? 1 : count - 2] / top, kFloor, 1.0f);
    float inward = 0.0f;
    float outward = 0.5f;
    for (int32_t step = 0; step < 12; ++step) {
        const float x0 = (inward + outward) / 2.0f;
        const float modelShare = Model(1.0f - x0) / std::max(Model(x0), kTiny);
        (modelShare < share ? inward : outward) = x0;
    }
    const float x0 = (inward + outward) / 2.0f;
    place = k == 0 ? x0 : static_cast<float>(count - 1) - x0;
    if (height != nullptr) {
        *height = top / std::max(Model(x0), kTiny);
    }
    return true;
}

void ProfileFit::LearnTable(int32_t k, int32_t count, const float* signal, float place,
                            float height) {
    const int32_t reach = kTableReach + 1;
    if (itsTableTrusted) {
        // The finger's height by the table itself: the three-value fit's, extrapolated to a
        // vertex between two electrodes, would bend the table where the profile fits it worst.
        // Taken against the table's own reading at the finger, so that its scale stays put.
        height = FitAt(std::max(0, k - kTableReach), std::min(count - 1, k + kTableReach), signal,
                       place, [this](float x) { return TableAt(x); })
                     .height *
                 itsTable[0];
    }
    if (!(height > kTiny)) {
        return;
    }
    for (int32_t i = std::max(0, k - reach); i <= std::min(count - 1, k + reach); ++i) {
        const float at = std::fabs(static_cast<float>(i) - place) / kTableStep;
        const auto j = static_cast<int32_t>(at);
        if (j >= kTableSteps) {
            continue;
        }
        // The reading goes to the two steps around its distance, each by its nearness.
        const float share = at - static_cast<float>(j);
        const float value = signal[i] / height;
        LearnAround(itsTable, itsTableFrames, j, share, value, kTableMemory);
    }
    if (!itsTableTrusted) {
        // Every distance the fit asks for must have been seen often.
        // (Out to half a pitch beyond the fitted electrodes, whose distance is a whole number of
        // steps.)
        constexpr auto needed =
            static_cast<size_t>((static_cast<float>(kTableReach) + 0.5f) / kTableStep);
        static_assert(needed < static_cast<size_t>(kTableSteps), "the table is too short");
        itsTableTrusted = std::all_of(itsTableFrames.begin(), itsTableFrames.begin() + needed + 1,
                                      [](float frames) { return frames >= kTableNeeded; });
    }
}

float ProfileFit::TableAt(float distance) const {
    const float at = std::min(std::fabs(distance) / kTableStep, static_cast<float>(kTableSteps));
    const auto j = std::min(static_cast<int32_t>(at), kTableSteps - 1);
    const float low = itsTable[static_cast<size_t>(j)];
    const float high = itsTable[static_cast<size_t>(j + 1)];
    return low + (high - low) * (at - static_cast<float>(j));
}

void ProfileFit::Refine(int32_t k, int32_t count, const float* signal, bool clean, float& place,
                        float& height) {
    if (!itsTableTrusted) {
        return;
    }
    const Fitted fit = FitShape(std::max(0, k - kTableReach), std::min(count - 1, k + kTableReach),
                                signal, place, [this](float x) { return TableAt(x); });
    if (!(fit.height > kTiny)) {
        return;
    }
    // Where the fit puts the finger against its nearest electrode, as a place in the
    // correction table (0 .. kPhaseSteps).
    const float phase =
        std::clamp((fit.place - std::round(fit.place) + 0.5f) * static_cast<float>(kPhaseSteps),
                   0.0f, static_cast<float>(kPhaseSteps));
    const auto j = std::min(static_cast<int32_t>(phase), kPhaseSteps - 1);
    const float share = phase - static_cast<float>(j);
    if (clean) {
        // What the three-value fit puts the finger at beyond the table's fit, by the table's
        // place: its own noise averages out there, as the table's place hardly has any.
        const float beyond = place - fit.place;
        LearnAround(itsPhase, itsPhaseFrames, j, share, beyond, kTableMemory);
        if (!itsPhaseTrusted) {
            itsPhaseTrusted = std::all_of(itsPhaseFrames.begin(), itsPhaseFrames.end(),
                                          [](float frames) { return frames >= kTableNeeded; });
        }
    }
    if (!itsPhaseTrusted) {
        return;
    }
    const float low = itsPhase[static_cast<size_t>(j)];
    const float high = itsPhase[static_cast<size_t>(j + 1)];
    place = std::clamp(fit.place + low + (high - low) * share, 0.0f, static_cast<float>(count - 1));
    height = fit.height;
}

float ProfileFit::NeighbourLogs(float d) const {
    if (itsTableTrusted && TableAt(1.0f) < kNarrow * TableAt(0.0f)) {
        // A finger this narrow (under glass) has tails that none of the shapes follows.
        const auto tableLog = [&](float x) { return std::log(std::max(TableAt(x), kTiny)); };
        return tableLog(1.0f + d) + tableLog(1.0f - d) - 2.0f * tableLog(d);
    }
    const auto logOf = [&](float x) { return std::log(std::max(Model(x), kFloor)); };
    return logOf(1.0f + d) + logOf(1.0f - d) - 2.0f * logOf(d);
}

void ProfileFit::Learn(int32_t k, const float* signal) {
    const float top = signal[k];
    const float farLeft = signal[k - 2] / top;
    const float farRight = signal[k + 2] / top;
    const bool steady = signal[k - 1] >= kSteady * top && signal[k + 1] >= kSteady * top;
    // The first steady frames are averaged, so that the starting curvature is soon forgotten.
    if (steady && itsSteady < kSteadyFrames) {
        ++itsSteady;
    }
    const float rate = std::max(1.0f - kKeep, 1.0f / static_cast<float>(itsSteady));
    for (int32_t s = 0; s < kShapes; ++s) {
        const float p = kExponents[static_cast<size_t>(s)];
        const float left = Bend(std::clamp(signal[k - 1] / top, kFloor, 1.0f), p);
        const float right = Bend(std::clamp(signal[k + 1] / top, kFloor, 1.0f), p);
        const float a = (left + right) / 2.0f;
        const float b = (right - left) / 2.0f;
        // Each exponent's parabola carried out to the electrodes two away.
        const float eLeft = Unbend(4.0f * a - 2.0f * b, p) - farLeft;
        const float eRight = Unbend(4.0f * a + 2.0f * b, p) - farRight;
        auto& error = itsError[static_cast<size_t>(s)];
        error = kKeep * error + (1.0f - kKeep) * (eLeft * eLeft + eRight * eRight);
        if (steady && a < -kTiny) {
            // The profile's curvature against its vertex, where this exponent's parabola puts
            // it, from both neighbours.
            const float d = std::clamp(-b / (2.0f * a), -0.5f, 0.5f);
            const float vertex = std::max(Unbend(a * d * d + b * d, p), kTiny);
            const float toLeft = std::clamp(signal[k - 1] / top / vertex, kFloor, 1.0f);
            const float toRight = std::clamp(signal[k + 1] / top / vertex, kFloor, 1.0f);
            const float c = (Bend(toLeft, p) / ((1.0f + d) * (1.0f + d)) +
                             Bend(toRight, p) / ((1.0f - d) * (1.0f - d))) /
                            2.0f;
            auto& curvature = itsCurvature[static_cast<size_t>(s)];
            curvature += rate * (c - curvature);
        }
    }
    if (itsLearnt < kWarmUp) {
        ++itsLearnt;
        return;
    }
    const auto best =
        static_cast<int32_t>(std::min_element(itsError.begin(), itsError.end()) - itsError.begin());
    if (itsError[static_cast<size_t>(best)] <
        kSwitchMargin * itsError[static_cast<size_t>(itsShape)]) {
        itsShape = best;
    }
}

}  // namespace kv
