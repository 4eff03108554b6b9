#include "healthNote.h"

CHealthNote* g_pHealthNote = nullptr;

CHealthNote::CHealthNote() = default;

int CHealthNote::LoadFromDB() { return 1; }
