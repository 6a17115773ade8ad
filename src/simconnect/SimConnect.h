// Public API of the SimConnect client library: the functions the bridge, the
// tools and the tests call. A handle is a pointer to one connection object.
// Every function returns a 32-bit result code: S_OK (0), E_FAIL (0x80004005),
// E_INVALIDARG (0x80070057), 0x8007007A for a string that does not fit its
// 256-byte field, or, once the transport has failed, the status it recorded.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

// Callback of SimConnect_CallDispatch: (message, size in bytes, context).
using DispatchProc = void (*)(const void* message, uint32_t size, void* context);

// Configuration index that skips SimConnect.cfg and runs the default chain.
constexpr uint32_t kConfigIndexDefault = 0xFFFFFFFFu;

constexpr HRESULT kResultStringTooLong = static_cast<HRESULT>(0x8007007A);

HRESULT SimConnect_Open(HANDLE* outHandle, const char* name, HWND notifyWindow, uint32_t notifyMessage,
                        HANDLE notifyEvent, uint32_t configIndex);
HRESULT SimConnect_Close(HANDLE handle);

HRESULT SimConnect_GetLastSentPacketID(HANDLE handle, uint32_t* sendId);

HRESULT SimConnect_AddToDataDefinition(HANDLE handle, uint32_t definitionId, const char* datumName,
                                       const char* unitsName, uint32_t datumType, float epsilon,
                                       uint32_t datumId);
HRESULT SimConnect_RequestDataOnSimObject(HANDLE handle, uint32_t requestId, uint32_t definitionId,
                                          uint32_t objectId, uint32_t period, uint32_t flags, uint32_t origin,
                                          uint32_t interval, uint32_t limit);
HRESULT SimConnect_MenuAddItem(HANDLE handle, const char* itemText, uint32_t menuEventId, uint32_t data);
HRESULT SimConnect_MenuAddSubItem(HANDLE handle, uint32_t menuEventId, const char* itemText,
                                  uint32_t subMenuEventId, uint32_t data);
HRESULT SimConnect_MenuRemoveSubItem(HANDLE handle, uint32_t menuEventId, uint32_t subMenuEventId);
HRESULT SimConnect_MapClientDataNameToID(HANDLE handle, const char* clientDataName, uint32_t clientDataId);
HRESULT SimConnect_CreateClientData(HANDLE handle, uint32_t clientDataId, uint32_t size, uint32_t flags);
HRESULT SimConnect_AddToClientDataDefinition(HANDLE handle, uint32_t definitionId, uint32_t offset,
                                             uint32_t sizeOrType, float epsilon, uint32_t datumId);
HRESULT SimConnect_RequestClientData(HANDLE handle, uint32_t clientDataId, uint32_t requestId,
                                     uint32_t definitionId, uint32_t period, uint32_t flags, uint32_t origin,
                                     uint32_t interval, uint32_t limit);
HRESULT SimConnect_SetClientData(HANDLE handle, uint32_t clientDataId, uint32_t definitionId, uint32_t flags,
                                 uint32_t reserved, uint32_t unitSize, const void* data);
HRESULT SimConnect_Text(HANDLE handle, uint32_t textType, float displaySeconds, uint32_t eventId,
                        uint32_t unitSize, const void* data);

// Hands out the next received message; it stays valid until the following call
// on the same handle or SimConnect_Close. The caller never frees it.
HRESULT SimConnect_GetNextDispatch(HANDLE handle, const void** message, uint32_t* size);

// Hands every queued message to the callback on the caller's thread. With a null
// handle, callback (DispatchProc)-2 and context (void*)-3, pumps every connection
// that has been dispatched before with its own last callback (returns E_FAIL).
HRESULT SimConnect_CallDispatch(HANDLE handle, DispatchProc callback, void* context);

// Finds the NUL-terminated string at `text` inside a received message without
// reading past its end. paddedSize (optional) receives the string's length
// rounded down to a multiple of 4, plus 4.
HRESULT SimConnect_RetrieveString(const void* message, uint32_t messageSize, const void* text,
                                  const char** outText, uint32_t* paddedSize);
