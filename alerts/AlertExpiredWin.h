// The window of today's and yesterday's reminders that passed without an answer.
#pragma once

#include "SciterWindow.h"

class CAlertExpiredWin : public CSciterWindow {
public:
    // Runs in the thread that starts it (the main window's), hidden at start.
    CAlertExpiredWin();

    // The tray icon's mouse actions show the list; the first argument is not used.
    virtual void ShowAlertExpired(int unused, bool show);
    // At the program's end; 0.
    virtual int Close();
};

// Null until the main window makes it.
extern CAlertExpiredWin* g_pAlertExpiredWin;
