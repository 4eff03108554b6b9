#include "internal/PageTimers.h"


namespace uie::detail {

UINT_PTR PageTimers::Add(Pending pending) {
    if (pending_.size() >= kMaxPending) return 0;
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
    return true;
}

std::map<UINT_PTR, PageTimers::Pending> PageTimers::TakeOrphans() {
    std::map<UINT_PTR, Pending> orphans;
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->second.doc.expired()) {
            orphans.insert(pending_.extract(it++));
        } else {
            ++it;
        }
    }
    return orphans;
}

}  // namespace uie::detail
