// The floating bar: a small always-on-top row of buttons at the bottom right of the screen.
#pragma once

#include "SciterWindow.h"

class CFloatBarWin : public CSciterWindow {
public:
    // Runs in the thread that starts it (the main window's); shown at start only when
    // the user left it shown (the flag of FloatBarInfo).
    CFloatBarWin();
};

// Null until the main window makes it.
extern CFloatBarWin* g_pFloatBarWin;
