#include "skin/skin_geometry.h"

#include <gtest/gtest.h>

#include <set>

namespace kwrt {
namespace {

TEST(UIScale, FollowsTheDpiOrElseTheScreenWidth) {
    EXPECT_FLOAT_EQ(ComputeUIScale(96, 1920), 1.0f);
    EXPECT_FLOAT_EQ(ComputeUIScale(96, 757), 1.0f);
    EXPECT_FLOAT_EQ(ComputeUIScale(96, 1024), 1.0f);
    EXPECT_FLOAT_EQ(ComputeUIScale(96, 756), 0.39375f);
    EXPECT_EQ(ComputeUIScale(96, 2560), 1.3333334f);
    EXPECT_FLOAT_EQ(ComputeUIScale(96, 0), 1.0f);
    EXPECT_FLOAT_EQ(ComputeUIScale(96, -5), 1.0f);
    // Another DPI wins whatever the width.
    EXPECT_FLOAT_EQ(ComputeUIScale(120, 640), 1.25f);
    EXPECT_FLOAT_EQ(ComputeUIScale(120, 3840), 1.25f);
    EXPECT_FLOAT_EQ(ComputeUIScale(144, 1920), 1.5f);
}

TEST(Scaled, TruncatesTowardZero) {
    EXPECT_EQ(Scaled(1.25f, 987), 1233);
    EXPECT_EQ(Scaled(1.25f, 388), 485);
    EXPECT_EQ(Scaled(1.0f, 987), 987);
    EXPECT_EQ(Scaled(0.39375f, 987), 388);
    EXPECT_EQ(Scaled(1.25f, -3), -3);  // -3.75 truncates toward zero
}

TEST(ScaledRect, SizesAreDifferencesOfTruncatedEdges) {
    // The speed line of the main window at 1.25: 435 - 416 = 19, not trunc(1.25 x 15) = 18.
    const SkinRect r = ScaledRect(1.25f, SkinRect{130, 333, 530, 348});
    EXPECT_EQ(r, (SkinRect{162, 416, 662, 435}));
    EXPECT_EQ(r.Width(), 500);
    EXPECT_EQ(r.Height(), 19);
}

TEST(ForegroundPlacement, MessageBoxForegroundSitsInsideTheFrame) {
    SkinInsets box;
    box.marginLeft = box.marginRight = 20;
    box.marginTop = box.marginBottom = 18;
    const ForegroundPlacement at1 = PlaceForeground(SkinRect{100, 50, 466, 234}, 1.0f, box);
    EXPECT_EQ(at1.width, 326);
    EXPECT_EQ(at1.height, 148);
    EXPECT_EQ(at1.position, (SkinPoint{120, 68}));
    EXPECT_EQ(at1.cropX, 20);
    EXPECT_EQ(at1.cropY, 18);
    EXPECT_EQ(at1.cropWidth, 326);
    EXPECT_EQ(at1.cropHeight, 148);

    // 366 x 184 at 1.25 is a 457 x 230 window.
    const ForegroundPlacement at125 = PlaceForeground(SkinRect{0, 0, 457, 230}, 1.25f, box);
    EXPECT_EQ(at125.width, 407);                     // 457 - 50
    EXPECT_EQ(at125.height, 185);                    // 230 - 45
    EXPECT_EQ(at125.position, (SkinPoint{25, 22}));  // trunc(22.5)
    EXPECT_EQ(at125.cropX, 20);
    EXPECT_EQ(at125.cropY, 17);  // trunc(22 / 1.25): the crop follows the truncated offset
    EXPECT_EQ(at125.cropWidth, 325);
    EXPECT_EQ(at125.cropHeight, 148);
}

TEST(ForegroundPlacement, OffsetsCountOnBothSidesAndMarginsOnOne) {
    SkinInsets fg;
    fg.offsetX = 5;
    fg.offsetY = 3;
    fg.marginLeft = 200;
    const ForegroundPlacement p = PlaceForeground(SkinRect{10, 20, 997, 408}, 1.0f, fg);
    EXPECT_EQ(p.width, 987 - 210);
    EXPECT_EQ(p.height, 388 - 6);
    EXPECT_EQ(p.position, (SkinPoint{215, 23}));
    EXPECT_EQ(p.cropX, 205);
    EXPECT_EQ(p.cropWidth, 777);

    // The main window's foreground covers the picture from x = 200 over its full height.
    SkinInsets main;
    main.marginLeft = 200;
    const ForegroundPlacement m = PlaceForeground(SkinRect{0, 0, 1233, 485}, 1.25f, main);
    EXPECT_EQ(m.position, (SkinPoint{250, 0}));
    EXPECT_EQ(m.width, 983);
    EXPECT_EQ(m.height, 485);
    EXPECT_EQ(m.cropX, 200);
    EXPECT_EQ(m.cropWidth, 786);
    EXPECT_EQ(ForegroundOrigin(SkinPoint{7, 9}, 1.25f, main), (SkinPoint{257, 9}));
}

TEST(Centring, HalvesEachSizeBeforeSubtracting) {
    EXPECT_EQ(CenterIn(SkinRect{0, 0, 1600, 900}, 987, 388), (SkinPoint{307, 256}));
    // 101 / 2 = 50 and 51 / 2 = 25 each truncate: 50 - 25 = 25, not (101 - 51) / 2 = 25 by luck;
    // 101 and 50: 50 - 25 = 25 where (101 - 50) / 2 = 25; 101 and 49: 50 - 24 = 26 against 26.
    EXPECT_EQ(CenterIn(SkinRect{10, 10, 111, 111}, 51, 50), (SkinPoint{35, 35}));
    EXPECT_EQ(CenterIn(SkinRect{0, 0, 101, 101}, 51, 51), (SkinPoint{25, 25}));
    EXPECT_EQ(CenterIn(SkinRect{0, 0, 100, 100}, 51, 51), (SkinPoint{25, 25}));
    // A box bigger than the area goes up and left of it.
    EXPECT_EQ(CenterIn(SkinRect{100, 100, 200, 200}, 300, 300), (SkinPoint{0, 0}));
}

TEST(Centring, GroupBoxesCentreBelowRightOfTheBackground) {
    const SkinRect r = MessageBoxCenterRect(SkinRect{100, 100, 1087, 488}, 160, 90);
    EXPECT_EQ(r, (SkinRect{260, 190, 1087, 488}));
    // A 366 x 184 box on it: 80 right of and 45 below the background's centre.
    const SkinPoint box = CenterIn(r, 366, 184);
    const SkinPoint plain = CenterIn(SkinRect{100, 100, 1087, 488}, 366, 184);
    EXPECT_EQ(box.x - plain.x, 80);
    EXPECT_EQ(box.y - plain.y, 45);
}

TEST(MessageBoxButtons, OneButtonForOkTheIconsAndHelp) {
    for (unsigned type : {0x0u, 0x10u, 0x20u, 0x30u, 0x40u, 0x4000u}) {
        EXPECT_TRUE(IsSingleButtonType(type)) << type;
    }
    for (unsigned type : {0x1u, 0x4u, 0x5u, 0x14u, 0x24u, 0x4001u, 0x50u}) {
        EXPECT_FALSE(IsSingleButtonType(type)) << type;
    }
    // The single button, 137 wide, in a 326-wide box.
    EXPECT_EQ(CentredButtonLeft(326, 137), 94);
    EXPECT_EQ(CentredButtonLeft(407, 171), 118);
}

TEST(ButtonStates, HoverPressReleaseAndLeave) {
    ButtonStateMachine b;
    int requests = 0;
    auto grant = [&] {
        ++requests;
        return true;
    };
    EXPECT_EQ(b.State(), ButtonStateMachine::kNormal);
    EXPECT_TRUE(b.MouseMove(grant));
    EXPECT_EQ(b.State(), ButtonStateMachine::kHover);
    EXPECT_TRUE(b.Tracking());
    EXPECT_FALSE(b.MouseMove(grant));  // already hovering: no repaint, no second request
    EXPECT_EQ(requests, 1);
    EXPECT_TRUE(b.LeftButtonDown());
    EXPECT_EQ(b.State(), ButtonStateMachine::kPressed);
    EXPECT_FALSE(b.LeftButtonDown());
    EXPECT_FALSE(b.MouseMove(grant));  // pressing keeps the active image
    EXPECT_EQ(b.State(), ButtonStateMachine::kPressed);
    EXPECT_TRUE(b.LeftButtonUp());
    EXPECT_EQ(b.State(), ButtonStateMachine::kNormal);  // normal until the next move
    EXPECT_FALSE(b.LeftButtonUp());
    EXPECT_TRUE(b.MouseMove(grant));
    EXPECT_EQ(b.State(), ButtonStateMachine::kHover);
    EXPECT_TRUE(b.MouseLeave());
    EXPECT_EQ(b.State(), ButtonStateMachine::kNormal);
    EXPECT_FALSE(b.Tracking());
    EXPECT_FALSE(b.MouseLeave());
}

TEST(ButtonStates, LeavingWhilePressedReturnsToNormal) {
    ButtonStateMachine b;
    EXPECT_TRUE(b.LeftButtonDown());
    EXPECT_TRUE(b.MouseLeave());
    EXPECT_EQ(b.State(), ButtonStateMachine::kNormal);
    // A hover notice in the normal state shows the active image again.
    EXPECT_TRUE(b.MouseHover());
    EXPECT_EQ(b.State(), ButtonStateMachine::kHover);
}

TEST(ButtonStates, AFailedTrackingRequestIsAskedAgain) {
    ButtonStateMachine b;
    int requests = 0;
    auto refuse = [&] {
        ++requests;
        return false;
    };
    b.MouseMove(refuse);
    b.MouseMove(refuse);
    EXPECT_EQ(requests, 2);
    EXPECT_FALSE(b.Tracking());
    EXPECT_EQ(b.State(), ButtonStateMachine::kHover);
}

TEST(Caption, TheMeasuredBoxIsCentred) {
    const CaptionOrigin o = CentreCaption(137, 47, 40.5f, 21.f);
    EXPECT_FLOAT_EQ(o.x, 48.25f);
    EXPECT_FLOAT_EQ(o.y, 13.f);
}

TEST(ProgressPaint, TheFillIsCroppedNotSqueezed) {
    const ProgressPaint empty = LayoutProgressPaint(400, 1.f, 400, 18, 0.f, true);
    EXPECT_TRUE(empty.drawTrack);
    EXPECT_EQ(empty.trackWidth, 400);
    EXPECT_EQ(empty.trackHeight, 18);
    EXPECT_FLOAT_EQ(empty.dstWidth, 0.f);
    EXPECT_FLOAT_EQ(empty.srcWidth, 0.f);

    const ProgressPaint half = LayoutProgressPaint(400, 1.f, 400, 18, 0.5f, true);
    EXPECT_FLOAT_EQ(half.srcWidth, 200.f);
    EXPECT_FLOAT_EQ(half.srcHeight, 18.f);
    EXPECT_FLOAT_EQ(half.dstX, 0.5f);
    EXPECT_FLOAT_EQ(half.dstY, 0.5f);
    EXPECT_FLOAT_EQ(half.dstWidth, 199.5f);
    EXPECT_FLOAT_EQ(half.dstHeight, 17.f);

    const ProgressPaint full = LayoutProgressPaint(400, 1.f, 400, 18, 1.f, true);
    EXPECT_FLOAT_EQ(full.srcWidth, 400.f);
    EXPECT_FLOAT_EQ(full.dstWidth, 399.f);  // W - 1 from 0.5

    // Without a track there is no inset; at 1.25 the bar is 22 high, the fill 22.5 - 2.5.
    const ProgressPaint bare = LayoutProgressPaint(500, 1.25f, 400, 18, 1.f, false);
    EXPECT_FALSE(bare.drawTrack);
    EXPECT_FLOAT_EQ(bare.dstX, 0.f);
    EXPECT_FLOAT_EQ(bare.dstWidth, 500.f);
    EXPECT_FLOAT_EQ(bare.dstHeight, 22.5f);
    const ProgressPaint tracked = LayoutProgressPaint(500, 1.25f, 400, 18, 1.f, true);
    EXPECT_EQ(tracked.trackHeight, 22);
    EXPECT_FLOAT_EQ(tracked.dstHeight, 21.25f);
}

TEST(WaitingTips, SixTipsAndTheSameOneWithinASecond) {
    const std::vector<std::wstring> tips = WaitingTipTexts();
    ASSERT_EQ(tips.size(), 6u);
    EXPECT_EQ(tips.front(), L"万人同服，震撼全世界！可以再等等…");
    EXPECT_EQ(tips.back(), L"说什么好呢……还是再等等吧！");
    std::set<size_t> seen;
    for (std::time_t t = 1700000000; t < 1700000200; ++t) {
        const size_t first = PickWaitingTipIndex(t, tips.size());
        EXPECT_EQ(PickWaitingTipIndex(t, tips.size()), first);
        ASSERT_LT(first, tips.size());
        seen.insert(first);
    }
    EXPECT_EQ(seen.size(), tips.size());  // over 200 seconds every tip comes up
    EXPECT_EQ(PickWaitingTipIndex(5, 0), 0u);
}

}  // namespace
}  // namespace kwrt
