// The window of today's and yesterday's reminders that passed without an answer: the
// list, its table tAlertExpired, and the page at the bottom-right corner that shows it.
#pragma once

#include <atomic>
#include <mutex>

#include "SciterWindow.h"

class CAlertExpiredWin : public CSciterWindow {
public:
    // Runs in the thread that starts it (the main window's), hidden at start.
    CAlertExpiredWin();

    // Replaces the list with the table's rows since yesterday; the new count. A database
    // failure leaves the list as it was and gives 0.
    int ReadAlertExpiredFromDB();
    int GetCount() const;
    // A copy of the list (an array of objects).
    sciter::value GetList() const;
    // An array holding exactly one object is appended unless an entry with its
    // alertDate, alertNo and no is listed already; anything else changes nothing. The count.
    int AddAlertExpired(const sciter::value& alerts);
    void RemoveAlertExpired(int alertDate, int alertNo, int no);
    // Stores the listed entry in the table in place of any row of the same three numbers:
    // the transaction's result, or -1 when no entry matches (nothing is written).
    int InsertAlertExpiredToDB(int alertDate, int alertNo, int no);
    int DeleteAlertExpiredFromDB(int alertDate, int alertNo, int no);

    // The tray icon's mouse actions show the list; the first argument is not used. Only
    // with a count that was not acknowledged and the setting ShowMessageBox on.
    virtual void ShowAlertExpired(int unused, bool show);
    // At the program's end; 0.
    virtual int Close();

protected:
    void PlaceWindow() override { PlaceAtCorner(); }
    void Init() override;
    // 0x803C hands the count to the page, which fetches the list; 1 for 18, else 0.
    LRESULT OnCommand(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
    // Every page event counts as handled.
    bool on_event(HELEMENT he, HELEMENT target, UINT type, UINT_PTR reason) override;

private:
    // Written by page threads, read by the alert thread and the window's.
    mutable std::mutex m_lock;
    sciter::value m_list;
    // Bound by Init on the window's thread, read only there.
    dom::element m_root;
};

// Null until the main window makes it.
// Published by the main frame once the window is made; read by any thread.
extern std::atomic<CAlertExpiredWin*> g_pAlertExpiredWin;
