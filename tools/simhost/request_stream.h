// Cutting a client's byte stream into requests. Each request begins with its
// total size as a little-endian u32; requests follow one another without gaps.
// A size field below 16 (a request cannot be shorter than its header) or above
// host_protocol::kMaxRequestSize makes the stream malformed: nothing after it
// can be trusted, and the client is dropped. Fed bytes, it answers "request",
// "need more" or "malformed"; it never reads or blocks itself. No OS calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace simhost {

class RequestStream {
 public:
  enum Result { kRequest, kNeedMore, kMalformed };

  // Appends received bytes. Must not be called while a request handed out by
  // Next is still being used.
  void Append(const uint8_t* data, size_t n);

  // Cuts the next request. kRequest: *request and *size describe it, valid
  // until the following Append or Next. kNeedMore: no whole request is
  // buffered. kMalformed: the size field that broke the stream is in
  // BadSizeField(), and every later call answers kMalformed again.
  Result Next(const uint8_t** request, uint32_t* size);

  uint32_t BadSizeField() const { return badSize_; }
  // Bytes received and not yet handed out.
  size_t Buffered() const { return buffer_.size() - readPos_; }

 private:
  std::vector<uint8_t> buffer_;
  size_t readPos_ = 0;
  bool malformed_ = false;
  uint32_t badSize_ = 0;
};

}  // namespace simhost
