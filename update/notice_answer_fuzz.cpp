// Fuzzes the reading of the notice service's answer with any bytes a server could send.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "update/notice_request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kwrt;
    const std::string body(reinterpret_cast<const char*>(data), size);
    std::wstring address;
    const RequestNoticeResult result = NoticeRequest::ClassifyAnswer(body, 200, &address);
    // An address only with the answer that names one.
    if ((result == kNoticeAddress) == address.empty()) {
        abort();
    }
    return 0;
}
