// Fuzzes the reading of the event log's answer with any bytes a server could send.
#include <cstddef>
#include <cstdint>
#include <string>

#include "screens/step_event_upload.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kwrt;
    int code = 0;
    std::wstring msg;
    OrvandelLogDataUpLoad::ReadAnswer(std::string(reinterpret_cast<const char*>(data), size), 200,
                                      &code, &msg);
    return 0;
}
