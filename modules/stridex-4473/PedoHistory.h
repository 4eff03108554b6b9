// The pedometer's day records as last read: 30 rows sorted by ascending date, empty rows
// at the end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "WinTypes.h"

struct struPedoHisDay {
    DWORD tick;             // when the row was written
    std::int32_t date;      // yyyymmdd; -1 for an empty row
    std::int32_t steps;
    std::int32_t calories;
    std::int32_t validTime;
};

// Which value of a row a caller asks for.
enum class PedoValue { Steps, Calories, ValidTime };

int PedoValueOf(const struPedoHisDay& row, PedoValue value);

class CPedoHistory {
public:
    static constexpr int kRows = 30;

    CPedoHistory();

    // Held across a read of the device's records and what is taken from them, so two
    // callers never see each other's half-read table.
    std::mutex& Lock() { return lock_; }

    void Clear(DWORD tick);
    // Puts a record in its place by date; a record of a date already held replaces it.
    // A full table drops its oldest record, which is the new one when it is the oldest.
    void Enter(const struPedoHisDay& day);
    // The row with the latest date, or null when all are empty.
    const struPedoHisDay* Newest() const;
    const struPedoHisDay& Row(int index) const { return rows_[static_cast<std::size_t>(index)]; }

    // Appends the history text of the rows taken (all when limit is -1, else those after
    // limit and today's) to out while each fits with the closing NUL; returns the rows
    // appended. out must hold at least one byte.
    int WriteRows(PedoValue value, int limit, int today, char* out, std::size_t outSize) const;

private:
    void InsertAt(std::size_t at, const struPedoHisDay& day);

    std::array<struPedoHisDay, kRows> rows_{};
    std::mutex lock_;
};
