// The I/O thread of one pipe or socket client.
#include "connection.h"

#include <cstring>

#include "host_protocol.h"
#include "simconnect/wire.h"
#include "server_core.h"
#include "session.h"

namespace simhost {

namespace {

// Keeps a buffer alive for the rest of the process: an operation that could
// not be cancelled may still write into it.
void KeepForever(std::vector<uint8_t>&& buffer) { new std::vector<uint8_t>(std::move(buffer)); }

}  // namespace

Outbox::Outbox(size_t maxPendingBytes) : event_(MakeEvent(false)), maxPendingBytes_(maxPendingBytes) {}

void Outbox::Deliver(Message message) {
  {
    std::lock_guard<SlimLock> guard(lock_);
    if (closed_ || overflowed_) return;
    if (queuedBytes_ + message.size() > maxPendingBytes_) {
      overflowed_ = true;
    } else {
      queuedBytes_ += message.size();
      unwrittenBytes_.fetch_add(message.size(), std::memory_order_acq_rel);
      queue_.push_back(std::move(message));
    }
  }
  SetEvent(event_.Get());
}

bool Outbox::TakeBatch(std::vector<uint8_t>* batch, size_t maxBytes) {
  std::lock_guard<SlimLock> guard(lock_);
  batch->clear();
  while (!queue_.empty() && (batch->empty() || batch->size() + queue_.front().size() <= maxBytes)) {
    const Message& message = queue_.front();
    batch->insert(batch->end(), message.begin(), message.end());
    queuedBytes_ -= message.size();
    queue_.pop_front();
  }
  return !batch->empty();
}

void Outbox::Written(size_t n) { unwrittenBytes_.fetch_sub(n, std::memory_order_acq_rel); }

bool Outbox::Overflowed() {
  std::lock_guard<SlimLock> guard(lock_);
  return overflowed_;
}

void Outbox::Close() {
  std::lock_guard<SlimLock> guard(lock_);
  closed_ = true;
  queue_.clear();
  queuedBytes_ = 0;
}

Connection::Connection(std::unique_ptr<IoChannel> channel, ServerCore& core, const char* transport,
                       size_t maxPendingBytes, const ReadPause& pause)
    : channel_(std::move(channel)),
      core_(core),
      transport_(transport),
      outbox_(std::make_shared<Outbox>(maxPendingBytes)),
      route_(std::make_shared<MessageRoute>(outbox_, [outbox = outbox_] { return outbox->Drained(); })),
      stopEvent_(MakeEvent(true)),
      pause_(pause) {
  framing::InitReceiveBuffer(receive_);
}

Connection::~Connection() {
  RequestClose();
  Join();
  framing::FreeReceiveBuffer(receive_);
  framing::FreeMessage(request_);
}

void Connection::Start() {
  session_ = core_.Attach(route_, transport_);
  thread_ = std::thread([this] { Run(); });
}

uint32_t Connection::Number() const { return session_ ? session_->Number() : 0; }

void Connection::RequestClose() { SetEvent(stopEvent_.Get()); }

void Connection::Join() {
  if (thread_.joinable()) thread_.join();
}

bool Connection::HandleReceived(uint32_t n, std::string* reason) {
  receive_.writePos += n;
  for (;;) {
    switch (framing::ExtractMessage(receive_, request_, host_protocol::kMaxRequestSize)) {
      case framing::ExtractResult::Message:
        session_->HandleRequest(request_.data, request_.size);
        break;
      case framing::ExtractResult::NeedMore:
        return true;
      default:  // a size field of 1 to 3 or above the largest request
        *reason = "dropped: malformed stream (size field " +
                  std::to_string(wire::LoadU32(receive_.start + receive_.readPos)) + ")";
        return false;
    }
  }
}

bool Connection::StartRead() {
  return receive_.start != nullptr &&
         channel_->StartRead(framing::FreeSpace(receive_), framing::FreeSpaceLength(receive_));
}

bool Connection::StartNextWrite() {
  if (writing_) return true;
  if (!outbox_->TakeBatch(&writeBuffer_, kMaxWriteBatch)) return true;
  writeOffset_ = 0;
  writing_ = channel_->StartWrite(writeBuffer_.data(), static_cast<uint32_t>(writeBuffer_.size()));
  return writing_;
}

void Connection::Run() {
  std::string reason = "left";
  bool open = StartRead();
  while (open) {
    // Index order is priority order: stop first, then finished writes, reads
    // and newly queued messages.
    HANDLE handles[4] = {stopEvent_.Get(), outbox_->Event(), channel_->ReadEvent(), channel_->WriteEvent()};
    DWORD count = writing_ ? 4 : 3;
    DWORD r = WaitForMultipleObjects(count, handles, FALSE, INFINITE);
    if (r == WAIT_OBJECT_0) {
      reason = "closed by the server";
      break;
    }
    if (r == WAIT_OBJECT_0 + 2) {
      uint32_t n = channel_->FinishRead();
      if (n == 0) break;  // the client closed its end
      if (!HandleReceived(n, &reason)) break;
      const DWORD paused = pause_.Remaining();
      if (paused > 0 && WaitForSingleObject(stopEvent_.Get(), paused) == WAIT_OBJECT_0) break;
      if (!StartRead()) break;
    } else if (r == WAIT_OBJECT_0 + 3) {
      uint32_t written = 0;
      if (!channel_->FinishWrite(&written)) break;
      outbox_->Written(written);
      writeOffset_ += written;
      writing_ = writeOffset_ < writeBuffer_.size() &&
                 channel_->StartWrite(writeBuffer_.data() + writeOffset_,
                                      static_cast<uint32_t>(writeBuffer_.size() - writeOffset_));
      if (writeOffset_ < writeBuffer_.size() && !writing_) break;
    } else if (r != WAIT_OBJECT_0 + 1) {
      reason = "dropped: wait failed (" + std::to_string(GetLastError()) + ")";
      break;
    }
    if (outbox_->Overflowed()) {
      reason = "dropped: it does not read its messages";
      break;
    }
    if (!StartNextWrite()) break;
  }
  core_.Detach(session_, reason);
  route_->Close();
  outbox_->Close();
  if (!channel_->Close(2000)) {
    // An operation is still running on our buffers: keep them (and the
    // channel) alive rather than free memory the system may still write.
    IoChannel* stillRunning = channel_.release();
    (void)stillRunning;
    receive_ = framing::ReceiveBuffer{};  // its free end may still be written

    KeepForever(std::move(writeBuffer_));
  }
  finished_.store(true, std::memory_order_release);
}

}  // namespace simhost
