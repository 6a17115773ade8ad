// The framing on its own: a stream of size-prefixed messages of mixed sizes
// (the sizes this system receives, VarData, HostRequest, HostEvent and
// VarDump messages, events and exceptions, and one in ten of any size from 12
// to 16384 bytes) fed in reads of a given size through the receive buffer and
// framing::ExtractMessage, as the transport's completion routine does, and the
// same reads copied into the buffer alone. No OS calls.
#pragma once

#include <cstddef>

namespace bench {

struct FramingFigures {
  size_t readSize = 0;
  size_t messages = 0;
  bool intact = false;       // every message came out with its size and first bytes
  double framingMiBs = 0.0;  // stream bytes per second through the framing
  double messagesPerSecond = 0.0;
  double copyMiBs = 0.0;  // the copies into the buffer alone
};

FramingFigures MeasureFraming(size_t streamMiB, size_t readSize);

}  // namespace bench
