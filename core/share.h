// What the pages and the main window share: opening the device windows.
#pragma once

// Brings the device window forward (mode 2 also asks for the step ranking); false,
// logged, when there is no window.
bool OpenPedometerWin(int mode);
bool OpenBloodPressureWin(int mode);
