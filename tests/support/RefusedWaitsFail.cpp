// In every test program, a plain wait made under a page call (ThreadWait.h) fails the test
// that made it.
#include <gtest/gtest.h>

#include "Text.h"
#include "ThreadWait.h"

namespace {

void FailTheTest(const std::wstring& what) { ADD_FAILURE() << text::ToUtf8(what); }

const threadwait::RefusedReport kBefore = threadwait::SetRefusedReport(FailTheTest);

}  // namespace
