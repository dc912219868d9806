// What the touch output needs to know about the primary display.
#pragma once

#include <cstdint>
#include <optional>

namespace kv {

// The physical size of a picture, for input devices that report their resolution.
struct ScreenMillimetres {
    int32_t width = 0;
    int32_t height = 0;
    bool operator==(const ScreenMillimetres&) const = default;
};
// The size assumed when neither the user (--screen-mm) nor a display server gives one: the
// example 55-inch 16:9 screen.
constexpr ScreenMillimetres kDefaultScreenMm{1218, 685};

class DisplayInfo {
public:
    virtual ~DisplayInfo() = default;
    // Primary screen size in pixels (65536 x 65536 without a display server).
    virtual int32_t Width() const = 0;
    virtual int32_t Height() const = 0;
    // Rotation of the primary output in quarter turns: 0, 1 (90 degrees), 2, 3.
    virtual int32_t Orientation() const = 0;
    // Rotation of the monitor that shows a point of the desktop (fractions of its width and
    // height); the primary's where no monitor shows it, or with a single picture.
    virtual int32_t OrientationAt(float /*x*/, float /*y*/) const { return Orientation(); }
    // The physical size of the primary screen, when the display server knows it.
    virtual std::optional<ScreenMillimetres> SizeMm() const { return std::nullopt; }
};

// A display with fixed properties: no display server, or tests.
class FixedDisplay final : public DisplayInfo {
public:
    FixedDisplay(int32_t width = 65536, int32_t height = 65536, int32_t orientation = 0)
        : width_(width), height_(height), orientation_(orientation) {}
    int32_t Width() const override { return width_; }
    int32_t Height() const override { return height_; }
    int32_t Orientation() const override { return orientation_; }
    void SetOrientation(int32_t orientation) { orientation_ = orientation; }

private:
    int32_t width_;
    int32_t height_;
    int32_t orientation_;
};

}  // namespace kv
