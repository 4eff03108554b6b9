#include "userAction.h"

CUserAction* g_pUserAction = nullptr;

CUserAction::CUserAction() = default;

int CUserAction::LoadFromDB() { return 1; }
