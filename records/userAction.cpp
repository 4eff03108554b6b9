#include "userAction.h"

CUserAction* g_pUserAction = nullptr;

CUserAction::CUserAction() = default;

int CUserAction::LoadFromDB() { return 1; }

int CUserAction::BussDataProc(const std::wstring&) { return 0; }
