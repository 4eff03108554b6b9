// The files the library reads: the monitor's own files on a volume anyone can plug in,
// the work files the jobs leave and the model files. Only a regular file is read (a FIFO
// or a device in its place is refused, never waited on), never more than its format can
// hold, and the job's abort ends a read under way.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "SmallFile.h"
#include "VepResult.h"
#include "VepTrace.h"

// What a volume may add past a file's last record: it may round the file up to a block.
constexpr std::size_t kVepFileSlack = 4096;
// No file of the library's formats comes near this, whatever a model file says.
constexpr std::size_t kVepMostFileBytes = std::size_t{16} << 20;

// What a file's 16-bit record count can declare.
constexpr std::size_t kVepMostRecords = 0xFFFF;

// The header, records of recLength bytes and the slack, within kVepMostFileBytes.
inline std::size_t VepRecordsFileBound(int dataStart, int recLength, std::size_t records) {
    const auto start = static_cast<std::uint64_t>(std::max(dataStart, 0));
    const auto length = static_cast<std::uint64_t>(std::max(recLength, 0));
    const std::uint64_t bound = start + length * records + kVepFileSlack;
    return static_cast<std::size_t>(std::min<std::uint64_t>(bound, kVepMostFileBytes));
}

// 0 with the whole file in bytes; 11 when stop ended the read; -1 when the file is
// missing, unreadable, not a regular file, over limit bytes or, for a file of a volume
// (volume not empty), not the volume's own (each traced but the first two, which the
// callers trace in their own words). Bytes is a std::vector<BYTE> or a std::string.
template <typename Bytes>
int ReadVepFile(const std::string& path, Bytes& bytes, std::size_t limit, VepTrace& trace,
                const std::function<bool()>& stop = {}, const std::string& volume = {}) {
    const FileReadResult result = volume.empty() ? ReadRegularFile(path, limit, bytes, stop)
                                                 : ReadVolumeFile(path, volume, limit, bytes, stop);
    switch (result) {
        case FileReadResult::Ok: return vep::kOk;
        case FileReadResult::Stopped: trace.Line("file read aborted: %s", path.c_str()); return vep::kAborted;
        case FileReadResult::TooLarge: trace.Line("file over %zu bytes: %s", limit, path.c_str()); break;
        case FileReadResult::NotRegular: trace.Line("not a regular file: %s", path.c_str()); break;
        case FileReadResult::OffVolume:
            trace.Line("not a file of the volume %s: %s", volume.c_str(), path.c_str());
            break;
        case FileReadResult::Missing:
        case FileReadResult::Failed: break;
    }
    bytes.clear();
    return vep::kFailed;
}
