// Every test program keeps the UI engine's records (loads, posted events, page calls)
// for its tests to read, from before the first test to the end of the process.
#include "EngineTest.h"

namespace {

const uie::test::Recording kRecording;

}  // namespace
