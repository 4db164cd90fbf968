#include "download/gzip_member.h"

#include <zlib.h>

namespace kwrt {

namespace {

// The most the compressor takes or gives in one call: its counters are 32-bit.
constexpr size_t kPiece = 1u << 20;

}  // namespace

// The compressor and the header it writes on its first call, which it only points to.
struct GzipEncoder::State {
    z_stream stream{};
    gz_header header{};
};

GzipEncoder::GzipEncoder() : m_pState(new State()), m_pStream(&m_pState->stream) {
    deflateInit2(m_pStream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    m_pState->header.os = 255;  // unknown: the same bytes from every system
    deflateSetHeader(m_pStream, &m_pState->header);
}

GzipEncoder::~GzipEncoder() {
    deflateEnd(m_pStream);
}

void GzipEncoder::Add(const char* data, size_t size, std::string* out) {
    while (size > 0) {
        const size_t take = size < kPiece ? size : kPiece;
        m_pStream->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        m_pStream->avail_in = static_cast<uInt>(take);
        Run(Z_NO_FLUSH, out);
        data += take;
        size -= take;
    }
}

void GzipEncoder::Finish(std::string* out) {
    m_pStream->next_in = nullptr;
    m_pStream->avail_in = 0;
    Run(Z_FINISH, out);
}

void GzipEncoder::Run(int flush, std::string* out) {
    // Until the compressor has taken all input (and, when finishing, written the trailer).
    for (;;) {
        const size_t before = out->size();
        out->resize(before + kPiece / 4);
        m_pStream->next_out = reinterpret_cast<Bytef*>(&(*out)[before]);
        m_pStream->avail_out = static_cast<uInt>(kPiece / 4);
        const int rc = deflate(m_pStream, flush);
        out->resize(before + kPiece / 4 - m_pStream->avail_out);
        if (flush == Z_FINISH ? rc == Z_STREAM_END
                              : m_pStream->avail_in == 0 && m_pStream->avail_out != 0) {
            return;
        }
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            return;  // only a broken stream state; the member then fails its check
        }
    }
}

std::string GzipMember(const std::string& bytes) {
    GzipEncoder encoder;
    std::string out;
    encoder.Add(bytes.data(), bytes.size(), &out);
    encoder.Finish(&out);
    return out;
}

bool GunzipMember(const std::string& member, std::string* bytes) {
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 16) != Z_OK) {
        return false;
    }
    const char* next = member.data();
    size_t left = member.size();
    bytes->clear();
    char buffer[65536];
    int rc = Z_OK;
    do {
        if (stream.avail_in == 0 && left > 0) {
            const size_t take = left < kPiece ? left : kPiece;
            stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(next));
            stream.avail_in = static_cast<uInt>(take);
            next += take;
            left -= take;
        }
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof(buffer);
        rc = inflate(&stream, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) {
            inflateEnd(&stream);
            return false;
        }
        bytes->append(buffer, sizeof(buffer) - stream.avail_out);
    } while (rc != Z_STREAM_END && (stream.avail_in > 0 || left > 0 || stream.avail_out == 0));
    const bool whole = rc == Z_STREAM_END && stream.avail_in == 0 && left == 0;
    inflateEnd(&stream);
    return whole;
}

}  // namespace kwrt
