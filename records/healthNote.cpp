#include "healthNote.h"

CHealthNote* g_pHealthNote = nullptr;

CHealthNote::CHealthNote() = default;

int CHealthNote::LoadFromDB() { return 1; }

int CHealthNote::BussDataProc(const std::wstring&) { return 0; }
