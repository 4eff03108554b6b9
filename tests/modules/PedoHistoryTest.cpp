#include "PedoHistory.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struPedoHisDay Day(int date, int steps = 1) { return {0, date, steps, 0, 0}; }

std::vector<int> Dates(const CPedoHistory& history) {
    std::vector<int> dates;
    for (int i = 0; i < CPedoHistory::kRows; ++i) dates.push_back(history.Row(i).date);
    return dates;
}

// A full table of 30 consecutive days of January 2013, the 2nd to the 31st.
void FillJanuary(CPedoHistory& history) {
    for (int day = 31; day >= 2; --day) history.Enter(Day(20130100 + day));
}

TEST(PedoHistoryTest, RecordsStandInDateOrderAndADateIsHeldOnce) {
    CPedoHistory history;
    EXPECT_EQ(history.Newest(), nullptr);
    history.Enter(Day(20130120, 5));
    history.Enter(Day(20130118));
    history.Enter(Day(20130119));
    history.Enter(Day(20130120, 7));
    std::vector<int> expected(CPedoHistory::kRows, -1);
    expected[0] = 20130118;
    expected[1] = 20130119;
    expected[2] = 20130120;
    EXPECT_EQ(Dates(history), expected);
    ASSERT_NE(history.Newest(), nullptr);
    EXPECT_EQ(history.Newest()->steps, 7);
}

TEST(PedoHistoryTest, AFullTableDropsItsOldestRecordNeverTheNewest) {
    CPedoHistory history;
    FillJanuary(history);
    history.Enter(Day(20130101));  // older than every row: it is the one dropped
    EXPECT_EQ(history.Row(0).date, 20130102);
    EXPECT_EQ(history.Row(29).date, 20130131);

    history.Enter(Day(20130201));  // newer than every row
    EXPECT_EQ(history.Row(0).date, 20130103);
    EXPECT_EQ(history.Row(29).date, 20130201);

    CPedoHistory gap;
    for (int day = 31; day >= 3; --day) gap.Enter(Day(20130100 + day));
    gap.Enter(Day(20121201));
    ASSERT_EQ(gap.Row(29).date, 20130131);
    gap.Enter(Day(20121215));  // full, and between rows: the oldest goes
    EXPECT_EQ(gap.Row(0).date, 20121215);
    EXPECT_EQ(gap.Row(1).date, 20130103);
    EXPECT_EQ(gap.Row(29).date, 20130131);
}

TEST(PedoHistoryTest, ClearingEmptiesEveryRow) {
    CPedoHistory history;
    FillJanuary(history);
    history.Clear(77);
    EXPECT_EQ(history.Newest(), nullptr);
    EXPECT_EQ(history.Row(29).tick, 77u);
    EXPECT_EQ(history.Row(29).steps, 0);
}

}  // namespace
