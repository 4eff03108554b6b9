// Compiled page scripts of the process, by the file a script is named by and its text: a
// script met before (a page loaded again, one frame in several windows) is loaded from its
// bytecode instead of being compiled, which costs ten times more. The text is the whole
// key, so a changed script never gets the bytecode of the old one. Only bytecode Duktape
// itself dumped in this process is ever loaded (it loads bytecode unchecked). Bounded: past
// kMaxBytes or kMaxScripts the scripts used least lately go.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace uie::detail {

class ScriptCache {
public:
    static ScriptCache& Instance();

    // The bytecode of the script; null when it is not kept.
    std::shared_ptr<const std::string> Find(std::string_view file, std::string_view code);
    // Keeps the script's bytecode; nothing when it cannot (too large, no memory).
    void Add(std::string_view file, std::string_view code, std::string_view bytecode) noexcept;

    static constexpr std::size_t kMaxBytes = std::size_t{8} << 20;
    static constexpr std::size_t kMaxScripts = 1024;

private:
    struct Kept {
        std::shared_ptr<const std::string> bytecode;
        std::list<const std::string*>::iterator use;  // its place in uses_
    };

    static std::string Key(std::string_view file, std::string_view code);
    static std::size_t SizeOf(const std::string& key, const Kept& kept);
    void Trim();

    std::mutex mutex_;
    std::unordered_map<std::string, Kept> scripts_;
    std::list<const std::string*> uses_;  // keys of scripts_, the latest used first
    std::size_t bytes_ = 0;
};

}  // namespace uie::detail
