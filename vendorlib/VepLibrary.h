// The library behind its exports: the process-wide session that Vep_Init makes and
// Vep_End frees, the device search, the job thread and the data access. Every call
// but the polls (status, error, progress, data count, abort) is serialised by one lock;
// the polls read atomic state only, so they answer even while the serial open holds that
// lock and serves the caller's window messages. The job thread never takes it, and a
// running job is aborted and joined before its session goes. While a job runs, nothing
// it reads or writes is changed or copied by a call.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Vepcom.h"

enum class VepJob { Readings, InfoRead, Weekly, Monthly, InfoWrite, Clear };

class VepLibrary {
public:
    // What a caller's list texts may need at most, with their NUL; longer lists are cut.
    static constexpr std::size_t kListSize = VEP_DEVICE_LIST_SIZE;

    static VepLibrary& Instance();
    VepLibrary();
    ~VepLibrary();
    VepLibrary(const VepLibrary&) = delete;
    VepLibrary& operator=(const VepLibrary&) = delete;

    int Init(int mode);
    int End();
    int Abort();

    int GetDeviceList(int mode, char* models, char* connections);
    int SetConnectDeviceName(const char* model);
    int GetConnectDeviceName(char* model);
    int SetConnectMode(int mode);
    int GetConnectMode();
    int OpenDevice();
    int GetConnectDeviceID(char* out, int kind);
    int GetDeviceInfo(str_device_info* out);
    int SetComPort(int port);
    // Holds for the process, across Vep_Init and Vep_End.
    int DebugMode(int on);
    int SetBpMode(int mode);
    int SetUserKbn(int user);
    int SetLastDataSerial(int serial);

    int StartJob(VepJob job);
    int GetStatus();
    int GetErrStatus();
    int GetProgress();

    int GetDataCnt();
    int SetDataCurrent(int no);
    int GetBpData(str_bp_retdata* out);
    int GetSummaryCnt(bool month);
    int SetSummaryCurrent(bool month, int no);
    int GetSummaryData(bool month, str_sumbp_data* out);
    int GetBpInfo(void* info);
    int SetBpInfo(const void* info);
    int GetWalkingInfo(void* out);
    int GetWalkingData(void* out);

    // The trace line of an exception that an export caught.
    void TraceException(const char* where, const char* what);
    // -1, traced: a call out of order, a null pointer or an index outside a store.
    int Refused(const char* where);

private:
    struct Session;

    // Aborts and joins a job thread still there.
    void StopJob();
    int Search(Session& s, const char* file, bool walking);
    int OpenByType(Session& s, const char* file);
    void RunJob(Session& s, VepJob job, int mode);
    int Dispatch(Session& s, VepJob job, int mode);
    int Decode(Session& s, int mode);
    // The session when initialised and no job runs (data may be read), else null.
    Session* Idle();
    const std::string& DeviceName(Session& s, int kind);

    std::mutex lock_;
    std::mutex sessionLock_;  // the session pointer, for the polls that do not wait for lock_
    std::unique_ptr<Session> session_;
    std::thread job_;
    std::atomic<bool> debug_{false};
};
