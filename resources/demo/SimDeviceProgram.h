// What the two simulated-device programs of the demo share: their arguments, their lines
// on stdout and the end on Ctrl-C or SIGTERM.
//
//   <program> <root> [more options, each with a value]
//
// The device's tree goes below root; the device is plugged in as the program starts and
// stays until the program is told to end.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>

#include "TerminationWait.h"

class SimDeviceProgram {
public:
    // name starts every line ("simulated pedometer"); options are the options the program
    // takes. Call it before any thread starts: it takes over SIGINT and SIGTERM.
    SimDeviceProgram(std::string name, int argc, char** argv, std::initializer_list<const char*> options = {});

    // false, with the usage said, when the arguments were wrong.
    bool ArgumentsOk() const { return ok_; }
    const std::filesystem::path& Root() const { return root_; }
    // An option's value; nothing when it was not given.
    std::optional<std::string> Option(const std::string& option) const;

    void Say(const std::string& line) const;
    // Says what failed on stderr; the exit code of a program that cannot go on.
    int Fail(const std::string& what) const;

    // Waits until told to end.
    void WaitToEnd();

private:
    std::string name_;
    bool ok_ = false;
    std::filesystem::path root_;
    std::map<std::string, std::string> options_;
    std::optional<TerminationWait> termination_;  // once the arguments are known good
};
