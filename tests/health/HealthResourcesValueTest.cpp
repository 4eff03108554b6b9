// A value the main window sets and records, as the main page sees it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../records/HealthResourcesFixture.h"
#include "Hooks.h"

TEST_F(HealthResourcesTest, ARecordedValueRedrawsTheElementListOnce) {
    Hooks().localTime = FixClock;
    ASSERT_EQ(resources_.SetElementValueNo(L"weight", 700, true, true), 0);
    EXPECT_EQ(Commands(), (std::vector<std::wstring>{L"803E"}));
    EXPECT_EQ(Lists().size(), 1u);
}
