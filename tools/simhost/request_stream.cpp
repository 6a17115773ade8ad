// Cutting a client's byte stream into size-prefixed requests.
#include "request_stream.h"

#include "host_protocol.h"
#include "simconnect/wire.h"

namespace simhost {

void RequestStream::Append(const uint8_t* data, size_t n) {
  if (malformed_ || n == 0) return;
  // Drop what has been handed out before growing, so the buffer holds at most
  // one unfinished request plus the latest read.
  if (readPos_ > 0) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(readPos_));
    readPos_ = 0;
  }
  buffer_.insert(buffer_.end(), data, data + n);
}

RequestStream::Result RequestStream::Next(const uint8_t** request, uint32_t* size) {
  if (malformed_) return kMalformed;
  size_t available = buffer_.size() - readPos_;
  if (available < 4) return kNeedMore;
  uint32_t field = wire::LoadU32(buffer_.data() + readPos_);
  if (field < host_protocol::kMinRequestSize || field > host_protocol::kMaxRequestSize) {
    malformed_ = true;
    badSize_ = field;
    return kMalformed;
  }
  if (available < field) return kNeedMore;
  *request = buffer_.data() + readPos_;
  *size = field;
  readPos_ += field;
  return kRequest;
}

}  // namespace simhost
