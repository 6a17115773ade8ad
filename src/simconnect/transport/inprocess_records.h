// The records of the in-process channel, exchanged with the simulator's
// "FS98MAIN" window as WM_COMMAND messages (wParam kCommandWParam, lParam the
// record's address), and the functions each side lends the other. The client
// writes and reads them in inprocess_channel.cpp; the stand-in simulator reads
// and writes them in its window. All numbers are little-endian; addresses are
// 64-bit. No OS headers.
#pragma once

#include <cstdint>

namespace inprocess {

constexpr wchar_t kWindowClass[] = L"FS98MAIN";
constexpr uint32_t kWindowMessage = 0x111;  // WM_COMMAND
constexpr uint64_t kCommandWParam = 0x2002A;

enum Command : uint32_t {
  kCommandOffer = 1,       // client -> simulator: attach offer
  kCommandTable = 2,       // simulator -> client: host function table (argument of attach)
  kCommandPump = 4,        // client -> simulator: pump registration
  kCommandUnregister = 5,  // client -> simulator: asks for the unregister function
};

// Fields every record begins with.
constexpr uint32_t kSizeField = 0;
constexpr uint32_t kCommandField = 4;

// Commands 4 and 5: size, command, 8 reserved bytes, one address.
namespace small_record {
constexpr uint32_t kSize = 24;
constexpr uint32_t kReserved = 8;
// Command 4: the pump (the client's SimConnect_CallDispatch). Command 5: 0 when
// sent; the simulator writes its unregister function here before returning.
constexpr uint32_t kAddress = 16;
}  // namespace small_record

// Command 1: the attach offer.
namespace offer {
constexpr uint32_t kSize = 32;
constexpr uint32_t kHostConnectionId = 8;  // the number of the open reply
constexpr uint32_t kConnectionId = 12;     // the client's ConnectionId
constexpr uint32_t kAttach = 16;           // AttachFn
constexpr uint32_t kDeliver = 24;          // DeliverFn
}  // namespace offer

// Command 2: the host function table handed to the attach callback.
namespace table {
constexpr uint32_t kSize = 48;
constexpr uint32_t kHostConnectionId = 8;
constexpr uint32_t kConnectionId = 12;
constexpr uint32_t kAllocate = 16;  // AllocateFn
constexpr uint32_t kDiscard = 24;   // DiscardFn
constexpr uint32_t kSubmit = 32;    // SubmitFn
constexpr uint32_t kRelease = 40;   // ReleaseFn
}  // namespace table

// The pump-all call: pump(null handle, kPumpAllCallback, kPumpAllContext),
// both pointer-sized.
constexpr intptr_t kPumpAllCallback = -2;
constexpr intptr_t kPumpAllContext = -3;

// Lent by the client in the offer.
using AttachFn = int (*)(const uint8_t* table);  // 1 taken, 0 refused
using DeliverFn = void (*)(uint32_t hostConnectionId, uint32_t connectionId, uint32_t size, void* block);
// Lent by the simulator in the table and the command 5 reply.
using AllocateFn = void* (*)(uint32_t hostConnectionId, uint32_t connectionId, uint32_t size);
using DiscardFn = void (*)(uint32_t hostConnectionId, uint32_t connectionId, void* block);
using SubmitFn = void (*)(uint32_t hostConnectionId, uint32_t connectionId, uint32_t size, void* block);
using ReleaseFn = void (*)(uint32_t hostConnectionId, uint32_t connectionId, void* block);
using UnregisterFn = void (*)(void* pump);
// The pump as the simulator calls it: the client's SimConnect_CallDispatch.
using DispatchFn = void (*)(const void* message, uint32_t size, void* context);
using PumpFn = int32_t (*)(void* handle, DispatchFn callback, void* context);

}  // namespace inprocess
