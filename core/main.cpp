// Program entry.
#include <chrono>

#include "CxLog.h"
#include "Quorvix.h"

int main() {
    if (SetCurDir() == 0) return 0;
    LOGF(LOG_MESSAGE, L"wWinMain", L"Start...");
    CxLog::GetInstance()->Flush(std::chrono::milliseconds(1000));
    return 0;
}
