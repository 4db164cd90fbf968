#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

#include "core/single_instance.h"
#include "core/text.h"

namespace kwrt {

bool AcquireSingleInstance(const std::wstring& name) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    // An abstract address (leading zero byte): it vanishes with the last descriptor, so a crashed
    // launcher leaves nothing behind.
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string text = WideToUtf8(name);
    const size_t length =
        text.size() < sizeof(address.sun_path) - 1 ? text.size() : sizeof(address.sun_path) - 1;
    memcpy(address.sun_path + 1, text.data(), length);
    const socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
        close(fd);
        return false;
    }
    return true;  // the descriptor stays open until the process ends
}

}  // namespace kwrt
