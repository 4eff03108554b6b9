#include "FeedKit.h"

#include "DataClassKit.h"
#include "FloatBarWin.h"
#include "MyDatabase.h"
#include "Text.h"
#include "global.h"

namespace records {

std::wstring ReplyRow(const std::wstring& reply, int n) { return GetValue(reply, n, L'\x03', kReplyFieldMax); }

bool RowStored(const std::wstring& countSql) {
    SqlRows rows;
    if (g_pMyDatabase == nullptr || g_pMyDatabase->SelectTableWithReturn(countSql, rows) != 0 || rows.empty())
        return false;
    return ColumnInt(rows.front(), 0) > 0;
}

void PostToEnvironmentPopup(void (CPopWin::*post)()) {
    CFloatBarWin* const bar = g_pFloatBarWin;
    if (CPopWin* popup = bar != nullptr ? bar->GetPopup(CFloatBarWin::kSurround) : nullptr) (popup->*post)();
}

}  // namespace records
