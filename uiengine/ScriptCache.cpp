#include "internal/ScriptCache.h"

#include <new>

namespace uie::detail {

ScriptCache& ScriptCache::Instance() {
    static ScriptCache cache;
    return cache;
}

// The file's length first, so that no file name and text run into another pair's.
std::string ScriptCache::Key(std::string_view file, std::string_view code) {
    std::string key = std::to_string(file.size());
    key += ':';
    key += file;
    key += code;
    return key;
}

std::size_t ScriptCache::SizeOf(const std::string& key, const Kept& kept) { return key.size() + kept.bytecode->size(); }

std::shared_ptr<const std::string> ScriptCache::Find(std::string_view file, std::string_view code) {
    const std::string key = Key(file, code);
    std::lock_guard lock(mutex_);
    auto it = scripts_.find(key);
    if (it == scripts_.end()) return nullptr;
    uses_.splice(uses_.begin(), uses_, it->second.use);
    return it->second.bytecode;
}

void ScriptCache::Add(std::string_view file, std::string_view code, std::string_view bytecode) noexcept {
    try {
        std::string key = Key(file, code);
        if (key.size() + bytecode.size() > kMaxBytes / 8) return;  // one script never crowds out the rest
        auto made = std::make_shared<const std::string>(bytecode);
        std::lock_guard lock(mutex_);
        auto [it, added] = scripts_.try_emplace(std::move(key));
        if (!added) return;  // compiled twice meanwhile: the same bytecode
        try {
            uses_.push_front(&it->first);
        } catch (const std::bad_alloc&) {
            scripts_.erase(it);
            return;
        }
        it->second.bytecode = std::move(made);
        it->second.use = uses_.begin();
        bytes_ += SizeOf(it->first, it->second);
        Trim();
    } catch (const std::bad_alloc&) {  // not kept: the script compiles again next time
    }
}

void ScriptCache::Trim() {
    while (!uses_.empty() && (bytes_ > kMaxBytes || scripts_.size() > kMaxScripts)) {
        auto it = scripts_.find(*uses_.back());
        bytes_ -= SizeOf(it->first, it->second);
        uses_.pop_back();
        scripts_.erase(it);
    }
}

}  // namespace uie::detail
