#include "VepReadingLedger.h"

#include <algorithm>
#include <optional>
#include <tuple>
#include <utility>

#include "VepModel.h"
#include "VepRecords.h"
#include "VepResult.h"
#include "VepTrace.h"

namespace {

auto Order(const VepDateTime& t) { return std::tie(t.year, t.month, t.day, t.hour, t.minute, t.second); }

}  // namespace

VepReadingLedger::VepReadingLedger(const VepModelParams& model, std::size_t answerLength, WellFormed wellFormed,
                                   int outOfStep, CanBeReading canBeReading)
    : model_(model),
      answerLength_(std::min(answerLength, VepResponse{}.size())),
      wellFormed_(std::move(wellFormed)),
      outOfStep_(outOfStep),
      canBeReading_(std::move(canBeReading)) {}

int VepReadingLedger::Fetch(int number, const std::function<int(VepResponse&)>& ask, const Prove& prove,
                            VepResponse& reading, VepTrace& trace) {
    int result = ask(reading);
    if (result != vep::kOk || Fits(reading)) {
        if (result == vep::kOk) Take(reading);
        return result;
    }
    trace.Line("%d: no reading, or one taken before or out of order, asked again in step", number);
    std::vector<BYTE> beside;
    if (!prove(beside)) return outOfStep_;
    std::optional<VepResponse> copyBefore;
    for (int attempt = 1; attempt <= kMostProofs; ++attempt) {
        if ((result = ask(reading)) != vep::kOk) return result;
        // The monitor answers in turn: its answer lies between the two proofs' answers.
        if (!prove(beside)) return outOfStep_;
        const Resolved resolved = Resolve(reading, beside);
        if (resolved == Resolved::Fitting || (resolved == Resolved::AllCopies && copyBefore == reading)) {
            Take(reading);
            return vep::kOk;
        }
        copyBefore.reset();
        if (resolved == Resolved::AllCopies) {
            copyBefore = reading;
            trace.Line("%d: only copies of an answer taken before, asked once more", number);
        } else {
            trace.Line("%d: %zu bytes beside the answer, asked again", number, beside.size());
        }
    }
    trace.Line("%d: answers not in step", number);
    return outOfStep_;
}

bool VepReadingLedger::Fits(const VepResponse& answer) const {
    if (taken_.count(answer) != 0 || (canBeReading_ && !canBeReading_(answer))) return false;
    VepDateTime when;
    return !dated_ || !VepRecords::RecordedMoment(Record(answer), model_, when) || Order(when) >= Order(last_);
}

void VepReadingLedger::Take(const VepResponse& answer) {
    taken_.insert(answer);
    VepDateTime when;
    if (VepRecords::RecordedMoment(Record(answer), model_, when)) {
        dated_ = true;
        last_ = when;
    }
}

// What came beside the answer can only be answers sent before, to readings taken already
// or to this one. So an answer that fits is this reading's; when none fits, the answer
// may stand only when all that came are copies of it (Fetch asks for that twice in a
// row). Anything else beside it is no answer of the monitor's: nothing stands.
VepReadingLedger::Resolved VepReadingLedger::Resolve(VepResponse& reading, const std::vector<BYTE>& beside) const {
    if (answerLength_ == 0 || beside.size() % answerLength_ != 0) return Resolved::None;
    std::vector<VepResponse> answers{reading};
    for (std::size_t at = 0; at < beside.size(); at += answerLength_) {
        VepResponse answer{};
        std::copy_n(beside.begin() + static_cast<std::ptrdiff_t>(at), answerLength_, answer.begin());
        if (!wellFormed_(answer, answerLength_)) return Resolved::None;
        answers.push_back(answer);
    }
    std::optional<VepResponse> fitting;
    for (const VepResponse& answer : answers) {
        if (!Fits(answer)) continue;
        if (fitting && *fitting != answer) return Resolved::None;
        fitting = answer;
    }
    if (fitting) {
        reading = *fitting;
        return Resolved::Fitting;
    }
    const bool copies = std::all_of(answers.begin(), answers.end(), [&](const VepResponse& a) { return a == reading; });
    return copies ? Resolved::AllCopies : Resolved::None;
}

// The part of the answer the work file keeps, which the model's fields describe.
std::span<const BYTE> VepReadingLedger::Record(const VepResponse& answer) const {
    const auto length = static_cast<std::size_t>(std::clamp(model_.recLength, 0, static_cast<int>(answer.size())));
    return {answer.data(), length};
}
