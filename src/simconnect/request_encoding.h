// Writers of every request's bytes into a zeroed buffer of the request's size.
// Each writes the header's size, version and id (the sendId is already there)
// and the body fields at their offsets. A writer with string arguments returns
// false when a string does not fit its 256-byte field (the field then holds the
// first 255 characters). Plain functions: no OS calls.
#pragma once

#include <cstdint>

namespace request_encoding {

// The SendID that follows `last`: SendIDs run 1 .. 0xFFFFFFFF and wrap to 1,
// never 0.
uint32_t NextSendId(uint32_t last);

void WriteHeader(uint8_t* request, uint32_t size, uint32_t id);

bool WriteOpen(uint8_t* request, const char* name);
bool WriteAddToDataDefinition(uint8_t* request, uint32_t definitionId, const char* datumName,
                              const char* unitsName, uint32_t datumType, float epsilon, uint32_t datumId);
void WriteRequestDataOnSimObject(uint8_t* request, uint32_t requestId, uint32_t definitionId, uint32_t objectId,
                                 uint32_t period, uint32_t flags, uint32_t origin, uint32_t interval, uint32_t limit);
bool WriteMenuAddItem(uint8_t* request, const char* itemText, uint32_t menuEventId, uint32_t data);
bool WriteMenuAddSubItem(uint8_t* request, uint32_t menuEventId, const char* itemText, uint32_t subMenuEventId,
                         uint32_t data);
void WriteMenuRemoveSubItem(uint8_t* request, uint32_t menuEventId, uint32_t subMenuEventId);
bool WriteMapClientDataNameToId(uint8_t* request, const char* clientDataName, uint32_t clientDataId);
void WriteCreateClientData(uint8_t* request, uint32_t clientDataId, uint32_t size, uint32_t flags);
void WriteAddToClientDataDefinition(uint8_t* request, uint32_t definitionId, uint32_t offset, uint32_t sizeOrType,
                                    float epsilon, uint32_t datumId);
void WriteRequestClientData(uint8_t* request, uint32_t clientDataId, uint32_t requestId, uint32_t definitionId,
                            uint32_t period, uint32_t flags, uint32_t origin, uint32_t interval, uint32_t limit);
// `request` has room for 36 + unitSize bytes.
void WriteSetClientData(uint8_t* request, uint32_t clientDataId, uint32_t definitionId, uint32_t flags,
                        uint32_t reserved, uint32_t unitSize, const void* data);
// `request` has room for 32 + unitSize bytes.
void WriteText(uint8_t* request, uint32_t textType, float displaySeconds, uint32_t eventId, uint32_t unitSize,
               const void* data);

}  // namespace request_encoding
