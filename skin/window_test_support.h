// What the skin's window tests share: GDI+ for the run, the open boxes, clicks, rectangles, the
// screenshot folder, and a fixture that checks that every test gives back all it took.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "framework/gdi_handles.h"
#include "skin/message_box.h"
#include "testing/ui_script.h"

namespace kwrt {

// screenshots\ below the test's working directory.
std::wstring ScreenshotFolder();
// The newest open box and its foreground, or null.
CSkinDialog* NewestBox();
CSkinMessageBox* NewestForeground();
// True once `depth` boxes are open and the newest has painted (its foreground turns opaque then).
bool BoxIsUp(size_t depth = 1);
void Click(CWnd& button);
RECT Rect(HWND window);
// A control's top-left corner in its parent's client area.
POINT ClientTopLeft(CWnd& control);

class SkinWindowTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Starts the script, runs the body (which opens the loops the script drives) and checks that
    // the script ran to its end.
    void Run(testing::UiScript& script, const std::function<void()>& body);

    long m_bound = 0;
    GdiHandleCounts m_gdi;
    long m_gdiplus = 0;
};

}  // namespace kwrt
