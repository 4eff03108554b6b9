// The pages' way into the program's database object: the script object "quorvDb",
// registered on every page VM together with the classes DB and Recordset.
#pragma once

#include <memory>

#include "ScriptVM.h"

// Defines DB, Recordset and "quorvDb" on the VM, in this order; false when one could
// not be defined.
bool RegisterDatabaseScriptObject(HVM vm);

// The object's tables, built once per process whichever thread registers first.
std::shared_ptr<const uie::NativeObjectDef> DatabaseScriptObjectDef();
