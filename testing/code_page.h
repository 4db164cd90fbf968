// Runs part of a test under a given ANSI code page: POSIX sets it for the scope; Windows cannot,
// so there the scope is active only when the system already uses that code page (Wine takes 936
// from LANG=zh_CN.UTF-8, 1252 from an English locale).
#pragma once

#include "core/codepage.h"

namespace kwrt::testing {

class CodePageScope {
  public:
    explicit CodePageScope(unsigned codePage) {
        m_bActive = SetAnsiCodePageForTesting(codePage) || GetAnsiCodePage() == codePage;
    }
    ~CodePageScope() { SetAnsiCodePageForTesting(0); }
    CodePageScope(const CodePageScope&) = delete;
    CodePageScope& operator=(const CodePageScope&) = delete;

    bool Active() const { return m_bActive; }

  private:
    bool m_bActive = false;
};

}  // namespace kwrt::testing

// Skips the rest of the test unless it can run under `codePage`.
#define KWRT_USE_CODE_PAGE(codePage)                                                    \
    ::kwrt::testing::CodePageScope kwrtCodePageScope(codePage);                         \
    if (!kwrtCodePageScope.Active()) {                                                  \
        GTEST_SKIP() << "the system's ANSI code page is " << ::kwrt::GetAnsiCodePage(); \
    }
