// The reply of one exchange, fed as the bytes a server would send: the length check on
// the first four bytes, then the header, length and payload checks against the request,
// then the field reader over the payload text as the reply handlers read it. The bytes
// are taken both ways a reply arrives: from a stream (as many bytes as the length field
// announces, or fewer when the peer closes early) and as one datagram.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <iterator>
#include <memory>
#include <string>

#include "Communication.h"
#include "DataClassKit.h"
#include "FuzzSupport.h"
#include "SocketClientImpl.h"
#include "Text.h"
#include "global.h"

namespace {

// The request every input answers; the seed replies carry both in their headers.
constexpr std::uint16_t kCommandId = COMMAND_PLUSECHECK;
constexpr DWORD kSeqNo = 0x5A3C0F01;
// More fields than any reply handler reads.
constexpr int kFieldsRead = 24;

// The bytes each read leaves for the reply checks; below 1 when the exchange fails.
int FromStream(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const int needed = SocketClientImpl::CheckReplyLength(reinterpret_cast<const char*>(data));
    return needed < 0 ? needed : static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(needed), size));
}

int FromDatagram(const std::uint8_t* data, std::size_t size) {
    const int got = static_cast<int>(std::min<std::size_t>(size, SocketClientImpl::kBufferSize));
    if (got < 4) return 0;
    const int needed = SocketClientImpl::CheckReplyLength(reinterpret_cast<const char*>(data));
    return needed < 0 ? needed : got;
}

// Fields split at code 2, as numbers and as texts with the usual limit and a tight one.
void ReadFields(const std::wstring& text) {
    for (int n = 1; n <= kFieldsRead; ++n) {
        const std::wstring field = records::ReplyField(text, n);
        fuzz::Require(field.size() < records::kReplyFieldMax, "a reply field longer than its limit");
        records::ReplyInt(text, n);
        wchar_t tight[8];
        GetValue(text.c_str(), tight, n, L'\x02', static_cast<int>(std::size(tight)));
        fuzz::Require(std::wcslen(tight) < std::size(tight), "a field copy without its terminator");
    }
    records::ReplyFieldCount(text);
}

// Records split at code 3, each read field by field, as the data-sync check reads them.
void ReadRecords(const std::wstring& text) {
    for (int n = 1; n <= kFieldsRead; ++n) {
        const std::wstring record = GetValue(text, n, L'\x03', kMaxPayloadLen + 1);
        if (record.empty()) break;
        ReadFields(record);
    }
}

void Exchange(const std::uint8_t* data, int received) {
    if (received < 1) return;
    auto context = std::make_unique<struCommContext>();
    const int taken =
        CCommunication::TakeReply(context.get(), reinterpret_cast<const char*>(data), received, kCommandId, kSeqNo);
    if (taken < 1) return;
    fuzz::Require(taken == received && context->nRecvLen == taken, "a reply stored with another length");
    const std::wstring text = CCommunication::GetReplyText(context.get());
    ReadFields(text);
    ReadRecords(text);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // The logger frees each line on its own thread after the input has run, so every
    // refused input would look like a leak and cost a full leak scan. Leaks are still
    // looked for when the run ends.
    fuzz::EnterWorkDir(argc, argv, {"-detect_leaks=0"});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Exchange(data, FromStream(data, size));
    Exchange(data, FromDatagram(data, size));
    return 0;
}
