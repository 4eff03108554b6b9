#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>

#include "LogReader.h"
#include "VepApiFixture.h"

namespace {

using namespace std::chrono_literals;

// Lets a reader stuck in the open of these FIFOs go on, so that a test that failed ends.
void ReleaseFifos(const std::vector<std::string>& fifos) {
    for (const std::string& fifo : fifos) {
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    }
}

// Whether done turned true within a few seconds; if not, the FIFOs are released.
bool DoneUnheld(const std::function<bool()>& done, const std::vector<std::string>& fifos) {
    if (WaitFor(done, 5s)) return true;
    ReleaseFifos(fifos);
    WaitFor(done, 5s);
    return false;
}

const VepExports kLinked{
    &Vep_Init,         &Vep_End,        &Vep_OpenDevice,     &Vep_StartDownload, &Vep_GetStatus,
    &Vep_GetErrStatus, &Vep_GetDataCnt, &Vep_SetDataCurrent, &Vep_GetBpData,     &Vep_GetConnectDeviceName};

// Twelve readings a minute apart, [0] the newest, each with values of its own.
std::vector<SimReading> TwelveReadings() {
    std::vector<SimReading> readings;
    for (int i = 0; i < 12; ++i) readings.push_back({2013, 3, 5, 8, 40 - i, 0, 140 - i, 90 - i, 80 - i});
    return readings;
}

// A download whose answers came twice either failed or gave the monitor's readings, the
// oldest first: never other ones.
void ExpectRightOrFailed(const VepRunResult& run, int delay) {
    ASSERT_EQ(run.open, 0) << delay << " ms";
    if (run.polls.back() != 0) return;
    std::vector<std::string> expected;
    const auto sim = TwelveReadings();
    for (auto r = sim.rbegin(); r != sim.rend(); ++r) {
        char text[32];
        std::snprintf(text, sizeof(text), "%02d:%02d %d/%d/%d", r->hour, r->minute, r->systolic, r->diastolic,
                      r->pulse);
        expected.push_back(text);
    }
    std::vector<std::string> got;
    for (const str_bp_retdata& r : run.readings) {
        char text[48];
        std::snprintf(text, sizeof(text), "%.5s %d/%d/%d", r.time, r.systolic, r.diastolic, r.pulse);
        got.push_back(text);
    }
    EXPECT_EQ(got, expected) << "answers repeated after " << delay << " ms";
}

const int kRepeatDelays[] = {30, 160, 450, 1000};

class VepApiTest : public VepApiFixture {
protected:
    ~VepApiTest() override {
        Vep_End();
        Vep_DebugMode(0);
    }

    void OpenUsb(ModelParams params = SimModel()) {
        OnlyPresent("usb");
        WriteModels(ModelXml("SIMBP3", params));
        ASSERT_EQ(Vep_Init(0), 0);
        ASSERT_EQ(Vep_OpenDevice(), 0);
    }
    void OpenStorage(ModelParams params = SimStorageModel()) {
        OnlyPresent("storage");
        WriteModels(ModelXml("SIMUMS", params, "USB-STORAGE"));
        ASSERT_EQ(Vep_Init(0), 0);
        ASSERT_EQ(Vep_OpenDevice(), 0);
    }
    // Waits for the job to end; the status three polls in a row.
    std::vector<int> Finish() {
        EXPECT_TRUE(WaitFor([] { return Vep_GetStatus() != 1; }));
        return {Vep_GetStatus(), Vep_GetStatus(), Vep_GetStatus()};
    }
};

TEST_F(VepApiTest, CallsOutOfOrderAreRefused) {
    EXPECT_EQ(Vep_End(), -1);
    EXPECT_EQ(Vep_StartDownload(0), -1);
    EXPECT_EQ(Vep_GetDataCnt(), -1);
    EXPECT_EQ(Vep_SetDataCurrent(0), -1);
    EXPECT_EQ(Vep_Abort(), -1);
    ASSERT_EQ(Vep_Init(0), 0);
    EXPECT_EQ(Vep_GetStatus(), 0);
    EXPECT_EQ(Vep_StartDownload(0), -1);  // nothing open
    EXPECT_EQ(Vep_GetBpData(nullptr), -1);
    EXPECT_EQ(Vep_GetConnectDeviceName(nullptr), -1);
    EXPECT_EQ(Vep_GetDeviceList(0, nullptr, nullptr), -1);
    EXPECT_EQ(Vep_InitStructure(nullptr, 4), -1);
    EXPECT_EQ(Vep_SetBpInfo(nullptr), -1);
    EXPECT_EQ(Vep_GetStatus(), 0);
}

TEST_F(VepApiTest, HeldReplyKeepsTheJobRunningThenReadingsFollow) {
    OpenUsb();
    for (const char* file : {"down2.dat", "week.dat", "info.dat"}) std::ofstream(file) << "x";
    monitor_->SetFault("GDC", SimMonitorFault::Hold, 1);
    ASSERT_EQ(Vep_StartDownload(0), 0);
    ASSERT_TRUE(WaitFor([this] { return monitor_->Holding(); }));
    EXPECT_EQ(Vep_GetStatus(), 1);
    EXPECT_EQ(Vep_GetDataCnt(), -1);  // no reading while the job writes them
    // Nor what the job reads or rewrites: the model, the device's name and revision.
    EXPECT_EQ(Vep_SetConnectDeviceName("SIMBP3"), -1);
    char id[11] = {};
    EXPECT_EQ(Vep_GetConnectDeviceID(id, 0), -1);
    str_device_info info{};
    EXPECT_EQ(Vep_GetDeviceInfo(&info), -1);
    EXPECT_EQ(Vep_StartDownload(0), 0);
    monitor_->Release();
    EXPECT_EQ(Finish(), std::vector<int>({0, 0, 0}));
    EXPECT_EQ(monitor_->CountOf("GDC"), 1);
    EXPECT_EQ(monitor_->CountOf("END"), 1);  // one job only
    EXPECT_EQ(Vep_GetDataCnt(), 2);
    EXPECT_EQ(Vep_SetDataCurrent(2), -1);
    ASSERT_EQ(Vep_SetDataCurrent(1), 0);
    EXPECT_EQ(Vep_SetDataCurrent(-1), -1);
    str_bp_retdata newest{};
    ASSERT_EQ(Vep_GetBpData(&newest), 0);
    EXPECT_EQ(newest.systolic, 131);  // the selection was kept

    ASSERT_TRUE(std::filesystem::exists("down.dat"));
    EXPECT_EQ(Vep_End(), 0);
    for (const char* file : {"down.dat", "down2.dat", "week.dat", "info.dat"})
        EXPECT_FALSE(std::filesystem::exists(file)) << file;
}

TEST_F(VepApiTest, FailedJobIsReportedOnEveryPoll) {
    OpenUsb();
    monitor_->SetFault("GDC", SimMonitorFault::Ng);
    ASSERT_EQ(Vep_StartDownload(0), 0);
    EXPECT_EQ(Finish(), std::vector<int>({-1, -1, -1}));
    EXPECT_EQ(Vep_GetErrStatus(), 5);
    EXPECT_EQ(Vep_GetDataCnt(), 0);
}

TEST_F(VepApiTest, EndDuringAJobAbortsAndJoinsIt) {
    OpenUsb();
    monitor_->SetFault("GDC", SimMonitorFault::Hold, 1);
    ASSERT_EQ(Vep_StartDownload(0), 0);
    ASSERT_TRUE(WaitFor([this] { return monitor_->Holding(); }));
    std::thread release([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        monitor_->Release();
    });
    EXPECT_EQ(Vep_End(), 0);
    release.join();
    EXPECT_EQ(Vep_GetStatus(), -1);
}

// A drive keeps as many readings as its 16-bit count declares (1000 here); the store
// keeps the newest 700.
TEST_F(VepApiTest, MoreReadingsThanTheStoreHoldsKeepTheNewestWithTheirOwnSerials) {
    SetMonitor([](SimMonitorState& s) {
        s.readings.assign(1000, {});
        // Within what a body gives; the serials tell the readings apart.
        for (std::size_t k = 0; k < s.readings.size(); ++k) s.readings[k].systolic = static_cast<int>(k % 300) + 20;
        s.serialValue = 1000;
    });
    storage_.WriteReadings();
    OpenStorage();
    ASSERT_EQ(Vep_StartDownload(0), 0);
    ASSERT_EQ(Finish()[0], 0);
    ASSERT_EQ(Vep_GetDataCnt(), 700);
    str_bp_retdata reading{};
    for (const auto& [index, systolic, serial] : std::vector<std::array<int, 3>>{{0, 119, 301}, {699, 20, 1000}}) {
        ASSERT_EQ(Vep_SetDataCurrent(index), 0);
        ASSERT_EQ(Vep_GetBpData(&reading), 0);
        EXPECT_EQ(reading.systolic, systolic) << index;
        EXPECT_EQ(reading.serial, serial) << index;
    }

    // A file longer than its count declares is none of the format's.
    std::fstream(storage_.File(SimMonitorStorage::kReadingsFile), std::ios::in | std::ios::out | std::ios::binary)
        .write("\x64\x00", 2);  // a count of 100
    ASSERT_EQ(Vep_StartDownload(0), 0);
    EXPECT_EQ(Finish()[0], -1);
}

TEST_F(VepApiTest, AFailedReopenLeavesNoDeviceForAJob) {
    OpenUsb();
    monitor_->SetPlugged(false);
    EXPECT_EQ(Vep_OpenDevice(), 16);
    EXPECT_EQ(Vep_StartDownload(0), -1);
}

TEST_F(VepApiTest, WeeklySummariesStartOnlyForModelsThatKeepThem) {
    OpenUsb();  // no "sumdata"
    const std::size_t frames = monitor_->Frames().size();
    EXPECT_EQ(Vep_StartDownload_WeekData(), 0);
    EXPECT_EQ(Vep_GetStatus(), 0);
    EXPECT_EQ(monitor_->Frames().size(), frames);
}

TEST_F(VepApiTest, DebugModeHoldsForTheProcess) {
    ASSERT_EQ(Vep_DebugMode(1), 0);
    for (int mode : {2, 6}) {
        ASSERT_EQ(Vep_Init(0), 0);
        ASSERT_EQ(Vep_SetBpMode(mode), 0);
        EXPECT_NE(Trace().find("Bp Download Mode : 0" + std::to_string(mode)), std::string::npos);
        ASSERT_EQ(Vep_End(), 0);
    }
}

TEST_F(VepApiTest, SearchOpensTheOnePresentModelOrGivesTheLastCode) {
    WriteSearchModels();
    OnlyPresent("storage");
    const VepRunResult run = RunDownload(kLinked);
    EXPECT_EQ(run.open, 0);
    EXPECT_EQ(run.model, "SIMUMS");
    ExpectSimReadings(run.readings);

    OnlyPresent("none");
    EXPECT_EQ(RunDownload(kLinked).open, 1);
    EXPECT_EQ(RunDownload(kLinked).model, "");
    WriteSearchModels({"storage", "usb"});
    EXPECT_EQ(RunDownload(kLinked).open, 16);
    WriteSearchModels({"usb", "storage", "serial"});
    EXPECT_EQ(RunDownload(kLinked).open, 3);

    WriteModels(ModelXml("SIMUMS", SimStorageModel(), "BLUETOOTH"));
    EXPECT_EQ(RunDownload(kLinked).open, -1);

    WriteSearchModels();
    OnlyPresent("storage");
    ASSERT_EQ(Vep_Init(0), 0);
    ASSERT_EQ(Vep_Abort(), 0);
    EXPECT_EQ(Vep_OpenDevice(), 11);
}

TEST_F(VepApiTest, JobsTheLinkDoesNotOfferFail) {
    OpenUsb();
    ASSERT_EQ(Vep_StartDownload_MonthData(), 0);
    EXPECT_EQ(Finish()[0], -1);
    EXPECT_EQ(Vep_GetErrStatus(), -1);
    ASSERT_EQ(Vep_End(), 0);

    ModelParams noInfo = SimStorageModel();
    noInfo.erase("info_data");
    OpenStorage(noInfo);
    ASSERT_EQ(Vep_DataClear(), 0);
    EXPECT_EQ(Finish()[0], -1);
    EXPECT_EQ(Vep_GetErrStatus(), -1);
    EXPECT_EQ(Vep_StartInfoDownload(), 1);
    EXPECT_EQ(Vep_StartInfoUpload(), 1);
}

TEST_F(VepApiTest, StorageJobsReportMissingAndEmptyFiles) {
    OpenStorage();
    std::filesystem::remove(storage_.File(SimMonitorStorage::kReadingsFile));
    ASSERT_EQ(Vep_StartDownload(0), 0);
    EXPECT_EQ(Finish()[0], -1);
    EXPECT_EQ(Vep_GetErrStatus(), -1);

    // A file whose count reads but whose readings do not: the old ones are not handed out.
    storage_.WriteReadings();
    ASSERT_EQ(Vep_StartDownload(0), 0);
    ASSERT_EQ(Finish()[0], 0);
    ASSERT_EQ(Vep_GetDataCnt(), 2);
    storage_.WriteFile(SimMonitorStorage::kReadingsFile, {2, 0, 0, 0});
    ASSERT_EQ(Vep_StartDownload(0), 0);
    EXPECT_EQ(Finish()[0], -1);
    EXPECT_EQ(Vep_GetDataCnt(), 0);

    storage_.WriteFile(SimMonitorStorage::kSettingsFile, {});
    ASSERT_EQ(Vep_StartInfoDownload(), 0);
    EXPECT_EQ(Finish()[0], -1);
    EXPECT_EQ(Vep_GetErrStatus(), 1);
}

TEST_F(VepApiTest, StorageSummariesAreHandedOutOneAtATime) {
    OpenStorage();
    std::array<SimSummaryGroup, 4> record{};
    record[0] = {120, 80, 70, 1, 3, 13, 4};
    storage_.WriteSummaries(SimMonitorStorage::kWeekFile, {record, record});
    ASSERT_EQ(Vep_StartDownload_WeekData(), 0);
    ASSERT_EQ(Finish()[0], 0);
    EXPECT_EQ(Vep_GetWeekDataCnt(), 2);
    EXPECT_EQ(Vep_GetMonthDataCnt(), 0);
    EXPECT_EQ(Vep_SetWeekDataCurrent(2), -1);
    ASSERT_EQ(Vep_SetWeekDataCurrent(1), 0);
    str_sumbp_data summary{};
    ASSERT_EQ(Vep_GetWeekBpData(&summary), 0);
    EXPECT_STREQ(summary.date, "2013/03/04");
    EXPECT_EQ(summary.systolic[0], 120);
    EXPECT_EQ(Vep_GetMonthBpData(&summary), -1);
}

TEST_F(VepApiTest, ARefusedSummarySelectionHandsOutNoOtherSummary) {
    OpenStorage();
    std::array<SimSummaryGroup, 4> record{};
    record[0] = {120, 80, 70, 1, 3, 13, 4};
    storage_.WriteSummaries(SimMonitorStorage::kWeekFile, {record, record});
    storage_.WriteSummaries(SimMonitorStorage::kMonthFile, {record, record});
    for (auto start : {&Vep_StartDownload_WeekData, &Vep_StartDownload_MonthData}) {
        ASSERT_EQ(start(), 0);
        ASSERT_EQ(Finish()[0], 0);
    }
    const struct {
        int (*set)(int);
        int (*get)(str_sumbp_data*);
    } pairs[] = {{&Vep_SetWeekDataCurrent, &Vep_GetWeekBpData}, {&Vep_SetMonthDataCurrent, &Vep_GetMonthBpData}};
    for (const auto& pair : pairs) {
        str_sumbp_data summary{};
        ASSERT_EQ(pair.set(1), 0);
        EXPECT_EQ(pair.set(2), -1);
        EXPECT_EQ(pair.get(&summary), -1);
        ASSERT_EQ(pair.set(1), 0);
        EXPECT_EQ(pair.get(&summary), 0);
    }
}

TEST_F(VepApiTest, DeviceListNamesAndSettingsBlock) {
    WriteModels(ModelXml("A", SimModel()) + ModelXml("B", SimModel(), "SERIAL", "1") +
                ModelXml("C", SimModel(), "SERIAL"));
    ASSERT_EQ(Vep_Init(0), 0);
    char models[VEP_DEVICE_LIST_SIZE];
    char connections[VEP_DEVICE_LIST_SIZE];
    ASSERT_EQ(Vep_GetDeviceList(0, models, connections), 0);
    EXPECT_STREQ(models, "A,C,");
    EXPECT_STREQ(connections, "USB-SERIAL,SERIAL,");

    const std::string longName(40, 'M');
    EXPECT_EQ(Vep_SetConnectDeviceName(longName.c_str()), -1);  // no such model
    char name[32];
    ASSERT_EQ(Vep_GetConnectDeviceName(name), 0);
    EXPECT_EQ(std::string(name), std::string(31, 'M'));
    EXPECT_EQ(Vep_SetConnectDeviceName("C"), 0);
    EXPECT_EQ(Vep_GetConnectMode(), 2);

    BYTE info[220];
    for (int i = 0; i < 220; ++i) info[i] = static_cast<BYTE>(i + 1);
    ASSERT_EQ(Vep_SetBpInfo(info), 0);
    BYTE back[220] = {};
    EXPECT_EQ(Vep_GetBpInfo(back), 0);
    EXPECT_EQ(std::memcmp(info, back, sizeof(info)), 0);
    info[32] = 0;
    ASSERT_EQ(Vep_SetBpInfo(info), 0);
    EXPECT_EQ(Vep_GetBpInfo(back), 1);
    ASSERT_EQ(Vep_InitBpInfo(back), 0);
    EXPECT_EQ(back[219], 0);
}

TEST_F(VepApiTest, DeviceIdKindsOfTheOpenDevice) {
    OpenUsb();
    char id[11] = "xxxxxxxxxx";
    ASSERT_EQ(Vep_GetConnectDeviceID(id, 0), 0);
    EXPECT_STREQ(id, "SIMBP3");
    ASSERT_EQ(Vep_GetConnectDeviceID(id, 1), 0);
    EXPECT_STREQ(id, "1.02");
    ASSERT_EQ(Vep_GetConnectDeviceID(id, 7), 0);
    EXPECT_STREQ(id, "");
}

class VepApiSerialTest : public VepApiTest {};

// What a window of the calling thread got from the library in its message.
std::vector<int> g_polled;

LRESULT PollingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != WM_APP + 1) return DefWindowProcW(hwnd, msg, wParam, lParam);
    g_polled = {Vep_GetStatus(),  Vep_GetErrStatus(), Vep_GetDownloadStatus(), Vep_GetUploadStatus(),
                Vep_GetDataCnt(), Vep_Abort(),        Vep_GetConnectMode()};
    return 0;
}

TEST_F(VepApiSerialTest, PollsServedDuringTheSerialOpenAnswerAtOnce) {
    ASSERT_TRUE(line_.Started());
    g_polled.clear();
    const HWND window = CallerWindow(L"VepApiPollingWindow", PollingProc);
    ASSERT_NE(window, nullptr);
    WriteModels(ModelXml("SIMSER", SimSerialModel(), "SERIAL"));
    OnlyPresent("serial");
    ASSERT_EQ(Vep_Init(0), 0);
    PostMessageW(window, WM_APP + 1, 0, 0);
    EXPECT_EQ(Vep_OpenDevice(), 11) << "the abort from the window ends the search";
    DestroyWindow(window);
    // The last call takes the library's lock, which the open holds: it is refused.
    EXPECT_EQ(g_polled, (std::vector<int>{0, 0, 0, 0, 0, 0, -1}));
}

TEST_F(VepApiSerialTest, WeeklySummariesAreNotOfferedOverTheSerialPort) {
    ASSERT_TRUE(line_.Started());
    ModelParams params = SimSerialModel();
    params["sumdata"] = "1";
    WriteModels(ModelXml("SIMSER", params, "SERIAL"));
    OnlyPresent("serial");
    ASSERT_EQ(Vep_Init(0), 0);
    ASSERT_EQ(Vep_OpenDevice(), 0);
    ASSERT_EQ(Vep_StartDownload_WeekData(), 0);
    EXPECT_EQ(Finish()[0], -1);
    EXPECT_EQ(Vep_GetErrStatus(), -1);
}

TEST_F(VepApiTest, WalkingModeDecodesTheWalkingDevice) {
    ModelParams params = SimModel(2);
    params["rec_length"] = "64";
    params["resv_length2"] = "9";
    params["file_name"] = "down2.dat";
    params["ofs_wp_height"] = "3:2";
    params["ofs_wd_nwalk"] = "3:1";
    params["ofs_wd_tm_nwalk"] = "3, 5";
    SetMonitor([](SimMonitorState& s) {
        s.name = "SIMBP3";
        s.readings.resize(2);
        s.totalCount = 5;
        s.walkingDays = 2;
        s.resvLength2 = 9;
    });
    Hooks().serialPorts[kMonitorPort - 1].clear();
    std::ofstream("System/npmdl.vpx") << ModelFile(ModelXml("SIMNP", params));
    ASSERT_EQ(Vep_Init(1), 0);
    ASSERT_EQ(Vep_OpenDevice(), 0);
    ASSERT_EQ(Vep_StartDownload(0), 0);
    ASSERT_EQ(Finish()[0], 0);
    ASSERT_EQ(Vep_GetDataCnt(), 2);
    str_np_head head{};
    ASSERT_EQ(Vep_GetWalkingInfo(&head), 0);
    EXPECT_EQ(head.height, 5052);  // "PR" read as four digits
    ASSERT_EQ(Vep_SetDataCurrent(1), 0);
    str_np_data day{};
    ASSERT_EQ(Vep_GetWalkingData(&day), 0);
    EXPECT_EQ(day.nwalk, 16 + 4 + 3);  // day 1, part 1, byte 3
    EXPECT_STREQ(day.date, "2013/03/04");
    EXPECT_EQ(day.tmNwalk[0], ((23 << 8) | 24) & 0x3FFF);
    EXPECT_EQ(day.tmNwalkFlag[0], 1);
    EXPECT_EQ(day.tmNwalk[2], 0);  // no offset for hour 2
}

// A record length of 0 would download nothing as success, a header start before the
// file would decode the header as readings.
TEST_F(VepApiTest, ModelsWithoutRecordsOrWithAStartBeforeTheFileAreRefusedAsTheyLoad) {
    ASSERT_EQ(Vep_DebugMode(1), 0);
    ASSERT_EQ(Vep_Init(0), 0);
    for (const auto& [key, value] : {std::pair{"rec_length", "0"}, std::pair{"data_start", "-1"}}) {
        ModelParams params = SimStorageModel();
        params[key] = value;
        WriteModels(ModelXml("SIMUMS", params, "USB-STORAGE"));
        EXPECT_NE(Vep_SetConnectDeviceName("SIMUMS"), 0) << key;
        EXPECT_EQ(CountOf(Trace(), std::string("model number refused:SIMUMS ") + key + " " + value), 1) << key;
    }
}

// Sparse files: far past what their formats hold, yet without taking the disk's room.
TEST_F(VepApiTest, DriveFilesLargerThanTheirFormatHoldsAreRefusedUnread) {
    ASSERT_EQ(Vep_DebugMode(1), 0);
    OpenStorage();
    storage_.WriteFile(SimMonitorStorage::kWeekFile, {});
    for (const char* name : {SimMonitorStorage::kReadingsFile, SimMonitorStorage::kWeekFile})
        std::filesystem::resize_file(storage_.File(name), std::uintmax_t{64} << 20);
    for (auto start : {+[] { return Vep_StartDownload(0); }, &Vep_StartDownload_WeekData}) {
        ASSERT_EQ(start(), 0);
        EXPECT_EQ(Finish()[0], -1);
        EXPECT_EQ(Vep_GetErrStatus(), -1);
    }
    EXPECT_EQ(CountOf(Trace(), "file over "), 2);
}

// A FIFO's open would wait for a writer, /dev/zero never ends: neither holds a call.
TEST_F(VepApiTest, FifosAndDevicesInPlaceOfFilesFailAtOnce) {
    ASSERT_EQ(Vep_DebugMode(1), 0);
    std::filesystem::remove(kModelFile);
    ASSERT_EQ(::mkfifo(kModelFile, 0600), 0);
    ASSERT_EQ(Vep_Init(0), 0);
    auto opened = std::async(std::launch::async, [] { return Vep_OpenDevice(); });
    ASSERT_TRUE(DoneUnheld([&] { return opened.wait_for(0s) == std::future_status::ready; }, {kModelFile}));
    EXPECT_EQ(opened.get(), -1);
    std::filesystem::remove(kModelFile);

    OpenStorage();
    const std::vector<std::string> files{storage_.File(SimMonitorStorage::kReadingsFile).string(),
                                         storage_.File(SimMonitorStorage::kWeekFile).string()};
    for (const bool fifo : {true, false}) {
        for (const std::string& file : files) {
            std::filesystem::remove(file);
            if (fifo) {
                ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
            } else {
                std::filesystem::create_symlink("/dev/zero", file);
            }
        }
        for (auto start : {+[] { return Vep_StartDownload(0); }, &Vep_StartDownload_WeekData}) {
            ASSERT_EQ(start(), 0);
            ASSERT_TRUE(DoneUnheld([] { return Vep_GetStatus() != 1; }, files)) << (fifo ? "FIFO" : "/dev/zero");
            EXPECT_EQ(Vep_GetStatus(), -1);
        }
    }
    EXPECT_EQ(CountOf(Trace(), "not a regular file"), 3);
    EXPECT_EQ(CountOf(Trace(), "not a file of the volume"), 2);  // the links to /dev/zero
}

// The user's own file, reached through a link on the drive, is no reading of the monitor's.
TEST_F(VepApiTest, ALinkOnTheDriveToAFileOutsideItIsNotRead) {
    ASSERT_EQ(Vep_DebugMode(1), 0);
    const std::filesystem::path readings = storage_.File(SimMonitorStorage::kReadingsFile);
    const std::filesystem::path outside = absentDir_.Path() / "mine.dat";
    std::filesystem::rename(readings, outside);
    std::filesystem::create_symlink(outside, readings);
    OpenStorage();
    ASSERT_EQ(Vep_StartDownload(0), 0);
    EXPECT_EQ(Finish()[0], -1);
    EXPECT_EQ(Vep_GetErrStatus(), -1);
    EXPECT_EQ(CountOf(Trace(), "not a file of the volume"), 1);
}

// Packed-decimal stamps, so that a digit above 9 can be written: 0x13 reads 13.
TEST_F(VepApiTest, ReadingsDatedOutsideTheCalendarAreDropped) {
    const auto at = [](int month, int day, int hour, int minute, int second) {
        return SimReading{2000 + 0x13, month, day, hour, minute, second, 120, 80, 70};
    };
    SetMonitor([&](SimMonitorState& s) {
        s.readings = {at(0x03, 0x05, 0x08, 0x00, 0x00), at(0x13, 0x05, 0x08, 0x00, 0x00),
                      at(0x02, 0x29, 0x08, 0x00, 0x00), at(0x03, 0x32, 0x08, 0x00, 0x00),
                      at(0x03, 0x05, 0x25, 0x00, 0x00), at(0x03, 0x05, 0x08, 0x61, 0x00),
                      at(0x03, 0x05, 0x08, 0x00, 0x60), at(0x03, 0x1A, 0x08, 0x00, 0x00),
                      at(0x03, 0x04, 0x23, 0x60, 0x00)};  // the full hour, as monitors write it
    });
    storage_.WriteReadings();
    ModelParams params = SimStorageModel();
    for (const char* field : {"ofs_year", "ofs_month", "ofs_day", "ofs_hour", "ofs_min", "ofs_sec"})
        params[field] += ":0:0:1";
    ASSERT_EQ(Vep_DebugMode(1), 0);
    OpenStorage(params);
    ASSERT_EQ(Vep_StartDownload(0), 0);
    ASSERT_EQ(Finish()[0], 0);
    ASSERT_EQ(Vep_GetDataCnt(), 2);
    std::vector<std::string> stamps;
    for (int i = 0; i < 2; ++i) {
        str_bp_retdata reading{};
        ASSERT_EQ(Vep_SetDataCurrent(i), 0);
        ASSERT_EQ(Vep_GetBpData(&reading), 0);
        stamps.push_back(std::string(reading.date) + " " + reading.time);
    }
    EXPECT_EQ(stamps, (std::vector<std::string>{"2013/03/05 00:00:00", "2013/03/05 08:00:00"}));
    EXPECT_EQ(CountOf(Trace(), "no such date"), 7);
}

// The drive's readings meet the bounds a serial download applies; a model without a year
// offset dates these readings in the year 13.
TEST_F(VepApiTest, DriveReadingsNoBodyGivesOrDatedBeforeAnyMonitorAreDropped) {
    SetMonitor([](SimMonitorState& s) {
        s.readings = {{2013, 3, 5, 8, 0, 0, 120, 80, 70},
                      {2013, 3, 5, 9, 0, 0, 321, 80, 70},
                      {2013, 3, 5, 10, 0, 0, 120, 255, 70},
                      {2013, 3, 5, 11, 0, 0, 120, 80, 255}};
    });
    storage_.WriteReadings();
    for (const auto& [startYear, kept] : {std::pair{"2000", 1}, std::pair{"0", 0}}) {
        ModelParams params = SimStorageModel();
        params["start_year"] = startYear;
        OpenStorage(params);
        ASSERT_EQ(Vep_StartDownload(0), 0);
        ASSERT_EQ(Finish()[0], 0);
        EXPECT_EQ(Vep_GetDataCnt(), kept) << startYear;
        ASSERT_EQ(Vep_End(), 0);
    }
}

// A systolic of 0 is no measurement, and a pulse the model places past the record would
// be read from no byte of it.
TEST_F(VepApiTest, DriveReadingsWithoutAPressureOrWithAFieldPastTheRecordAreDropped) {
    SetMonitor([](SimMonitorState& s) {
        s.readings = {{2013, 3, 5, 8, 0, 0, 120, 80, 70}, {2013, 3, 5, 9, 0, 0, 0, 80, 70}};
    });
    storage_.WriteReadings();
    ModelParams pastTheRecord = SimStorageModel();
    pastTheRecord["ofs_pul"] = "16:1";  // the record is 16 bytes long
    for (const auto& [params, kept] : {std::pair{SimStorageModel(), 1}, std::pair{pastTheRecord, 0}}) {
        OpenStorage(params);
        ASSERT_EQ(Vep_StartDownload(0), 0);
        ASSERT_EQ(Finish()[0], 0);
        EXPECT_EQ(Vep_GetDataCnt(), kept);
        ASSERT_EQ(Vep_End(), 0);
    }
}

// Each reading's answer comes again 40 ms later: while the library waits for the next
// answer, or before it asks, whichever the machine's load makes it.
TEST_F(VepApiSerialTest, AMonitorThatAnswersTwiceGivesItsReadingsOnceEach) {
    ASSERT_TRUE(line_.Started());
    SetMonitor([](SimMonitorState& s) {
        s.readings = {{2013, 3, 5, 8, 0, 0, 121, 81, 61}, {2013, 3, 5, 7, 0, 0, 122, 82, 62}};
    });
    monitor_->SetFault("MES", SimMonitorFault::Twice);
    WriteModels(ModelXml("SIMSER", SimSerialModel(), "SERIAL"));
    OnlyPresent("serial");
    const VepRunResult run = RunDownload(kLinked);
    ASSERT_EQ(run.polls, (std::vector<int>{0, 0, 0})) << run.error;
    std::vector<int> systolic;
    for (const str_bp_retdata& r : run.readings) systolic.push_back(r.systolic);
    EXPECT_EQ(systolic, (std::vector<int>{122, 121}));
}

// Reading 0 is the newest; each takes a real exchange, so the download is stopped after
// the first, which shows where it began.
TEST_F(VepApiSerialTest, ASerialDownloadAsksOnlyForTheReadingsTheStoreKeeps) {
    ASSERT_TRUE(line_.Started());
    SetMonitor([](SimMonitorState& s) { s.readings.assign(702, {}); });
    monitor_->OnCommand("MES", [] { Vep_Abort(); });
    WriteModels(ModelXml("SIMSER", SimSerialModel(), "SERIAL"));
    OnlyPresent("serial");
    ASSERT_EQ(Vep_Init(0), 0);
    ASSERT_EQ(Vep_OpenDevice(), 0);
    ASSERT_EQ(Vep_StartDownload(0), 0);
    ASSERT_EQ(Finish()[0], -1);
    EXPECT_EQ(Vep_GetErrStatus(), 11);
    EXPECT_EQ(LastFrame("MES"), (std::vector<BYTE>{'M', 'E', 'S', 0, 0x02, 0xBB, 0x02 ^ 0xBB}));  // reading 699
    EXPECT_EQ(monitor_->CountOf("MES"), 1);
}

// An abort that comes as the monitor clears its memory finds every reading in the work
// file: they are handed out, as the monitor holds them no longer.
TEST_F(VepApiSerialTest, AnAbortDuringTheMemoryClearKeepsTheReadings) {
    ASSERT_TRUE(line_.Started());
    monitor_->OnCommand("CLEAR", [] { Vep_Abort(); });
    WriteModels(ModelXml("SIMSER", SimSerialModel(), "SERIAL"));
    OnlyPresent("serial");
    ASSERT_EQ(Vep_Init(0), 0);
    ASSERT_EQ(Vep_OpenDevice(), 0);
    ASSERT_EQ(Vep_SetBpMode(4), 0);
    ASSERT_EQ(Vep_StartDownload(0), 0);
    ASSERT_EQ(Finish()[0], 0);
    EXPECT_EQ(Vep_GetDataCnt(), 2);
    EXPECT_TRUE(monitor_->State().readings.empty());
}

// Each reading's answer comes again later, while the library waits for a later reading's
// answer: taken for it, every reading after would be the one before's.
TEST_F(VepApiSerialTest, ASerialMonitorAnsweringTwiceGivesItsReadingsOrFails) {
    ASSERT_TRUE(line_.Started());
    SetMonitor([](SimMonitorState& s) { s.readings = TwelveReadings(); });
    monitor_->SetFault("MES", SimMonitorFault::Twice);
    WriteModels(ModelXml("SIMSER", SimSerialModel(), "SERIAL"));
    OnlyPresent("serial");
    for (const int delay : kRepeatDelays) {
        monitor_->SetRepeatDelay(std::chrono::milliseconds(delay));
        ExpectRightOrFailed(RunDownload(kLinked, 60s), delay);
        ASSERT_TRUE(line_.AwaitTaken(5s));  // no repeat left for the next run
    }
}

// The proof's own answer comes twice too: its copy, taken for a reading's answer, is no
// reading, so it is asked again in step, not dropped as an implausible one.
TEST_F(VepApiSerialTest, ASerialMonitorAnsweringTheProofTwiceGivesItsReadingsOrFails) {
    ASSERT_TRUE(line_.Started());
    SetMonitor([](SimMonitorState& s) { s.readings = TwelveReadings(); });
    monitor_->SetFault("MES", SimMonitorFault::Twice);
    monitor_->SetFault("VER00", SimMonitorFault::Twice);
    WriteModels(ModelXml("SIMSER", SimSerialModel(), "SERIAL"));
    OnlyPresent("serial");
    for (const int delay : {30, 160, 1000}) {
        monitor_->SetRepeatDelay(std::chrono::milliseconds(delay));
        ExpectRightOrFailed(RunDownload(kLinked, 60s), delay);
        ASSERT_TRUE(line_.AwaitTaken(5s));  // no repeat left for the next run
    }
}

// The same over the USB-serial link, for both reading loops; the monitor answers as a
// 9600-baud line carries a reading, in about 20 ms.
TEST_F(VepApiTest, AUsbSerialMonitorAnsweringTwiceGivesItsReadingsOrFails) {
    SetMonitor([](SimMonitorState& s) { s.readings = TwelveReadings(); });
    OnlyPresent("usb");
    transport_->SetReplyDelay(20ms);
    for (const int type : {1, 3}) {
        monitor_->SetFault(type == 1 ? "MES" : "GME", SimMonitorFault::Twice);
        WriteModels(ModelXml("SIMBP3", SimModel(type)));
        for (const int delay : kRepeatDelays) {
            monitor_->SetRepeatDelay(std::chrono::milliseconds(delay));
            ExpectRightOrFailed(RunDownload(kLinked, 60s), delay);
        }
    }
}

}  // namespace
