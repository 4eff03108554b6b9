#include "PedoHistory.h"

#include <algorithm>
#include <cstring>

#include "ModuleInterface.h"

namespace {

constexpr std::int32_t kEmptyDate = -1;

bool Taken(const struPedoHisDay& row, int limit, int today) {
    return limit == -1 || row.date > limit || row.date == today;
}

}  // namespace

int PedoValueOf(const struPedoHisDay& row, PedoValue value) {
    switch (value) {
    case PedoValue::Steps: return row.steps;
    case PedoValue::Calories: return row.calories;
    case PedoValue::ValidTime: return row.validTime;
    }
    return 0;
}

CPedoHistory::CPedoHistory() { Clear(0); }

void CPedoHistory::Clear(DWORD tick) { rows_.fill({tick, kEmptyDate, 0, 0, 0}); }

void CPedoHistory::Enter(const struPedoHisDay& day) {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].date == kEmptyDate || rows_[i].date == day.date) {
            rows_[i] = day;
            return;
        }
        if (rows_[i].date > day.date) {
            InsertAt(i, day);
            return;
        }
    }
    // Newer than every row of a full table.
    std::move(rows_.begin() + 1, rows_.end(), rows_.begin());
    rows_.back() = day;
}

void CPedoHistory::InsertAt(std::size_t at, const struPedoHisDay& day) {
    if (rows_.back().date == kEmptyDate) {
        std::move_backward(rows_.begin() + static_cast<std::ptrdiff_t>(at), rows_.end() - 1, rows_.end());
        rows_[at] = day;
        return;
    }
    // Full: the oldest row goes, never a newer one such as today's.
    if (at == 0) return;
    std::move(rows_.begin() + 1, rows_.begin() + static_cast<std::ptrdiff_t>(at), rows_.begin());
    rows_[at - 1] = day;
}

const struPedoHisDay* CPedoHistory::Newest() const {
    for (auto it = rows_.rbegin(); it != rows_.rend(); ++it) {
        if (it->date != kEmptyDate) return &*it;
    }
    return nullptr;
}

int CPedoHistory::WriteRows(PedoValue value, int limit, int today, char* out, std::size_t outSize) const {
    std::size_t used = 0;
    int count = 0;
    out[0] = '\0';
    for (const auto& row : rows_) {
        if (!Taken(row, limit, today)) continue;
        const int amount = PedoValueOf(row, value);
        int year = row.date / 10000;
        int month = (row.date / 100) % 100;
        int day = row.date % 100;
        if (amount == 0 && year < 1 && month < 1) {  // an empty row stands for today
            year = today / 10000;
            month = (today / 100) % 100;
            day = today % 100;
        }
        char text[128];
        const int length = FormatModuleHistoryRow(text, sizeof(text), year, month, day, amount);
        if (length < 0 || static_cast<std::size_t>(length) >= sizeof(text)) break;
        if (used + static_cast<std::size_t>(length) + 1 > outSize) break;
        std::memcpy(out + used, text, static_cast<std::size_t>(length) + 1);
        used += static_cast<std::size_t>(length);
        ++count;
    }
    return count;
}
