// Process-wide instance numbers: 1, 2, 3 ... in creation order, unique across threads.
#pragma once

#include <atomic>
#include <cstdint>

namespace kwrt {

class CCustomInstanceID {
  public:
    CCustomInstanceID() : m_nInstanceID(s_nCounter.fetch_add(1) + 1) {}
    virtual ~CCustomInstanceID() = default;

    int32_t m_nInstanceID;

  private:
    static std::atomic<int32_t> s_nCounter;
};

}  // namespace kwrt
