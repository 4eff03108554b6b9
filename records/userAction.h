// The user actions that the server has not yet acknowledged.
#pragma once

class CUserAction {
public:
    CUserAction();

    int LoadFromDB();
};

extern CUserAction* g_pUserAction;
