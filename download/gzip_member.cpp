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

GzipDecoder::GzipDecoder() : m_pStream(new z_stream()) {
    m_bReady = inflateInit2(m_pStream, 15 + 16) == Z_OK;
}

GzipDecoder::~GzipDecoder() {
    if (m_bReady) {
        inflateEnd(m_pStream);
    }
    delete m_pStream;
}

bool GzipDecoder::Add(const char* data, size_t size, const Sink& sink) {
    if (!m_bReady) {
        return false;
    }
    char buffer[65536];
    while (size > 0) {
        if (m_bEnded) {
            return false;  // bytes after the member's end
        }
        const size_t take = size < kPiece ? size : kPiece;
        m_pStream->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        m_pStream->avail_in = static_cast<uInt>(take);
        do {
            m_pStream->next_out = reinterpret_cast<Bytef*>(buffer);
            m_pStream->avail_out = sizeof(buffer);
            const int rc = inflate(m_pStream, Z_NO_FLUSH);
            if (rc == Z_BUF_ERROR) {
                break;  // no progress without more input
            }
            if (rc != Z_OK && rc != Z_STREAM_END) {
                return false;
            }
            if (sizeof(buffer) > m_pStream->avail_out) {
                sink(buffer, sizeof(buffer) - m_pStream->avail_out);
            }
            if (rc == Z_STREAM_END) {
                m_bEnded = true;
                break;
            }
        } while (m_pStream->avail_in > 0 || m_pStream->avail_out == 0);
        if (m_bEnded && m_pStream->avail_in > 0) {
            return false;
        }
        data += take;
        size -= take;
    }
    return true;
}

bool GunzipMember(const std::string& member, std::string* bytes) {
    bytes->clear();
    GzipDecoder decoder;
    const bool fed =
        decoder.Add(member.data(), member.size(),
                    [bytes](const char* data, size_t size) { bytes->append(data, size); });
    return fed && decoder.Ended();
}

}  // namespace kwrt
