// The user's health elements: their records, the texts their values show, the element
// lists the main page waits for, the value writers and the "healthResources" script object.
//
// One mutex guards the element records. Readers get copies; the lock is never held while
// posting, calling a page, queueing a request or running SQL. The two queues for the main
// page have a lock of their own.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ScriptVM.h"
#include "Value.h"
#include "WinTypes.h"

// One tHealthElement row, then the run-time fields.
struct struHealthElementW {
    int userNo = -1;
    std::wstring healthElementID;
    std::wstring healthElementName;
    int healthElementType = 0;
    int valueNo = -29999;  // -29999: no value
    std::wstring value;
    int defaultValueNo = 0;
    std::wstring minValue;
    std::wstring maxValue;
    std::wstring unitName;
    std::wstring dataType;
    int decLen = 0;  // valueNo = real value x 10^decLen
    std::wstring charSet;
    std::wstring ctrlType;
    std::wstring ctrlShow;
    std::wstring saveValue;
    std::wstring basicFlag;
    int defaultChangeCycle = 0;
    int changeCycle = 0;
    std::wstring alertFlag;
    int defaultReDispCycle = 0;
    int reDispCycle = 0;
    int sourceNo = -1;
    std::wstring updateFlag;
    std::wstring valueTransFunc;
    std::wstring elementManageFunc;
    std::wstring refreshFunc;
    std::wstring healthElementNote;
    std::wstring valueGeneratedTime;  // yyyy-mm-dd hh:mm:ss.mmm
    int valueValidity = 0;
    int dispNo = 0;
    std::wstring nodeIconFileName;
    int lastRecNo = 0;
    std::wstring lastOpCode;
    std::wstring syncFlag;  // "1": values are uploaded
    int syncNo = 0;
    std::wstring status;
    std::wstring note;
    int sourceLinkState = 1;  // 1 connected, 2 removed
    int lastReadTick = 0;     // GetTickCount of the last re-reading
    int lastDispTick = 0;     // GetTickCount of the last display refresh
    bool expiryFailed = false;  // the last expiry could not be stored
    int expiryTick = 0;         // GetTickCount of that expiry
};

// The user's health elements by healthElementID.
using HealthElementMap = std::map<std::wstring, struHealthElementW>;

class CHealthResources {
public:
    static constexpr int kNoValue = -29999;
    static constexpr int kSerialElementData = 5010;  // "ElementDataRecNo"
    static constexpr int kTypeWeather = 40;          // refreshes the weather panels
    static constexpr int kTypeNoHistory = 50;        // keeps no history, not uploaded by a batch

    CHealthResources();
    virtual ~CHealthResources() = default;
    CHealthResources(const CHealthResources&) = delete;
    CHealthResources& operator=(const CHealthResources&) = delete;

    // ---- loading ----
    // The start-up step: the tick, the elements, then the watch. Always 1.
    int LoadFromDB();
    // Replaces every element by the table's rows with status '1'; the number loaded, or
    // -1 after a database error (the rows read before it stay).
    int ReadHealthElementFromDB();
    // Starts the device watch (StartWatch); 1.
    int StartWork();

    // ---- lookups: copies, neutral answers for an unknown id ----
    std::optional<struHealthElementW> FindElement(const std::wstring& id) const;
    int GetElementSourceNo(const std::wstring& id) const;       // -1 unknown
    std::wstring GetElementValue(const std::wstring& id) const;  // "" unknown
    int GetElementValueNo(const std::wstring& id) const;        // -29999 unknown
    // Every element in load order (type, then display order).
    std::vector<struHealthElementW> ElementsInLoadOrder() const;

    // ---- texts ----
    // The text valueNo shows for the element: "" for no value, else the element's
    // transform (while the main window and the database exist), else the number with
    // decLen decimals. A page's transform runs only on the main window's thread.
    std::wstring ElementValueNoToValue(const struHealthElementW& element, int valueNo) const;
    // out = the text valueNo would show for that element; "" for an unknown id.
    void GetElementValueByValueNo(std::wstring& out, const std::wstring& id, int valueNo) const;
    // The decimal text as a value number with decLen decimals, the rest cut off; -29999
    // for a text without digits, decLen above 9 or a number past int (logged).
    int ElementTextToValueNo(const struHealthElementW& element, const std::wstring& text) const;
    // Today's seconds of the computer-use elements from the activity monitor.
    bool GetUserEnvSeconds(const struHealthElementW& element, int* seconds) const;
    // Sets the age text from the birth date "age" holds, when the age changed.
    void RefreshAgeElement();

    // ---- the element lists for the main page; each push posts 0x803E ----
    // Elements whose source is not in the source dictionary are left out.
    int QueueElementRefresh(const struHealthElementW& element);  // -1 unknown source
    int QueueSourceElements(int sourceNo);                       // -1: every element
    void QueueElementRefreshById(const std::wstring& id);
    // The items' known elements, also when none is.
    void QueueElementsFromList(const uie::value& items);
    // Sets valueNo (default -1) and value of each item's known element in memory, then
    // queues them. 0.
    int ApplyDisplayValues(const uie::value& items);
    void SetDisplayValue(const struHealthElementW& element, int valueNo, const std::wstring& text);
    // Sets sourceNo of each item's known element in memory, then queues the items. 0.
    int UpdateElementSourceNo(const uie::value& items);
    // The oldest value waiting, undefined when none; the main window's command handlers.
    virtual uie::value PopElementListMsg();
    virtual uie::value PopPageMsg();

    // ---- value updates ----
    // Items of {"healthElementID", "valueNo", "value", "sourceNo", "valueGeneratedTime",
    // "recordDataList"}, as an array or as {"recordDataList": [items]}: all stored in one
    // transaction, then memory, uploads and the page. 0, -1 for another shape or no
    // memory, or the database's error.
    int SetHealthElementValue_Batch(const uie::value& items);
    // One value with its history row. 0 or the database's error; -1 no element, -2
    // unknown type, -3 unknown source, -4/-6 a statement that does not fit, -5 no serial.
    int RecordElementValueUpdate(const struHealthElementW* element, int valueNo, const std::wstring& valueText,
                                 int sourceNo, const std::wstring& generatedTime, bool queue);
    // RecordElementValueUpdate with the value's text and the element's own source.
    int RecordElementValue(const struHealthElementW* element, int valueNo, const std::wstring& generatedTime,
                           bool queue);
    // sourceNo above 0 replaces the element's. -1 for an unknown id.
    int SetElementValue(const std::wstring& id, int valueNo, const std::wstring& valueText, int sourceNo, bool record,
                        bool queue);
    // Sets one element's value (-29999: none), stores it when `record` is set and
    // queues the element list for the main page when `queue` is set. 0; -1 for an unknown
    // id; the store's failure when the value could not be stored (then nothing is posted).
    virtual int SetElementValueNo(const std::wstring& id, int valueNo, bool record, bool queue);
    // Element values the server sends (0x1092), on the socket thread: the number of the
    // record at which reading stopped, -1 when the write failed.
    virtual int BussDataProc_HealthElementValue(const std::wstring& reply);

    // A USB device arrived (arrived 1) or went; 1 when a source has these ids, else 0.
    virtual int DevChangeProc(int vendorID, int productID, int arrived);
    int RegisterScriptObject(HVM vm);

    // Runs f on the element map under its lock; f must not call out of this object.
    template <class F>
    void WithElements(F&& f) {
        std::lock_guard lock(m_elementLock);
        f(m_elements);
    }

private:
    struct QueuedList {
        std::uint64_t seq;
        uie::value list;
    };
    struct BatchItem;
    struct ServerValue;

    // Runs f on the element with that id under the lock; false for an unknown id.
    template <class F>
    bool WithElement(const std::wstring& id, F&& f) {
        std::lock_guard lock(m_elementLock);
        const auto found = m_elements.find(id);
        if (found == m_elements.end()) return false;
        f(found->second);
        return true;
    }
    // valueNo, value, sourceNo and generated time of a stored value; the copy after it.
    std::optional<struHealthElementW> StoreInMemory(const std::wstring& id, int valueNo, const std::wstring& text,
                                                    int sourceNo, const std::wstring& generatedTime);

    // The element object of the page's lists; nullopt when its source is unknown.
    static std::optional<uie::value> ElementObject(const struHealthElementW& element);
    static uie::value ListOf(const std::vector<struHealthElementW>& elements);
    void PushElementList(uie::value list);
    static std::wstring PageTransform(const std::wstring& function, int valueNo);

    // Pass 1 of the batch: the statements of the items that can be stored.
    std::vector<std::wstring> BatchStatements(std::vector<BatchItem>& items, int firstSerial);
    void BatchApply(const std::vector<BatchItem>& items);
    std::vector<ServerValue> ReadServerValues(const std::wstring& reply, int& stoppedAt) const;
    // Has the element's refresh function run on the main page, when it names one.
    static void PostRefreshFunc(const struHealthElementW& element);

    mutable std::mutex m_elementLock;
    HealthElementMap m_elements;
    std::vector<std::wstring> m_loadOrder;  // ids by load sequence, the first is number 1
    std::atomic<DWORD> m_loadTick{0};

    mutable std::mutex m_queueLock;  // both queues
    std::deque<QueuedList> m_elementLists;
    std::deque<uie::value> m_pageValues;  // nothing fills it yet
    std::uint64_t m_nextListSeq = 0;

    // ---- device modules, USB devices and the watch (HealthResourcesModules.cpp, HealthResourcesWatch.cpp) ----
public:
    // Binds the source's module once; 0 when bound (or already), InitModule's result when
    // 0 or more, -1 on any failure (nothing kept, so the next request tries again).
    int InitModuleInterface(struct struHealthElementSourceTypeW* source);
    // 0, or the code of the first missing export.
    static int BindModuleExports(struct struModuleInterface* module);
    void ReadModuleElementAttributes(struHealthElementSourceTypeW* source, struModuleInterface* module);
    // The module export StartWork or StopWork of the element's bound module; -1 without
    // one, or while a device read holds it (the page's thread never waits for a download).
    int CallModuleWork(const std::wstring& id, bool start);
    // The element's display reading from its bound module now; "" without one or a
    // reading, or while a device read holds it.
    std::wstring GetModuleValue(const std::wstring& id);

    // The watch thread, once; 1. The device watch StartWork stands for.
    int StartWatch();
    // Ends the watch thread and waits for it.
    void StopWatch();
    int RegisterDeviceNotify();
    // 0, or -1 when the devices cannot be listed.
    int list_USB_devices();
    // 1 when a listed device has both ids, else 2 (the link states).
    int IsDevicePresent(int vendorID, int productID) const;
    int BindPresentModules();
    void RefashElementDisp();
    void RefashElementChange();
    // What DevChangeProc does: 1 when a source has these ids, else 0.
    int ApplyDeviceChange(int vendorID, int productID, int arrived);

private:
    struct DeviceState;
    static std::shared_ptr<DeviceState> MakeDeviceState();
    struModuleInterface* BoundModuleOf(const std::wstring& id) const;
    // ReadModuleData under the module's lock, taken only when free: a device read holds
    // it for a whole download. 0 with a non-empty value, else the module's result or -1.
    static int ReadModuleValue(struModuleInterface* module, const std::wstring& id, char mode,
                               struct ModuleReading& out);
    void RunHealthResourcesWatch();
    bool WaitForMainPage() const;
    bool ExpireElement(const struHealthElementW& element);
    void RefreshFromSource(const struHealthElementW& element, bool record);
    std::vector<struHealthElementW> ElementsById();
    std::mutex m_bindLock;
    // Last, so the watch ends before anything it uses goes.
    std::shared_ptr<DeviceState> m_devices = MakeDeviceState();
};

extern CHealthResources* g_pHealthResources;
