#include "skin/skin_geometry.h"

#include <cstdlib>

namespace kwrt {

float ComputeUIScale(int dpi, int screenWidth) {
    if (dpi != 96) {
        return static_cast<float>(dpi / 96.0);
    }
    if (screenWidth >= 757 && screenWidth <= 1920) {
        return 1.0f;
    }
    const float scale = static_cast<float>(screenWidth / 1920.0);
    return scale > 0.f ? scale : 1.0f;
}

int Scaled(float scale, int value) {
    return static_cast<int>(scale * static_cast<float>(value));
}

SkinRect ScaledRect(float scale, const SkinRect& unscaled) {
    return SkinRect{Scaled(scale, unscaled.left), Scaled(scale, unscaled.top),
                    Scaled(scale, unscaled.right), Scaled(scale, unscaled.bottom)};
}

SkinPoint ForegroundOrigin(const SkinPoint& origin, float scale, const SkinInsets& fg) {
    return SkinPoint{origin.x + Scaled(scale, fg.marginLeft + fg.offsetX),
                     origin.y + Scaled(scale, fg.marginTop + fg.offsetY)};
}

ForegroundPlacement PlaceForeground(const SkinRect& background, float scale, const SkinInsets& fg) {
    ForegroundPlacement p;
    const float takenX =
        scale * static_cast<float>(2 * fg.offsetX + fg.marginLeft + fg.marginRight);
    const float takenY =
        scale * static_cast<float>(2 * fg.offsetY + fg.marginTop + fg.marginBottom);
    p.width = static_cast<int>(static_cast<float>(background.Width()) - takenX);
    p.height = static_cast<int>(static_cast<float>(background.Height()) - takenY);
    p.position = ForegroundOrigin(SkinPoint{background.left, background.top}, scale, fg);
    const int dx = p.position.x - background.left;
    const int dy = p.position.y - background.top;
    p.cropX = static_cast<int>(static_cast<float>(dx) / scale);
    p.cropY = static_cast<int>(static_cast<float>(dy) / scale);
    p.cropWidth = static_cast<int>(static_cast<float>(p.width) / scale);
    p.cropHeight = static_cast<int>(static_cast<float>(p.height) / scale);
    return p;
}

SkinPoint CenterIn(const SkinRect& area, int width, int height) {
    return SkinPoint{area.left + (area.Width() / 2 - width / 2),
                     area.top + (area.Height() / 2 - height / 2)};
}

SkinRect MessageBoxCenterRect(const SkinRect& background, int offsetX, int offsetY) {
    SkinRect r = background;
    r.left += offsetX;
    r.top += offsetY;
    return r;
}

bool IsSingleButtonType(unsigned type) {
    switch (type) {
        case 0x0:     // MB_OK
        case 0x10:    // MB_ICONHAND
        case 0x20:    // MB_ICONQUESTION
        case 0x30:    // MB_ICONEXCLAMATION
        case 0x40:    // MB_ICONASTERISK
        case 0x4000:  // MB_HELP
            return true;
        default:
            return false;
    }
}

int CentredButtonLeft(int boxWidth, int buttonWidth) {
    return static_cast<int>(static_cast<float>(boxWidth - buttonWidth) * 0.5f);
}

bool ButtonStateMachine::LeftButtonDown() {
    if (m_nState == kPressed) {
        return false;
    }
    m_nState = kPressed;
    return true;
}

bool ButtonStateMachine::LeftButtonUp() {
    if (m_nState == kNormal) {
        return false;
    }
    m_nState = kNormal;
    return true;
}

bool ButtonStateMachine::ToHoverIfNormal() {
    if (m_nState != kNormal) {
        return false;
    }
    m_nState = kHover;
    return true;
}

bool ButtonStateMachine::MouseHover() {
    m_bTracking = false;
    return ToHoverIfNormal();
}

bool ButtonStateMachine::MouseLeave() {
    m_bTracking = false;
    if (m_nState == kNormal) {
        return false;
    }
    m_nState = kNormal;
    return true;
}

CaptionOrigin CentreCaption(int buttonWidth, int buttonHeight, float textWidth, float textHeight) {
    return CaptionOrigin{(static_cast<float>(buttonWidth) - textWidth) * 0.5f,
                         (static_cast<float>(buttonHeight) - textHeight) * 0.5f};
}

ProgressPaint LayoutProgressPaint(int clientWidth, float scale, int fillWidth, int fillHeight,
                                  float value, bool hasTrack) {
    ProgressPaint p;
    float inset = 0.f;
    if (hasTrack) {
        p.drawTrack = true;
        p.trackWidth = clientWidth;
        p.trackHeight = Scaled(scale, fillHeight);
        inset = 0.5f;
    }
    p.srcWidth = static_cast<float>(fillWidth) * value;
    p.srcHeight = static_cast<float>(fillHeight);
    p.dstX = inset;
    p.dstY = inset;
    p.dstWidth = (static_cast<float>(clientWidth) - 2.f * inset) * value;
    p.dstHeight = scale * static_cast<float>(fillHeight) - scale * 2.f * inset;
    return p;
}

std::vector<std::wstring> WaitingTipTexts() {
    return {
        L"万人同服，震撼全世界！可以再等等…",  L"真实战斗场景！值得你的等待~",
        L"不再等等了吗… 纯3D特效战争场景哦！", L"玩命下载，很快的，您可以喝杯茶再等等~",
        L"无尽的战争，搞笑的战斗，值得拥有！", L"说什么好呢……还是再等等吧！",
    };
}

size_t PickWaitingTipIndex(std::time_t now, size_t count) {
    if (count == 0) {
        return 0;
    }
    std::srand(static_cast<unsigned>(now));
    return static_cast<size_t>(std::rand()) % count;
}

}  // namespace kwrt
