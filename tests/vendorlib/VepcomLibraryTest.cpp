#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include "ChildProcess.h"
#include "VepApiFixture.h"

namespace {

// The platform loader's name of the built library.
std::wstring LibraryName() { return std::filesystem::path(VEPCOM_LIBRARY).replace_extension(".dll").wstring(); }

std::set<std::string> DefinedDynamicSymbols() {
    std::set<std::string> names;
    const std::string command = std::string("nm -D --defined-only '") + VEPCOM_LIBRARY + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return names;
    char line[512];
    while (std::fgets(line, sizeof(line), pipe.get()) != nullptr) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name) names.insert(name);
    }
    return names;
}

class VepcomLibraryTest : public VepApiFixture {
protected:
    VepcomLibraryTest() : library_(LoadLibraryW(LibraryName().c_str())) {}
    ~VepcomLibraryTest() override {
        if (library_ != nullptr) FreeLibrary(library_);
    }

    HMODULE library_;
};

TEST_F(VepcomLibraryTest, ExportsExactlyTheLibraryInterface) {
    const std::set<std::string> expected{"Vep_Init",
                                         "Vep_End",
                                         "Vep_Abort",
                                         "Vep_GetDeviceList",
                                         "Vep_SetConnectDeviceName",
                                         "Vep_GetConnectDeviceName",
                                         "Vep_SetConnectMode",
                                         "Vep_GetConnectMode",
                                         "Vep_OpenDevice",
                                         "Vep_GetConnectDeviceID",
                                         "Vep_GetDeviceInfo",
                                         "Vep_SetComPort",
                                         "Vep_DebugMode",
                                         "Vep_SetBpMode",
                                         "Vep_SetUserKbn",
                                         "Vep_SetLastDataSerial",
                                         "Vep_StartDownload",
                                         "Vep_StartDownload_WeekData",
                                         "Vep_StartDownload_MonthData",
                                         "Vep_StartInfoDownload",
                                         "Vep_StartInfoUpload",
                                         "Vep_DataClear",
                                         "Vep_GetStatus",
                                         "Vep_GetErrStatus",
                                         "Vep_GetDownloadStatus",
                                         "Vep_GetUploadStatus",
                                         "Vep_GetDataCnt",
                                         "Vep_SetDataCurrent",
                                         "Vep_GetBpData",
                                         "Vep_GetWeekDataCnt",
                                         "Vep_GetMonthDataCnt",
                                         "Vep_SetWeekDataCurrent",
                                         "Vep_SetMonthDataCurrent",
                                         "Vep_GetWeekBpData",
                                         "Vep_GetMonthBpData",
                                         "Vep_InitBpInfo",
                                         "Vep_GetBpInfo",
                                         "Vep_SetBpInfo",
                                         "Vep_GetWalkingInfo",
                                         "Vep_GetWalkingData",
                                         "Vep_InitStructure",
                                         "Vep_InitStrBpData",
                                         "Vep_InitStrNpData",
                                         "Vep_DataSet"};
    ASSERT_EQ(expected.size(), 44u);
    std::set<std::string> exported;
    for (const std::string& name : DefinedDynamicSymbols()) {
        if (name.rfind("Vep_", 0) == 0) exported.insert(name);
    }
    EXPECT_EQ(exported, expected);

    ASSERT_NE(library_, nullptr) << LastLibraryError();
    // The blood-pressure module binds these, in this order.
    for (const char* name : {"Vep_Init",
                             "Vep_OpenDevice",
                             "Vep_End",
                             "Vep_GetDeviceList",
                             "Vep_SetConnectDeviceName",
                             "Vep_GetDeviceInfo",
                             "Vep_GetConnectDeviceID",
                             "Vep_SetUserKbn",
                             "Vep_StartDownload",
                             "Vep_GetStatus",
                             "Vep_GetDownloadStatus",
                             "Vep_GetErrStatus",
                             "Vep_GetDataCnt",
                             "Vep_SetDataCurrent",
                             "Vep_GetBpData",
                             "Vep_Abort",
                             "Vep_GetConnectDeviceName",
                             "Vep_InitStrBpData",
                             "Vep_StartDownload_WeekData",
                             "Vep_GetWeekDataCnt",
                             "Vep_SetWeekDataCurrent",
                             "Vep_GetWeekBpData"})
        EXPECT_NE(GetProcAddress(library_, name), nullptr) << name;
}

TEST_F(VepcomLibraryTest, EachLinkDownloadsThroughTheLoadedLibrary) {
    ASSERT_NE(library_, nullptr) << LastLibraryError();
    ASSERT_TRUE(line_.Started());
    const VepExports vep = VepExports::From(library_);
    WriteSearchModels();
    for (const char* link : {"usb", "serial", "storage"}) {
        SCOPED_TRACE(link);
        OnlyPresent(link);
        const VepRunResult run = RunDownload(vep);
        EXPECT_EQ(run.open, 0);
        EXPECT_EQ(run.polls, std::vector<int>({0, 0, 0}));
        ExpectSimReadings(run.readings);
    }
    OnlyPresent("usb");
    monitor_->SetFault("GDC", SimMonitorFault::Ng);
    const VepRunResult failed = RunDownload(vep);
    EXPECT_EQ(failed.polls, std::vector<int>({-1, -1, -1}));
    EXPECT_EQ(failed.error, 5);
    EXPECT_TRUE(failed.readings.empty());
}

TEST_F(VepcomLibraryTest, SerialRunFromAProcessConfiguredByItsEnvironment) {
    ASSERT_TRUE(line_.Started());
    WriteModels(ModelXml("SIMSER", SimSerialModel(), "SERIAL"));
    ChildProcess run(VEPCOM_RUN, {VEPCOM_LIBRARY}, dir_ / "run.out", {"QUORV_COMPORTS=COM3=" + line_.SlavePath()});
    ASSERT_TRUE(run.Started());
    EXPECT_EQ(run.Wait(std::chrono::seconds(60)), 0);
    std::istringstream out(ReadFileBytes(dir_ / "run.out"));
    std::string summary;
    std::getline(out, summary);
    EXPECT_EQ(summary, "open 0 model SIMSER status 0 0 0 error 0 count 2");
    std::string line;
    std::vector<std::string> readings;
    while (std::getline(out, line)) readings.push_back(line);
    EXPECT_EQ(readings, std::vector<std::string>({"125 82 70 2013/03/04 07:15:00", "131 85 66 2013/03/04 21:30:05"}));
}

TEST(VepcomExitTest, TheLeakCheckAtExitSurvivesTheLibrarysThreadBlockSixteenBytesIntoAPage) {
    // The probe cannot tell how many small blocks the load itself takes from the class
    // first, so the block is put at each of the next few places in turn.
    const TempDir dir;
    for (const char* ahead : {"1", "2", "3", "4", "5"}) {
        SCOPED_TRACE(ahead);
        ChildProcess probe(VEPCOM_EXIT_PROBE, {VEPCOM_LIBRARY, ahead}, dir.Path() / "probe.out");
        ASSERT_TRUE(probe.Started());
        EXPECT_EQ(probe.Wait(std::chrono::seconds(30)), 0) << ReadFileBytes(dir.Path() / "probe.out");
    }
}

}  // namespace
