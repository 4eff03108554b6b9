// The walking device's data: "down2.dat" as its download leaves it (the profile
// response at 16, day records from "data_start", the newest first) decoded into the
// walking head and up to 64 day records, handed out one at a time.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "VepDate.h"
#include "Vepcom.h"
#include "WinTypes.h"

struct VepModelParams;
class VepTrace;

class WalkingData {
public:
    static constexpr std::size_t kCapacity = 64;

    // Refills the store from the file at path; it is emptied first. 0; -1 (traced) when
    // the file is missing, no regular file, shorter than its count or longer than its
    // format can hold, or of a volume (volume not empty) not its own; 11 when stop ended
    // the read.
    int DecodeFile(const std::string& path, const VepModelParams& model, VepTrace& trace,
                   const std::function<bool()>& stop = {}, const std::string& volume = {});
    // Raw record i is dated today minus i days, dropped records counted.
    int Decode(std::span<const BYTE> file, const VepModelParams& model, const VepDateTime& today);
    void Clear();

    // Atomic, for the caller's polls while a job may refill the store.
    int Count() const { return count_; }
    const str_np_head& Head() const { return head_; }
    // An index outside the store is refused (false) and the selection kept.
    bool Select(int index);
    // The selected record's 184 bytes over out from offset 8 on; false when empty.
    bool CopySelected(str_np_data& out) const;

private:
    void DecodeHead(std::span<const BYTE> profile, const VepModelParams& model);
    str_np_data DecodeDay(std::span<const BYTE> raw, const VepModelParams& model, const VepDateTime& date) const;

    str_np_head head_{};
    std::vector<str_np_data> records_;
    std::atomic<int> count_{0};
    int selected_ = 0;
};
