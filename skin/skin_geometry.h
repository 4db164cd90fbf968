// The arithmetic of the skinned windows, without a window: the UI scale, scaled truncation, where a
// foreground sits on its background, centring, the message-box rectangle and buttons, the image
// button's states, the progress bar's rectangles and the waiting tips. Portable, so the host tests
// check every rule the windows rely on.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

namespace kwrt {

struct SkinPoint {
    int x = 0;
    int y = 0;
    bool operator==(const SkinPoint& o) const { return x == o.x && y == o.y; }
};

struct SkinRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const SkinRect& o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

// The UI scale from the screen's DPI and width: dpi / 96 when the DPI is not 96; otherwise 1 for
// a screen 757 to 1920 pixels wide and width / 1920 beyond (1 if that is not positive).
float ComputeUIScale(int dpi, int screenWidth);

// trunc(scale × value) in single precision: how every unscaled pixel constant becomes pixels.
int Scaled(float scale, int value);
// A rectangle whose four edges are each scaled and truncated: sizes are differences of truncated
// edges, not truncated sizes.
SkinRect ScaledRect(float scale, const SkinRect& unscaled);

// What a foreground takes off its background's rectangle: the frame (offsets, taken off both
// sides) and the extra insets (margins), all unscaled.
struct SkinInsets {
    int offsetX = 0;
    int offsetY = 0;
    int marginLeft = 0;
    int marginTop = 0;
    int marginRight = 0;
    int marginBottom = 0;
};

// Where a foreground goes on its background, and which part of the unscaled background image
// lies under it (the crop, in image pixels).
struct ForegroundPlacement {
    int width = 0;
    int height = 0;
    SkinPoint position;  // screen coordinates of the foreground's top-left corner
    int cropX = 0;
    int cropY = 0;
    int cropWidth = 0;
    int cropHeight = 0;
};
ForegroundPlacement PlaceForeground(const SkinRect& background, float scale,
                                    const SkinInsets& foreground);
// The foreground's top-left corner for a background whose top-left corner is `origin`.
SkinPoint ForegroundOrigin(const SkinPoint& origin, float scale, const SkinInsets& foreground);

// The top-left corner that centres a width × height window on `area`; each half is an integer
// division truncating toward zero.
SkinPoint CenterIn(const SkinRect& area, int width, int height);
// The rectangle on which a group's message boxes are centred: the background's rectangle with
// the offsets added to its left and top edges.
SkinRect MessageBoxCenterRect(const SkinRect& background, int offsetX, int offsetY);

// Message-box types that show one button: MB_OK, the four icon values and MB_HELP.
bool IsSingleButtonType(unsigned type);
// The left edge that centres a button of `buttonWidth` in a box of `boxWidth`.
int CentredButtonLeft(int boxWidth, int buttonWidth);

// The image button's states and hover tracking.
class ButtonStateMachine {
  public:
    enum State : int { kNormal = 1, kPressed = 2, kHover = 3 };

    // Each returns true when the button must be repainted.
    bool LeftButtonDown();
    bool LeftButtonUp();
    // `requestTracking` asks for hover and leave notifications and says whether that worked;
    // it is called only while none is pending.
    template <typename Request>
    bool MouseMove(Request requestTracking) {
        if (!m_bTracking && requestTracking()) {
            m_bTracking = true;
        }
        return ToHoverIfNormal();
    }
    bool MouseHover();
    bool MouseLeave();

    int State() const { return m_nState; }
    bool Tracking() const { return m_bTracking; }

  private:
    bool ToHoverIfNormal();

    int m_nState = kNormal;
    bool m_bTracking = false;
};

// Where the caption of an image button goes: its measured box centred in the button.
struct CaptionOrigin {
    float x = 0.f;
    float y = 0.f;
};
CaptionOrigin CentreCaption(int buttonWidth, int buttonHeight, float textWidth, float textHeight);

// The rectangles of a progress bar painting: the track (drawn when there is one) and the left part
// of the fill, cropped rather than squeezed.
struct ProgressPaint {
    bool drawTrack = false;
    int trackWidth = 0;
    int trackHeight = 0;
    float srcWidth = 0.f;
    float srcHeight = 0.f;
    float dstX = 0.f;
    float dstY = 0.f;
    float dstWidth = 0.f;
    float dstHeight = 0.f;
};
ProgressPaint LayoutProgressPaint(int clientWidth, float scale, int fillWidth, int fillHeight,
                                  float value, bool hasTrack);

// The waiting tips the close confirmation shows, in their order.
std::vector<std::wstring> WaitingTipTexts();
// The tip index for the current time: the C runtime generator seeded with `now`, then rand() modulo
// `count`. The same second gives the same tip.
size_t PickWaitingTipIndex(std::time_t now, size_t count);

}  // namespace kwrt
