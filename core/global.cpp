#include "global.h"

#include <array>
#include <cstdarg>
#include <mutex>

#include "Autostart.h"
#include "CxLog.h"
#include "DynamicLibrary.h"
#include "Hooks.h"
#include "Network.h"
#include "Shell.h"
#include "Text.h"

std::atomic<bool> g_bFullScreen{false};

namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunValueName[] = L"Quorvix";
// A registry value whose data does not fit this many bytes counts as missing.
constexpr std::size_t kRunValueBytes = 260;

std::mutex g_soundLock;
std::array<NotificationSound, 2> g_sounds{};

const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return 0;
}

bool IsRunKey(const wchar_t* subKey) { return subKey != nullptr && std::wstring_view(subKey) == kRunKey; }

}  // namespace

bool FormatCut(std::wstring& out, std::size_t bufferChars, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const bool whole = text::VFormatW(out, bufferChars, format, args);
    va_end(args);
    if (!whole) LOGF(LOG_ERROR, L"FormatCut", L"_snwprintf:[%s]", out.c_str());
    return whole;
}

std::wstring GetValue(std::wstring_view src, int index, wchar_t sep, int maxLen) {
    if (maxLen <= 0 || index < 1) return std::wstring();
    std::size_t start = 0;
    for (; index > 1; --index) {
        const auto next = src.find(sep, start);
        if (next == std::wstring_view::npos) return std::wstring();
        start = next + 1;
    }
    const auto end = src.find(sep, start);
    std::wstring_view field = src.substr(start, end == std::wstring_view::npos ? src.npos : end - start);
    const auto room = static_cast<std::size_t>(maxLen - 1);
    if (field.size() > room) {
        const std::wstring rest(src.substr(start + room));
        LOGF(LOG_ERROR, L"GetValue", L"GetValue(%s,%d) len > %d", rest.c_str(), 1, maxLen);
        field = field.substr(0, room);
    }
    return std::wstring(field);
}

wchar_t* GetValue(const wchar_t* src, wchar_t* dst, int index, wchar_t sep, int maxLen) {
    if (dst == nullptr) return dst;
    if (maxLen <= 0) return dst;  // no room even for the terminator
    const std::wstring field = src != nullptr ? GetValue(std::wstring_view(src), index, sep, maxLen) : L"";
    text::CopyW(dst, static_cast<std::size_t>(maxLen), field);
    return dst;
}

std::string Base64Encode(std::string_view bytes, int lineLen) {
    std::string out;
    int lineChars = 0;
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
        const auto b2 = static_cast<unsigned char>(bytes[i + 2]);
        out += kBase64Alphabet[b0 >> 2];
        out += kBase64Alphabet[((b0 & 0x03) << 4) | (b1 >> 4)];
        out += kBase64Alphabet[((b1 & 0x0F) << 2) | (b2 >> 6)];
        out += kBase64Alphabet[b2 & 0x3F];
        lineChars += 4;
        if (lineChars > lineLen - 4) {
            out += "\r\n";
            lineChars = 0;
        }
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        const auto b1 = rest == 2 ? static_cast<unsigned char>(bytes[i + 1]) : 0;
        out += kBase64Alphabet[b0 >> 2];
        out += kBase64Alphabet[((b0 & 0x03) << 4) | (b1 >> 4)];
        out += rest == 2 ? kBase64Alphabet[(b1 & 0x0F) << 2] : '=';
        out += '=';
    }
    return out;
}

std::string Base64Decode(std::string_view textIn) {
    std::string out;
    for (std::size_t i = 0; i < textIn.size(); i += 4) {
        char group[4] = {'=', '=', '=', '='};
        for (std::size_t k = 0; k < 4 && i + k < textIn.size(); ++k) group[k] = textIn[i + k];
        const int v0 = Base64Value(group[0]);
        const int v1 = Base64Value(group[1]);
        const int v2 = Base64Value(group[2]);
        const int v3 = Base64Value(group[3]);
        out += static_cast<char>((v0 << 2) | (v1 >> 4));
        if (group[2] != '=') out += static_cast<char>(((v1 & 0x0F) << 4) | (v2 >> 2));
        if (group[2] != '=' && group[3] != '=') out += static_cast<char>(((v2 & 0x03) << 6) | v3);
    }
    return out;
}

int GetMacAddress(std::wstring& mac) {
    std::array<BYTE, 6> address{};
    if (!FirstAdapterAddress(address)) return 0;
    text::FormatW(mac, 13, L"%02X%02X%02X%02X%02X%02X", address[0], address[1], address[2], address[3], address[4],
                  address[5]);
    return 1;
}

bool SetAutoRun(bool on) {
    if (!on) return DeleteRunValue(kRunValueName);
    wchar_t program[MAX_PATH] = {};
    if (GetModuleFileNameW(nullptr, program, MAX_PATH) == 0) return false;
    return WriteRunValue(kRunValueName, L"\"" + std::wstring(program) + L"\" /autoRun");
}

bool RegValueExists(const wchar_t* subKey, const wchar_t* valueName) {
    std::wstring value;
    if (!IsRunKey(subKey) || valueName == nullptr || !ReadRunValue(valueName, value)) return false;
    return (value.size() + 1) * 2 <= kRunValueBytes;
}

int SetNotificationSound(const wchar_t* sound, const void* module, int slot, BOOL async) {
    const std::size_t index = slot != 0 ? 1 : 0;
    NotificationSound chosen{};
    if (sound != nullptr) {
        if (std::wstring_view(sound).size() >= MAX_PATH) {
            LOGF(LOG_ERROR, L"SetNotificationSound", L"sound file name too long:[%s]", sound);
            return 0;
        }
        chosen.fileName = sound;
        chosen.module = module;
        chosen.flags = SND_NOWAIT | SND_NODEFAULT | (module != nullptr ? SND_RESOURCE : SND_FILENAME) |
                       (async ? SND_ASYNC : 0);
    }
    std::lock_guard<std::mutex> lock(g_soundLock);
    g_sounds[index] = chosen;
    return 1;
}

int SetNotificationSound(std::uintptr_t resourceId, const void* module, int slot, BOOL async) {
    const std::size_t index = slot != 0 ? 1 : 0;
    NotificationSound chosen{};
    chosen.resource = resourceId;
    chosen.module = module;
    chosen.flags = SND_NOWAIT | SND_NODEFAULT | SND_RESOURCE | (async ? SND_ASYNC : 0);
    std::lock_guard<std::mutex> lock(g_soundLock);
    g_sounds[index] = chosen;
    return 1;
}

NotificationSound GetNotificationSound(int slot) {
    std::lock_guard<std::mutex> lock(g_soundLock);
    return g_sounds[slot != 0 ? 1 : 0];
}

BOOL PlayNotificationSound(int slot) {
    const NotificationSound sound = GetNotificationSound(slot);
    if (sound.flags == 0) return FALSE;  // an empty slot: nothing set up to play
    const wchar_t* name = sound.fileName.empty() ? MAKEINTRESOURCEW(static_cast<WORD>(sound.resource))
                                                 : sound.fileName.c_str();
    return PlaySoundW(name, static_cast<HMODULE>(const_cast<void*>(sound.module)), sound.flags);
}

bool IsFlashInstalled() { return Hooks().flashInstalled; }

bool GetFullScreenFlag() { return g_bFullScreen; }
