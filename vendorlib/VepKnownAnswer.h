// An answer the link already knows, found in what comes: the proof that a link is in
// step is an exchange whose whole answer is known beforehand, everything that came
// before it dropped.
#pragma once

#include <cstddef>
#include <vector>

#include "VepFrame.h"

class VepKnownAnswer {
public:
    VepKnownAnswer() = default;
    // The first length bytes of answer (cut to its size).
    VepKnownAnswer(const VepResponse& answer, std::size_t length);

    bool Known() const { return !answer_.empty(); }
    std::size_t Length() const { return answer_.size(); }
    // Takes the next byte that came; true once the last bytes taken are the answer.
    bool Feed(BYTE byte);
    // Whether response begins with the answer.
    bool Begins(const VepResponse& response) const;
    void Restart() { window_.clear(); }

private:
    std::vector<BYTE> answer_;
    std::vector<BYTE> window_;
};
