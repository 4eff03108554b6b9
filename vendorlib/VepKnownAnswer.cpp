#include "VepKnownAnswer.h"

#include <algorithm>

VepKnownAnswer::VepKnownAnswer(const VepResponse& answer, std::size_t length)
    : answer_(answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(std::min(length, answer.size()))) {}

bool VepKnownAnswer::Feed(BYTE byte) {
    if (answer_.empty()) return false;
    window_.push_back(byte);
    if (window_.size() > answer_.size()) window_.erase(window_.begin());
    return window_ == answer_;
}

bool VepKnownAnswer::Begins(const VepResponse& response) const {
    return !answer_.empty() && std::equal(answer_.begin(), answer_.end(), response.begin());
}
