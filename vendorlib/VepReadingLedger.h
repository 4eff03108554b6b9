// The answers a readings download has taken, to tell an answer that belongs to another
// request. A monitor's reading answer carries no number: one that came twice, or late,
// shows only by what it is, a reading the download took already or one dated before the
// reading before it in the memory's order (the oldest first), or one the link tells is
// no reading at all (another exchange's answer, or one cut short). Such a reading is
// asked again between two proofs that the link is in step (an exchange whose answer is known):
// of what came between the proofs' answers, the one answer that fits stands, or, when
// none does, the answer when all that came are copies of it in two such asks in a row (two
// equal readings of a monitor without a clock, a clock set back; a stale copy of an earlier
// answer, which a copy of the proof's own answer can seat between two proofs, does not
// come again). The links and their procedures share this,
// so every download holds to the same rule.
#pragma once

#include <cstddef>
#include <functional>
#include <set>
#include <span>
#include <vector>

#include "VepDate.h"
#include "VepFrame.h"

struct VepModelParams;
class VepTrace;

class VepReadingLedger {
public:
    // Asks of one reading between proofs before the download is given up as out of step.
    static constexpr int kMostProofs = 4;
    // Puts the link in step, dropping what came before the known answer (into dropped);
    // false when that answer does not come.
    using Prove = std::function<bool(std::vector<BYTE>& dropped)>;
    // Whether bytes that came are a whole answer of the link ("OK" and its check byte).
    using WellFormed = std::function<bool(const VepResponse& answer, std::size_t length)>;

    // Whether an answer can be a reading's: false for one the link knows is not.
    using CanBeReading = std::function<bool(const VepResponse& answer)>;

    // answerLength: the bytes of a reading's answer on the link; outOfStep: the code a
    // download gives when its answers cannot be put in step; canBeReading, when given,
    // keeps an answer that is no reading from standing without a proof.
    VepReadingLedger(const VepModelParams& model, std::size_t answerLength, WellFormed wellFormed, int outOfStep,
                     CanBeReading canBeReading = {});

    // Asks reading number; an answer that does not fit is asked again between proofs.
    // 0 with reading taken; ask's code; outOfStep when a proof fails or kMostProofs asks
    // all had another answer beside them.
    int Fetch(int number, const std::function<int(VepResponse&)>& ask, const Prove& prove, VepResponse& reading,
              VepTrace& trace);

private:
    bool Fits(const VepResponse& answer) const;
    void Take(const VepResponse& answer);
    std::span<const BYTE> Record(const VepResponse& answer) const;
    enum class Resolved { Fitting, AllCopies, None };
    Resolved Resolve(VepResponse& reading, const std::vector<BYTE>& beside) const;

    const VepModelParams& model_;
    const std::size_t answerLength_;
    const WellFormed wellFormed_;
    const int outOfStep_;
    const CanBeReading canBeReading_;
    std::set<VepResponse> taken_;
    bool dated_ = false;
    VepDateTime last_;
};
