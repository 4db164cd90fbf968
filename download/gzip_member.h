// Gzip members: how each file lies in a CDN package.
#pragma once

#include <cstddef>
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

// `bytes` as one gzip member, as GzipEncoder writes it.
std::string GzipMember(const std::string& bytes);
// Unpacks exactly one gzip member that fills `member` completely. False otherwise.
bool GunzipMember(const std::string& member, std::string* bytes);

}  // namespace kwrt
