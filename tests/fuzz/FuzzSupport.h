// What every fuzz target shares: a working folder of its own and a way to stop on a
// broken promise of the code under test, which the sanitizers alone would not see.
#pragma once

#include <initializer_list>

namespace fuzz {

// Called from LLVMFuzzerInitialize with its arguments. Makes a fresh folder, changes
// into it and removes it when the run ends, so the files a target writes (a profile,
// the log) never land where the run started. The logger's folder name is taken by a
// plain file there: a run refuses millions of inputs, each with its log line, and those
// lines are formatted but never written. libFuzzer reads its arguments after the call,
// so paths in them are made absolute first, and findings go to where the run started
// unless an artifact prefix says otherwise. `defaults` are options that the arguments
// may override.
void EnterWorkDir(int* argc, char*** argv, std::initializer_list<const char*> defaults = {});

// Ends the run as a finding when `holds` is false; `what` names the broken promise.
void Require(bool holds, const char* what);

}  // namespace fuzz
