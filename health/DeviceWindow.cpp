#include "DeviceWindow.h"

#include <system_error>
#include <utility>

#include "CxLog.h"
#include "HealthElementSourceType.h"
#include "Hooks.h"
#include "MyDatabase.h"
#include "Quorvix.h"

namespace {

constexpr DWORD kBusyPollMs = 10;

}  // namespace

CDeviceWindow::~CDeviceWindow() { JoinDeviceRead(); }

void CDeviceWindow::BindPageElements(int roundDiameter, const wchar_t* title) {
    SetRoundRegion(roundDiameter);
    m_root = dom::element(GetRootElement());
    if (m_root.is_valid()) {
        m_body = m_root.find_first("body");
        m_caption = m_root.find_first("#window-caption");
        m_close = m_root.find_first("#window-close");
    }
    SetTitle(title);
}

bool CDeviceWindow::on_event(HELEMENT, HELEMENT target, UINT type, UINT_PTR) {
    if (type == (BUTTON_CLICK | SINKING) && m_close.is_valid() && target == static_cast<HELEMENT>(m_close))
        ShowWindow(GetHwnd(), SW_HIDE);
    return false;
}

LRESULT CDeviceWindow::OnHitTest(int x, int y) { return CaptionHitTest(m_caption, x, y); }

bool CDeviceWindow::PostCommand(WORD id, LPARAM lParam) const {
    const HWND hwnd = GetHwnd();
    // A null handle would post to the calling thread instead.
    if (hwnd == nullptr || !IsWindow(hwnd)) return false;
    return PostMessageW(hwnd, WM_COMMAND, id, lParam) != FALSE;
}

bool CDeviceWindow::ClaimRead() {
    bool idle = false;
    return m_bReadBusy.compare_exchange_strong(idle, true);
}

bool CDeviceWindow::StartDeviceRead(const wchar_t* function, const struHealthElementSourceTypeW* source,
                                    std::function<void(struHealthElementSourceTypeW*)> read) {
    const CHealthElementSourceType* sources = g_pHealthElementSourceType;
    struHealthElementSourceTypeW* record =
        source != nullptr && sources != nullptr ? sources->GetSourceType(source->sourceNo) : nullptr;
    if (!ClaimRead()) return false;  // one read at a time
    // The last read cleared the flag as its last step: its thread is ending.
    JoinDeviceRead();
    std::lock_guard lock(m_threadLock);
    try {
        m_readThread = threadwait::Thread([this, record, read = std::move(read)] {
            read(record);
            m_bReadBusy = false;
        });
    } catch (const std::system_error& e) {
        LOGF(LOG_ERROR, function, L"CreateThread fail[%d]", e.code().value());
        m_bReadBusy = false;
        return false;
    }
    return true;
}

void CDeviceWindow::WaitReadEnd() const {
    // The read ends on its own; the program's end does not wait for it.
    while (m_bReadBusy.load() && g_nRunState != 4) Sleep(kBusyPollMs);
}

void CDeviceWindow::JoinDeviceRead() {
    threadwait::Thread ending;
    {
        std::lock_guard lock(m_threadLock);
        ending = std::move(m_readThread);
    }
    ending.Join();  // outside the lock: the wait serves what is sent to this thread's windows
}

int CDeviceWindow::StoreStatements(const wchar_t* function, const wchar_t* what,
                                   const std::vector<std::wstring>& statements) {
    if (statements.empty()) return 0;
    CMyDatabase* db = g_pMyDatabase;
    const int result = db != nullptr ? db->ExecSQLSet(statements, true) : -1;
    if (result < 0) LOGF(LOG_WARNING, function, L"%s:ExecSQLSet[%d][%s]", what, result, statements.front().c_str());
    return result;
}
