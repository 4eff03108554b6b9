#include "PendingUploads.h"

#include "CxLog.h"
#include "DataClassKit.h"
#include "MyDatabase.h"

namespace records {

namespace {
constexpr int kAckFields = 6;
}

AckRead ReadUploadAck(const std::wstring& reply, const wchar_t* function, int command, UploadAck& ack) {
    ack.code = ReplyResult(function, command, reply);
    if (ack.code < 0) return AckRead::Negative;
    if (!HasFields(function, command, reply, kAckFields)) return AckRead::Refused;
    ack.userNo = ReplyInt(reply, 3);
    ack.no = ReplyInt(reply, 4);
    ack.op = ReplyField(reply, 5);
    ack.syncNo = ReplyInt(reply, 6);
    return AckRead::Accepted;
}

bool RunAckStatement(const wchar_t* function, const wchar_t* resultLine, const std::wstring& sql) {
    const int changed = g_pMyDatabase != nullptr ? g_pMyDatabase->ExecSQL(sql) : -1;
    if (changed == 1) return true;
    LOGF(LOG_WARNING, function, resultLine, changed);
    if (changed < 0) return false;
    // Kept pending, the record would be sent first after every later acknowledgement and
    // the drain would stop for good: a row that is not there is as good as written.
    if (changed == 0) LOGF(LOG_MESSAGE, function, L"no row changed, acknowledgement counted as done:[%s]", sql.c_str());
    return true;
}

}  // namespace records
