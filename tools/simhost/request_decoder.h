// Decoding one complete request message into its fields. Layout checks only:
// the header, the size that the request's id requires, terminated text fields
// and the Open message's fixed values. What the fields mean is the session's
// business. Plain functions over bytes: no OS calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>

namespace simhost {

struct OpenRequest {
  std::string name;
};

struct AddToDataDefinitionRequest {
  uint32_t definitionId;
  std::string datumName;
  std::string unitsName;
  uint32_t datumType;
  float epsilon;
  uint32_t datumId;
};

struct RequestDataOnSimObjectRequest {
  uint32_t requestId;
  uint32_t definitionId;
  uint32_t objectId;
  uint32_t period;
  uint32_t flags;
  uint32_t origin;
  uint32_t interval;
  uint32_t limit;
};

struct MenuAddItemRequest {
  std::string text;
  uint32_t menuEventId;
  uint32_t data;
};

struct MenuAddSubItemRequest {
  uint32_t menuEventId;
  std::string text;
  uint32_t subMenuEventId;
  uint32_t data;
};

struct MenuRemoveSubItemRequest {
  uint32_t menuEventId;
  uint32_t subMenuEventId;
};

struct MapClientDataNameToIdRequest {
  std::string name;
  uint32_t clientDataId;
};

struct CreateClientDataRequest {
  uint32_t clientDataId;
  uint32_t size;
  uint32_t flags;
};

struct AddToClientDataDefinitionRequest {
  uint32_t definitionId;
  uint32_t offset;
  uint32_t sizeOrType;
  float epsilon;
  uint32_t datumId;
};

struct RequestClientDataRequest {
  uint32_t clientDataId;
  uint32_t requestId;
  uint32_t definitionId;
  uint32_t period;
  uint32_t flags;
  uint32_t origin;
  uint32_t interval;
  uint32_t limit;
};

// `data` points into the decoded message and is valid as long as it is.
struct SetClientDataRequest {
  uint32_t clientDataId;
  uint32_t definitionId;
  uint32_t flags;
  uint32_t reserved;
  uint32_t unitSize;
  const uint8_t* data;
};

// `data` points into the decoded message and is valid as long as it is.
struct TextRequest {
  uint32_t textType;
  float displaySeconds;
  uint32_t eventId;
  uint32_t unitSize;
  const uint8_t* data;
};

using RequestBody =
    std::variant<OpenRequest, AddToDataDefinitionRequest, RequestDataOnSimObjectRequest, MenuAddItemRequest,
                 MenuAddSubItemRequest, MenuRemoveSubItemRequest, MapClientDataNameToIdRequest,
                 CreateClientDataRequest, AddToClientDataDefinitionRequest, RequestClientDataRequest,
                 SetClientDataRequest, TextRequest>;

struct DecodedRequest {
  uint32_t size = 0;
  uint32_t version = 0;
  uint32_t id = 0;
  uint32_t sendId = 0;
  // Meaningful only when the decode succeeded.
  RequestBody body;
};

struct DecodeResult {
  // host_protocol::kExceptionNone when the request was decoded; otherwise the
  // exception code that rejects it and the index of the argument at fault.
  uint32_t exceptionCode = 0;
  uint32_t argumentIndex = 0;
  DecodedRequest request;  // header fields are set whenever size >= 16

  bool ok() const { return exceptionCode == 0; }
};

// Decodes the `size` bytes at `message`, which hold exactly one request (its
// size field is expected to equal `size`). Never reads outside
// [message, message + size). Rejections, in the order they are checked:
//   size below 16 or size field != size        -> kExceptionSizeMismatch, 0
//   version other than 37                       -> kExceptionVersionMismatch, 0
//   id not one of the twelve requests           -> kExceptionUnrecognizedId, 0
//   size other than the id's size (fixed part plus the unit size for
//   SetClientData and Text)                     -> kExceptionSizeMismatch, 0
//   a 256-byte text field without NUL           -> kExceptionStringNotTerminated,
//                                                  the field's argument index
//   Open with other fixed values than the client sends -> kExceptionBadOpen, 0
DecodeResult DecodeRequest(const uint8_t* message, size_t size);

// The request's name for the console ("SetClientData"); "unknown" for other ids.
const char* RequestName(uint32_t id);

}  // namespace simhost
