#include "download/gzip_member.h"

#include <zlib.h>

namespace kwrt {

std::string GzipMember(const std::string& bytes) {
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    gz_header header{};
    header.os = 255;  // unknown: the same bytes from every system
    deflateSetHeader(&stream, &header);
    std::string out(deflateBound(&stream, static_cast<uLong>(bytes.size())) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

bool GunzipMember(const std::string& member, std::string* bytes) {
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 16) != Z_OK) {
        return false;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(member.data()));
    stream.avail_in = static_cast<uInt>(member.size());
    bytes->clear();
    char buffer[65536];
    int rc;
    do {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof(buffer);
        rc = inflate(&stream, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) {
            inflateEnd(&stream);
            return false;
        }
        bytes->append(buffer, sizeof(buffer) - stream.avail_out);
    } while (rc != Z_STREAM_END && (stream.avail_in > 0 || stream.avail_out == 0));
    const bool whole = rc == Z_STREAM_END && stream.avail_in == 0;
    inflateEnd(&stream);
    return whole;
}

}  // namespace kwrt
