// Where a session's outgoing messages go: the connection's outbox for a pipe or
// socket client, or a callback for a client fed from memory. Deliver may be
// called from any thread (the client's own, the frame clock, the console, or
// another client writing a shared client-data area) and must not block.
#pragma once

#include "message_builder.h"

namespace simhost {

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Takes one whole message. A sink whose client is gone drops it.
  virtual void Deliver(Message message) = 0;
};

}  // namespace simhost
