// Sets or removes an environment variable for a scope and restores it afterwards.
// Only for tests that start no threads reading the environment meanwhile.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

class EnvScope {
public:
    // value null: the variable is removed.
    EnvScope(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        Set(value);
    }
    ~EnvScope() { Set(old_ ? old_->c_str() : nullptr); }
    EnvScope(const EnvScope&) = delete;
    EnvScope& operator=(const EnvScope&) = delete;

private:
    void Set(const char* value) const {
        if (value != nullptr) {
            setenv(name_.c_str(), value, 1);
        } else {
            unsetenv(name_.c_str());
        }
    }

    std::string name_;
    std::optional<std::string> old_;
};
