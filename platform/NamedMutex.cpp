#include "NamedMutex.h"

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "Handle.h"
#include "Hooks.h"
#include "LastError.h"
#include "Text.h"

namespace {

class NamedMutex : public KernelObject {
public:
    explicit NamedMutex(int fd) : fd_(fd) {}
    ~NamedMutex() override { ::close(fd_); }  // closing the descriptor releases the lock

private:
    int fd_;
};

std::string LockFileName(const wchar_t* name) {
    std::string file = text::ToUtf8(name);
    for (auto& c : file) {
        if (c == '/' || c == '\\') c = '_';
    }
    return file + ".lock";
}

}  // namespace

HANDLE CreateMutexW(void*, BOOL, const wchar_t* name) {
    if (name == nullptr || *name == L'\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::error_code ec;
    std::filesystem::create_directories(Hooks().runtimeFolder, ec);
    const auto path = Hooks().runtimeFolder / LockFileName(name);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    SetLastError(held ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return RegisterHandle(std::make_unique<NamedMutex>(fd));
}
