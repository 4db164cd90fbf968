// Gzip members: how each file lies in a CDN package.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

struct z_stream_s;

namespace kwrt {

// Compresses one gzip member a piece at a time, with fixed header fields (no name, time 0,
// unknown OS), so equal input gives equal bytes on every system, however it is cut into pieces.
class GzipEncoder {
  public:
    GzipEncoder();
    ~GzipEncoder();
    GzipEncoder(const GzipEncoder&) = delete;
    GzipEncoder& operator=(const GzipEncoder&) = delete;

    // Compresses the next `size` input bytes and appends what the compressor gives out to `out`.
    void Add(const char* data, size_t size, std::string* out);
    // Ends the member: appends the rest of it and its trailer to `out`.
    void Finish(std::string* out);

  private:
    void Run(int flush, std::string* out);

    struct State;
    std::unique_ptr<State> m_pState;
    z_stream_s* m_pStream;  // in m_pState
};

// Unpacks one gzip member fed a piece at a time.
class GzipDecoder {
  public:
    using Sink = std::function<void(const char* data, size_t size)>;

    GzipDecoder();
    ~GzipDecoder();
    GzipDecoder(const GzipDecoder&) = delete;
    GzipDecoder& operator=(const GzipDecoder&) = delete;

    // Unpacks the next `size` bytes of the member, handing what they give to `sink`. False when
    // they are no gzip data or go on past the member's end.
    bool Add(const char* data, size_t size, const Sink& sink);
    // Whether the bytes fed so far end exactly with the member.
    bool Ended() const { return m_bEnded; }

  private:
    z_stream_s* m_pStream;
    bool m_bReady = false;
    bool m_bEnded = false;
};

// `bytes` as one gzip member, as GzipEncoder writes it.
std::string GzipMember(const std::string& bytes);
// Unpacks exactly one gzip member that fills `member` completely. False otherwise.
bool GunzipMember(const std::string& member, std::string* bytes);

}  // namespace kwrt
