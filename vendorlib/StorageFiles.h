// The files a USB-storage monitor keeps beside its readings: the summary files (a
// little-endian count, then 80-byte records of four 20-byte groups) and the 1926-byte
// settings file, read into and written from the library's settings block. Values in
// the settings file are signed little-endian 16-bit numbers.
//
// A full settings write replaces everything this library knows of the file except
// the monitor's two device areas (bytes 0..23 and 1686..1925).
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "VepDate.h"
#include "Vepcom.h"
#include "WinTypes.h"

class VepModel;
class VepSettingsBlock;
class VepState;
class VepTrace;

class StorageFiles {
public:
    static constexpr std::size_t kSettingsSize = 1926;
    static constexpr std::size_t kSummaryLength = 80;
    static constexpr std::size_t kScheduleEntries = 144;

    StorageFiles(VepModel& model, VepState& state);

    // Refills store with the records of a summary file, skipping those whose first
    // three groups carry no date; the count is bounded by the file and the store.
    static void DecodeSummaries(std::span<const BYTE> file, std::vector<str_sumbp_data>& store);
    // The settings block from a settings image (at least kSettingsSize bytes); the
    // clock and entry stamps are now.
    static void ParseSettings(std::span<const BYTE> image, VepSettingsBlock& settings, const VepDateTime& now);
    // The image a write puts in place of old (at least kSettingsSize bytes).
    static std::vector<BYTE> BuildSettings(std::span<const BYTE> old, const VepSettingsBlock& settings);

    // A file of the volume at root: 0 with its bytes, read as ReadVepFile reads a volume's
    // file (at most limit bytes, the job's abort ending the read); -1 when it cannot be
    // read or a link is on the way to it. The file itself is opened without following a
    // link, and each folder between root and it must be no link either: one could lead to
    // any folder of the user's on the same file system, and from there to any file.
    static int ReadDriveFile(const std::string& root, const std::string& name, std::vector<BYTE>& bytes,
                             std::size_t limit, VepState& state);

    // The jobs: 0; 1 when the file is empty (or missing) or cannot be written; -1 when
    // it cannot be read, is no regular file, or is shorter or much longer than a
    // settings file; 11 when an abort ended the read.
    int ReadJob();
    int WriteJob();

private:
    // Whether no folder on the way from root to the file name is a link (traced when one is).
    static bool NoLinkOnTheWay(const std::string& root, const std::string& name, VepTrace& trace);
    int Load(std::vector<BYTE>& image);

    VepModel& model_;
    VepState& state_;
};
