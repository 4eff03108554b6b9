// Helpers the whole program shares: the field getter, bounded formatting, Base64,
// the computer's identity, start with the session, notification sounds.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

#include "WinTypes.h"

// Set while another application runs full screen.
extern std::atomic<bool> g_bFullScreen;

// Formats a Windows-style wide format into a buffer of bufferChars characters. A
// result that does not fit is cut to bufferChars - 1 characters and logged
// "_snwprintf:[%s]"; returns false then, and the caller must not use the cut text
// as a statement.
bool FormatCut(std::wstring& out, std::size_t bufferChars, const wchar_t* format, ...);

// Field number index (from 1) of the sep-delimited text; an index below 1 or past
// the last field gives "". The field is cut to maxLen - 1 characters (logged).
std::wstring GetValue(std::wstring_view src, int index, wchar_t sep, int maxLen);
wchar_t* GetValue(const wchar_t* src, wchar_t* dst, int index, wchar_t sep, int maxLen);

// Standard Base64 (RFC 4648, "=" padding). The encoder breaks the line with CR LF
// after a 3-byte group once the line holds more than lineLen - 4 characters.
std::string Base64Encode(std::string_view bytes, int lineLen);
// Characters outside the alphabet count as 0; a short last group counts as padded.
std::string Base64Decode(std::string_view text);

// 12 upper-case hexadecimal digits of the first adapter; 1, or 0 leaving mac unchanged.
int GetMacAddress(std::wstring& mac);

// Start with the session: the value "Quorvix" holds "\"<program>\" /autoRun".
bool SetAutoRun(bool on);
bool RegValueExists(const wchar_t* subKey, const wchar_t* valueName);

struct NotificationSound {
    std::wstring fileName;     // the sound file when no module holds it
    std::uintptr_t resource;   // the resource id when a module holds it
    const void* module;
    DWORD flags;               // PlaySoundW flags
};
// Slot 1 when slot is non-zero, else 0. A null sound clears the slot. Returns 1.
int SetNotificationSound(const wchar_t* sound, const void* module, int slot, BOOL async);
// A resource id passed where a sound name goes (MAKEINTRESOURCE).
int SetNotificationSound(std::uintptr_t resourceId, const void* module, int slot, BOOL async);
NotificationSound GetNotificationSound(int slot);
// Plays the sound of the slot (1 when slot is non-zero, else 0) with its module and
// flags; FALSE when the slot is empty.
BOOL PlayNotificationSound(int slot);

bool IsFlashInstalled();
bool GetFullScreenFlag();
