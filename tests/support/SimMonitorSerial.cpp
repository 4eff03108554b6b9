#include "SimMonitorSerial.h"

#include <algorithm>
#include <cctype>

#include "SimMonitorBytes.h"

namespace {

using simbytes::Append;
using simbytes::Be16;
using simbytes::Ng;
using simbytes::No;
using simbytes::Ok;
using simbytes::Text;
using simbytes::Xor;

constexpr std::size_t kBlocks = 9;
constexpr std::size_t kTextFrame = 5;
constexpr std::size_t kBlockFrame = 5;
constexpr std::size_t kNewestFrame = 6;   // "MES",0,0,0
constexpr std::size_t kReadingFrame = 7;  // "MES",0,k (2 bytes),check
constexpr std::size_t kWriteFrame = 21;
constexpr std::size_t kTextLength = 11;
constexpr std::size_t kNewestLength = 15;
constexpr BYTE kEmptyRead = 0xCF;  // what the host takes for "no byte": never sent

bool StartsWith(const std::vector<BYTE>& frame, const std::string& text) {
    return frame.size() >= text.size() && std::equal(text.begin(), text.end(), frame.begin());
}

// The check byte that makes the bytes after "OK" XOR to 0. The filler moves it off 0xCF,
// and off 0x30, which a wrong-check fault would turn into 0xCF.
std::vector<BYTE> Sealed(std::vector<BYTE> response) {
    const BYTE check = Xor(response, 2, response.size());
    if (check == kEmptyRead || check == static_cast<BYTE>(~kEmptyRead)) response[2] ^= 0x01;
    response.push_back(Xor(response, 2, response.size()));
    return response;
}

std::vector<BYTE> Checked(const std::vector<BYTE>& data) {
    std::vector<BYTE> response{'O', 'K', SimMonitor::kFiller};
    Append(response, data);
    return Sealed(response);
}

std::vector<BYTE> PaddedText(std::string text) {
    text.resize(kTextLength, ' ');
    return Text(text);
}

// A block and the byte that makes the seventeen XOR to 0.
std::vector<BYTE> BlockAnswer(const std::array<BYTE, 16>& block) {
    std::vector<BYTE> answer(block.begin(), block.end());
    answer.push_back(Xor(answer, 0, answer.size()));
    return answer;
}

std::vector<BYTE> DateBytes(const SimReading& r) {
    return {static_cast<BYTE>(r.year - 2000), static_cast<BYTE>(r.month),  static_cast<BYTE>(r.day),
            static_cast<BYTE>(r.hour),        static_cast<BYTE>(r.minute), static_cast<BYTE>(r.second)};
}

std::vector<BYTE> Reading(const SimMonitorState& s, const std::vector<BYTE>& frame) {
    if (frame.size() == kNewestFrame) {  // the newest reading's date
        if (s.readings.empty()) return No();
        std::vector<BYTE> response{'O', 'K', SimMonitor::kFiller};
        Append(response, DateBytes(s.readings.front()));
        response.resize(kNewestLength - 1, 0);
        return Sealed(response);
    }
    if (frame.size() != kReadingFrame || frame[6] != (frame[4] ^ frame[5])) return Ng();
    const std::size_t k = static_cast<std::size_t>((frame[4] << 8) | frame[5]);
    return k < s.readings.size() ? SimMonitorSerial::ReadingRecord(s, k) : No();
}

// The commands whose frame comes back first; with echo-back the line echoed it already.
std::vector<BYTE> Echoed(SimMonitorState& s, const std::string& name, const std::vector<BYTE>& frame) {
    std::vector<BYTE> answer = s.echoBack ? std::vector<BYTE>{} : frame;
    const std::size_t block = frame.size() > 3 ? frame[3] : kBlocks;
    if (name == "STAT0") {
        Append(answer, BlockAnswer(s.status));
    } else if (name == "RD") {
        Append(answer, frame.size() == kBlockFrame && block < kBlocks ? BlockAnswer(s.blocks[block]) : Ng());
    } else if (name == "WR") {
        const bool good =
            frame.size() == kWriteFrame && block < kBlocks && frame[4] == (block ^ Xor(frame, 5, kWriteFrame));
        if (good) std::copy(frame.begin() + 5, frame.end(), s.blocks[block].begin());
        Append(answer, good ? Ok() : Ng());
    } else if (name == "PROG") {
        const bool good = frame.size() == kWriteFrame && frame[4] == Xor(frame, 5, kWriteFrame);
        if (good) std::copy(frame.begin() + 5, frame.end(), s.status.begin());
        Append(answer, good ? BlockAnswer(s.status) : Ng());
    } else if (name == "CLEAR") {
        s.readings.clear();
        s.totalCount = -1;
        Append(answer, BlockAnswer(s.status));
    } else {
        return {};
    }
    return answer;
}

}  // namespace

std::string SimMonitorSerial::NameOf(const std::vector<BYTE>& frame) {
    if (!frame.empty() && std::all_of(frame.begin(), frame.end(), [](BYTE b) { return b == 0; })) return "HANDSHAKE";
    for (const char* name : {"STAT0", "CLEAR", "PROG", "RD", "WR", "END", "MES"}) {
        if (StartsWith(frame, name)) return name;
    }
    std::string name;
    for (std::size_t i = 0; i < frame.size() && i < 5 && std::isprint(frame[i]); ++i)
        name += static_cast<char>(frame[i]);
    return name;
}

std::size_t SimMonitorSerial::FrameLength(const std::vector<BYTE>& bytes, bool quiet) {
    if (bytes.empty()) return 0;
    if (bytes[0] == 0) {
        const auto zeros = static_cast<std::size_t>(
            std::find_if(bytes.begin(), bytes.end(), [](BYTE b) { return b != 0; }) - bytes.begin());
        if (zeros >= kWakeLength) return kWakeLength;
        return zeros < bytes.size() ? zeros : 0;
    }
    if (!std::isprint(bytes[0])) return 1;
    if (bytes.size() < 2) return 0;
    if (StartsWith(bytes, "RD")) return kBlockFrame;
    if (StartsWith(bytes, "WR") || StartsWith(bytes, "PR")) return kWriteFrame;
    if (!StartsWith(bytes, "ME")) return kTextFrame;
    if (bytes.size() < kNewestFrame) return 0;
    if (bytes[4] != 0 || bytes[5] != 0) return kReadingFrame;
    // Reading 0's check byte is 0; the next command starts with a letter.
    if (bytes.size() > kNewestFrame) return bytes[kNewestFrame] == 0 ? kReadingFrame : kNewestFrame;
    return quiet ? kNewestFrame : 0;
}

bool SimMonitorSerial::AnswersAfterPurge(const std::string& name) {
    for (const char* text : {"HANDSHAKE", "CNT00", "VER00", "SRL00", "MES", "END"}) {
        if (name == text) return true;
    }
    return false;
}

std::vector<BYTE> SimMonitorSerial::Answer(SimMonitorState& s, const std::string& name,
                                           const std::vector<BYTE>& frame) {
    if (name == "HANDSHAKE") return frame.size() >= kWakeLength ? Ok() : std::vector<BYTE>{};
    if (name == "END") return Ok();
    if (name == "CNT00") {
        const int valid = static_cast<int>(s.readings.size());
        std::vector<BYTE> data = Be16(valid);
        Append(data, Be16(s.totalCount >= 0 ? s.totalCount : valid));
        return Checked(data);
    }
    if (name == "VER00") return Checked(PaddedText(s.name + " " + s.revision));
    if (name == "SRL00") return Checked(PaddedText(s.serialText));
    if (name == "MES") return Reading(s, frame);
    return Echoed(s, name, frame);
}

std::vector<BYTE> SimMonitorSerial::ReadingRecord(const SimMonitorState& s, std::size_t k) {
    const SimReading& r = s.readings.at(k);
    std::vector<BYTE> response{'O', 'K', SimMonitor::kFiller};
    Append(response, DateBytes(r));
    for (const int value : {r.systolic, r.diastolic, r.pulse}) Append(response, Be16(value));
    response.push_back(r.extra[0]);
    response.resize(std::max<std::size_t>(s.resvLength, 4) - 1, 0);
    return Sealed(response);
}
