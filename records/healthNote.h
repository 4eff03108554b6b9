// The health notes that the server has not yet acknowledged.
#pragma once

class CHealthNote {
public:
    CHealthNote();

    int LoadFromDB();
};

extern CHealthNote* g_pHealthNote;
