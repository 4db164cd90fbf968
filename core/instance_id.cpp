#include "core/instance_id.h"

namespace kwrt {

std::atomic<int32_t> CCustomInstanceID::s_nCounter{0};

}  // namespace kwrt
