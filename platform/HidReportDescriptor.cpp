#include "HidReportDescriptor.h"

#include <algorithm>
#include <cstdint>
#include <map>

namespace {

// Item type and tag values of the HID class definition.
constexpr int kMainItem = 0;
constexpr int kGlobalItem = 1;
constexpr int kTagInput = 0x8;
constexpr int kTagOutput = 0x9;
constexpr int kTagFeature = 0xB;
constexpr int kTagReportSize = 0x7;
constexpr int kTagReportId = 0x8;
constexpr int kTagReportCount = 0x9;
constexpr int kTagPush = 0xA;
constexpr int kTagPop = 0xB;
constexpr BYTE kLongItem = 0xFE;
// Far beyond any real report; keeps sums of hostile sizes from overflowing.
constexpr std::uint64_t kMaxBits = std::uint64_t{1} << 24;

struct GlobalState {
    std::uint64_t reportSize = 0;
    std::uint64_t reportCount = 0;
    std::uint32_t reportId = 0;
};

struct Item {
    int type = 0;
    int tag = 0;
    std::uint32_t value = 0;
};

class DescriptorWalk {
public:
    void Apply(const Item& item) {
        if (item.type == kMainItem) {
            if (auto* reports = ReportsOf(item.tag)) {
                auto& bits = (*reports)[state_.reportId];
                bits = std::min(kMaxBits, bits + std::min(kMaxBits, state_.reportSize * state_.reportCount));
            }
        } else if (item.type == kGlobalItem) {
            ApplyGlobal(item);
        }
    }

    HidReportLengths Lengths() const { return {LengthOf(inputBits_), LengthOf(outputBits_), LengthOf(featureBits_)}; }

private:
    // The bit counts of the main item's kind of report; null for collections and the like.
    std::map<std::uint32_t, std::uint64_t>* ReportsOf(int tag) {
        switch (tag) {
        case kTagInput: return &inputBits_;
        case kTagOutput: return &outputBits_;
        case kTagFeature: return &featureBits_;
        default: return nullptr;
        }
    }

    void ApplyGlobal(const Item& item) {
        switch (item.tag) {
        case kTagReportSize: state_.reportSize = std::min<std::uint64_t>(item.value, kMaxBits); break;
        case kTagReportCount: state_.reportCount = std::min<std::uint64_t>(item.value, kMaxBits); break;
        case kTagReportId: state_.reportId = item.value; break;
        case kTagPush: stack_.push_back(state_); break;
        case kTagPop:
            if (!stack_.empty()) {
                state_ = stack_.back();
                stack_.pop_back();
            }
            break;
        default: break;
        }
    }

    static std::size_t LengthOf(const std::map<std::uint32_t, std::uint64_t>& reports) {
        std::uint64_t longest = 0;
        for (const auto& [id, bits] : reports) longest = std::max(longest, (bits + 7) / 8);
        return longest == 0 ? 0 : static_cast<std::size_t>(longest + 1);
    }

    GlobalState state_;
    std::vector<GlobalState> stack_;
    std::map<std::uint32_t, std::uint64_t> inputBits_;
    std::map<std::uint32_t, std::uint64_t> outputBits_;
    std::map<std::uint32_t, std::uint64_t> featureBits_;
};

std::size_t DataSize(BYTE prefix) {
    const int code = prefix & 0x3;
    return code == 3 ? 4 : static_cast<std::size_t>(code);
}

}  // namespace

HidReportLengths ReportLengthsOf(const std::vector<BYTE>& descriptor) {
    DescriptorWalk walk;
    std::size_t at = 0;
    while (at < descriptor.size()) {
        const BYTE prefix = descriptor[at];
        if (prefix == kLongItem) {
            if (at + 1 >= descriptor.size()) break;
            at += 3 + descriptor[at + 1];
            continue;
        }
        const std::size_t size = DataSize(prefix);
        if (at + 1 + size > descriptor.size()) break;
        Item item{(prefix >> 2) & 0x3, prefix >> 4, 0};
        for (std::size_t i = 0; i < size; ++i) item.value |= std::uint32_t{descriptor[at + 1 + i]} << (8 * i);
        walk.Apply(item);
        at += 1 + size;
    }
    return walk.Lengths();
}
