// A database file together with the files SQLite keeps beside it under its name: the
// write-ahead log ("-wal", commits not yet copied into the file), the log's shared index
// ("-shm") and a rollback journal ("-journal"). They belong to the file: SQLite plays a log
// or journal it finds beside a name into whatever file bears the name.
#pragma once

#include <string>

// Moves a closed database to a name not taken, never replacing a file, and what SQLite
// keeps beside it with it.
bool MoveDatabaseNoReplace(const std::wstring& from, const std::wstring& to);
// Before a database file is made under path: removes what an earlier file of that name
// left beside it.
void RemoveDatabaseLeftovers(const std::wstring& path);
