// What Update.dll promises its callers: the Detection class's identifiers and
// the names of its late-bound members. The type library (quorvel.idl) carries
// the same identifiers.
#pragma once

#include <windows.h>

// Literal forms, so that registry key names can be joined at compile time.
#define KORVANE_DETECTION_PROGID L"Quorvel.Detection"
#define KORVANE_DETECTION_CLSID_TEXT L"{9334BD7F-B81F-4D7D-8A99-2C31CD0A1765}"
#define KORVANE_DETECTION_LIBID_TEXT L"{FBF999FA-4930-416D-8801-5CEDEC3777F0}"
#define KORVANE_DETECTION_IID_TEXT L"{5F89000E-8BDB-48CB-9AC4-ADBC36622007}"

namespace korvane::detection {

inline constexpr wchar_t kProgId[] = KORVANE_DETECTION_PROGID;
inline constexpr wchar_t kClsidText[] = KORVANE_DETECTION_CLSID_TEXT;
inline constexpr wchar_t kLibIdText[] = KORVANE_DETECTION_LIBID_TEXT;

// Class Detection.
inline constexpr CLSID kClsid = {
    0x9334BD7F, 0xB81F, 0x4D7D, {0x8A, 0x99, 0x2C, 0x31, 0xCD, 0x0A, 0x17, 0x65}};
// Its default interface _Detection, a dual interface.
inline constexpr IID kIid = {
    0x5F89000E, 0x8BDB, 0x48CB, {0x9A, 0xC4, 0xAD, 0xBC, 0x36, 0x62, 0x20, 0x07}};
// Type library "Quorvel" 1.0.
inline constexpr GUID kLibId = {
    0xFBF999FA, 0x4930, 0x416D, {0x88, 0x01, 0x5C, 0xED, 0xEC, 0x37, 0x77, 0xF0}};
inline constexpr WORD kLibMajor = 1;
inline constexpr WORD kLibMinor = 0;

// Updates(MyQQ As String, AppName As String) As String: the update reply.
inline constexpr wchar_t kUpdatesMember[] = L"Updates";
// GetNetDate() As Date.
inline constexpr wchar_t kGetNetDateMember[] = L"GetNetDate";

// While a call waits for the network it dispatches the thread's messages
// itself; it first passes each one to CallMsgFilterW with this code, so that
// a WH_MSGFILTER hook of the caller can handle it (a dialog's keys) and
// return nonzero. Without a hook nothing changes.
inline constexpr int kWaitMessageFilter = MSGF_USER + 0x51;

}  // namespace korvane::detection
