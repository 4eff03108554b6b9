// COM ports over termios, against a pseudo-terminal: the port table from the
// environment, the exclusive open, the line set-up, the read limits and the purge.
#include "SerialPort.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <tuple>
#include <vector>

#include "EnvScope.h"
#include "Hooks.h"
#include "SerialPortPty.h"
#include "TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string FromLine(SerialPortPty& line, std::size_t length) {
    std::string text;
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (text.size() < length && Clock::now() < end) {
        BYTE chunk[32];
        const int got = line.Read(chunk, sizeof(chunk), 50);
        if (got > 0) text.append(reinterpret_cast<const char*>(chunk), static_cast<std::size_t>(got));
    }
    return text;
}

TEST(SerialPortTest, TheComTableComesFromTheEnvironmentAndNamesOnlyItsPorts) {
    {
        EnvScope unset("QUORV_COMPORTS", nullptr);
        const auto table = DefaultHooks().serialPorts;
        EXPECT_EQ(table.front(), "/dev/ttyS0");
        EXPECT_EQ(table.back(), "/dev/ttyS7");
    }
    {
        EnvScope set("QUORV_COMPORTS", "com3=/dev/pts/7, COM4 = /dev/ttyUSB0,COM9=/x,LPT1=/y,COM2=,junk,,");
        testing::internal::CaptureStderr();
        const auto table = DefaultHooks().serialPorts;
        const std::string warnings = testing::internal::GetCapturedStderr();
        EXPECT_EQ(table, (SerialPort::PortTable{"", "", "/dev/pts/7", "/dev/ttyUSB0", "", "", "", ""}));
        for (const char* entry : {"\"COM9=/x\"", "\"LPT1=/y\"", "\"COM2=\"", "\"junk\""})
            EXPECT_NE(warnings.find(entry), std::string::npos) << entry;
    }
    EnvScope empty("QUORV_COMPORTS", "");
    EXPECT_EQ(DefaultHooks().serialPorts, SerialPort::PortTable{});
}

TEST(SerialPortTest, APortHasOneHolderAndMustBeATerminal) {
    SerialPortPty line;
    ASSERT_TRUE(line.IsOpen());
    SerialPort first;
    SerialPort second;
    ASSERT_TRUE(first.OpenPath(line.SlavePath()));
    EXPECT_TRUE(first.HasProperties());
    EXPECT_FALSE(second.OpenPath(line.SlavePath())) << "held by the first";
    first.Close();
    EXPECT_TRUE(second.OpenPath(line.SlavePath()));
    second.Close();

    TempDir dir;
    std::ofstream(dir / "plain") << "x";
    ASSERT_TRUE(first.OpenPath((dir / "plain").string()));
    EXPECT_FALSE(first.HasProperties());

    HookScope hooks;
    Hooks().serialPorts = {"", line.SlavePath(), "", "", "", "", "", ""};
    EXPECT_TRUE(first.Open(2));
    EXPECT_EQ(first.Path(), line.SlavePath());
    for (int number : {0, 1, 9}) EXPECT_FALSE(first.Open(number)) << number;

    // A legacy port is usable only when sysfs gives its UART a type.
    std::filesystem::create_symlink(line.SlavePath(), dir / "ttyS3");
    Hooks().sysfsRoot = dir / "sys";
    ASSERT_TRUE(first.OpenPath((dir / "ttyS3").string()));
    EXPECT_TRUE(first.HasProperties()) << "nothing tells otherwise";
    std::filesystem::create_directories(dir / "sys/class/tty/ttyS3");
    std::ofstream(dir / "sys/class/tty/ttyS3/type") << "0\n";
    EXPECT_FALSE(first.HasProperties());
    std::ofstream(dir / "sys/class/tty/ttyS3/type") << "4\n";
    EXPECT_TRUE(first.HasProperties());
}

TEST(SerialPortTest, TheLineIsRawAtNineSixHundredWithTheParityAndStopCodes) {
    SerialPortPty line;
    SerialPort port;
    ASSERT_TRUE(port.OpenPath(line.SlavePath()));
    ASSERT_TRUE(port.Setup(1, 3)) << "DTR and RTS, which a pseudo-terminal lacks, are no failure";
    const auto settings = line.LineSettings();
    ASSERT_TRUE(settings.has_value());
    EXPECT_EQ(settings->baud, 9600u);
    EXPECT_EQ(settings->dataBits, 8);
    EXPECT_EQ(settings->parity, 'N');
    EXPECT_EQ(settings->stopBits, 2);
    EXPECT_TRUE(settings->raw);
    EXPECT_FALSE(settings->flowControl);

    // Parity code, stop code; the parity and stop bits they give.
    for (const auto& [parityCode, stopCode, parity, stopBits] : std::vector<std::tuple<int, int, char, int>>{
             {1, 1, 'N', 1}, {2, 1, 'E', 1}, {3, 3, 'O', 2}, {4, 2, 'M', 2}, {5, 1, 'S', 1}, {7, 9, 'N', 1}}) {
        const SerialLineSettings codes = SerialPort::SettingsFor(parityCode, stopCode);
        EXPECT_EQ(codes.parity, parity) << parityCode;
        EXPECT_EQ(codes.stopBits, stopBits) << stopCode;
        EXPECT_EQ(codes.baud, 9600u);
        EXPECT_TRUE(codes.raw);
        EXPECT_FALSE(codes.flowControl);
    }
}

TEST(SerialPortTest, ReadsEndAtTheirLimitsAndAPurgeKeepsWhatWasWritten) {
    SerialPortPty line;
    SerialPort port;
    ASSERT_TRUE(port.OpenPath(line.SlavePath()));
    ASSERT_TRUE(port.Setup(1, 1));
    port.SetTimeouts({10, 1, 30, 1, 30});
    BYTE in[8] = {};

    // A read of nothing ends at its limit, not at the next byte: should it wait for one, a
    // byte written after the test's own bound lets it end.
    const auto start = Clock::now();
    auto nothing = std::async(std::launch::async, [&] { return port.Read(in, 4); });
    const bool ended = nothing.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!ended) line.Write(reinterpret_cast<const BYTE*>("Z"), 1);
    EXPECT_TRUE(ended) << "the read waited past its limit";
    EXPECT_EQ(nothing.get(), 0);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(30));

    ASSERT_TRUE(line.Write(reinterpret_cast<const BYTE*>("AB"), 2));
    EXPECT_EQ(port.Read(in, 4), 2) << "the pause after the last byte ends the read";
    EXPECT_EQ(std::string(in, in + 2), "AB");

    // What arrived is dropped...
    ASSERT_TRUE(line.Write(reinterpret_cast<const BYTE*>("XYZ"), 3));
    ASSERT_EQ(port.Read(in, 1), 1);
    port.PurgeInput();
    EXPECT_EQ(port.Read(in, 4), 0);
    // ...what was written still goes out.
    ASSERT_EQ(port.Write(reinterpret_cast<const BYTE*>("hello"), 5), 5);
    port.PurgeInput();
    EXPECT_EQ(FromLine(line, 5), "hello");

    port.Close();
    EXPECT_TRUE(line.SlaveClosed());
    EXPECT_EQ(port.Read(in, 1), -1);
}

}  // namespace
