#include "internal/PageTimers.h"

namespace uie::detail {

UINT_PTR PageTimers::Add(Pending pending) {
    // Every id of the range in use would be hundreds of documents at their bound.
    if (pending_.size() >= kIds) return 0;
    std::size_t& waiting = perDocument_[pending.docId];
    if (waiting >= kMaxPending) return 0;
    ++waiting;
    UINT_PTR id = 0;
    do {  // ids go round; one still waiting is skipped
        id = kFirstId + next_;
        next_ = (next_ + 1) % kIds;
    } while (pending_.contains(id));
    pending_.emplace(id, std::move(pending));
    return id;
}

bool PageTimers::Take(UINT_PTR id, Pending& out) {
    auto it = pending_.find(id);
    if (it == pending_.end()) return false;
    out = std::move(it->second);
    pending_.erase(it);
    Forget(out);
    return true;
}

void PageTimers::Forget(const Pending& pending) {
    auto it = perDocument_.find(pending.docId);
    if (it != perDocument_.end() && --it->second == 0) perDocument_.erase(it);
}

std::map<UINT_PTR, PageTimers::Pending> PageTimers::TakeOrphans() {
    std::map<UINT_PTR, Pending> orphans;
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->second.doc.expired()) {
            Forget(it->second);
            orphans.insert(pending_.extract(it++));
        } else {
            ++it;
        }
    }
    return orphans;
}

}  // namespace uie::detail
