// The one object through which the program talks to the server: the packet format,
// the request contexts and their pool, sequence numbers, the exchange with its reply
// checks, the online state, the socket workers and the login values the builders read.
#pragma once

#include <array>
#include <atomic>
#include <bit>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "ScriptVM.h"
#include "SocketThread.h"
#include "ThreadWait.h"
#include "WinTypes.h"

// Command ids; a reply carries the id of its request.
constexpr int COMMAND_PLUSECHECK = 0x1010;
constexpr int COMMAND_USER_LOGIN = 0x1020;
constexpr int COMMAND_USER_LOGOUT = 0x1021;
constexpr int COMMAND_USERINFO_UPLOAD = 0x1065;
constexpr int COMMAND_DATASYNC_CHECK = 0x1068;
constexpr int COMMAND_USERINFO_QUEST = 0x1070;
constexpr int COMMAND_USEREXINFO_QUEST = 0x1080;
constexpr int COMMAND_PARAMETER_QUEST = 0x1085;
constexpr int COMMAND_USEROPDATA_UPLOAD = 0x1091;
constexpr int COMMAND_ELEMENTVALUE_QUEST = 0x1092;
constexpr int COMMAND_USERASSESSREPORT_DATA = 0x1095;
constexpr int COMMAND_WEATHERLIVE_QUEST = 0x1100;
constexpr int COMMAND_WEATHERFORECAST_QUEST = 0x1101;
constexpr int COMMAND_LIFEINDEX_QUEST = 0x1102;
constexpr int COMMAND_PUBLICMESS_QUEST = 0x1110;
constexpr int COMMAND_USERMESS_QUEST = 0x1111;
constexpr int COMMAND_USERTYPEMESS_QUEST = 0x1112;
constexpr int COMMAND_USERGROUPMESS_QUEST = 0x1113;
constexpr int COMMAND_ARTICLECOLLECTION_UPLOAD = 0x1130;
constexpr int COMMAND_FUNCOP_UPLOAD = 0x1140;
constexpr int COMMAND_HEALTHNOTE_UPLOAD = 0x1141;
constexpr int COMMAND_USERACTION_UPLOAD = 0x1142;
constexpr int COMMAND_ELEMENTVALUE_UPLOAD = 0x1154;
constexpr int COMMAND_PEDOMETER_ORIGDATA_UPLOAD = 0x1170;
constexpr int COMMAND_BLOODPRESSURE_DATA_UPLOAD = 0x1171;
constexpr int COMMAND_PEDORANK_QUEST = 0x1180;
constexpr int COMMAND_ALERTLIST_UPLOAD = 0x1190;
constexpr int COMMAND_TESTINGLIST_UPLOAD = 0x1192;
constexpr int COMMAND_ARTICLEVIEW_UPLOAD = 0x1194;

// Request modes.
constexpr int COMM_MODE_SYNC = 1;   // the caller runs the exchange and reads the reply
constexpr int COMM_MODE_ASYNC = 2;  // queued; the reply goes to BussProc, the context back to the pool

constexpr int kMaxPayloadLen = 4096;
constexpr char kInvertedFlag = '1';
constexpr char kFieldSep = '\x02';
constexpr char kRecordSep = '\x03';

static_assert(std::endian::native == std::endian::little, "the packet header is copied as it lies in memory");

// The header in front of every packet, both directions, little-endian.
#pragma pack(push, 1)
struct struPackHead {
    std::int32_t nPackLen;    // bytes after this field: 7 + payload
    std::uint16_t nCommandID;
    std::uint32_t nSeqNo;
    char cInverted;           // kInvertedFlag: every payload byte is stored XOR 0xFF
};
#pragma pack(pop)
static_assert(sizeof(struPackHead) == 11);
static_assert(offsetof(struPackHead, nCommandID) == 4 && offsetof(struPackHead, nSeqNo) == 6 &&
              offsetof(struPackHead, cInverted) == 10);
constexpr int kPackHeadSize = sizeof(struPackHead);
constexpr int kMaxPacketLen = kPackHeadSize + kMaxPayloadLen;

// One request in flight with its reply.
struct struCommContext {
    std::int32_t nInUse;      // 1 from AllocateContext to FreeContext
    std::int32_t nMode;       // COMM_MODE_SYNC or COMM_MODE_ASYNC
    std::int32_t nCommandID;  // the low 16 bits go on the wire
    std::int32_t nDataLen;    // payload bytes, the text's NUL included
    std::int32_t nRecvLen;    // bytes of the whole reply packet
    char szData[kMaxPayloadLen];
    char szRecv[kMaxPayloadLen + 1];  // the whole reply packet, header included, then a NUL
    CSocketThread* pSocketThread;     // the worker whose client carries the request
};
static_assert(offsetof(struCommContext, szData) == 20 && offsetof(struCommContext, szRecv) == 20 + 4096);
static_assert(sizeof(struCommContext::szRecv) == 4097);

// The records the builders send; each is declared by the class that owns it.
struct struUserW;
struct struUserExpW;
struct struHealthNoteW;
struct struUserActionW;
struct struArticleViewW;
struct struHealthElementW;
struct struDeviceOrigData;
struct struBpPacketW;
struct struAlertListW;
struct struTestingResultW;

// The argument block of one article synchronisation.
struct struHttpQuestThreadPara {
    std::string bussID;        // "syndata_article" (subscription) or "syndata_focusArticle" (focus)
    int minNo = -1;            // the highest article number held here
    int maxNo = -1;            // the server's highest
    int minDeletedRecNo = -1;  // the highest deleted-record number applied here
    int maxDeletedRecNo = -1;  // the server's highest
};

class CCommunication {
public:
    static constexpr int kMaxSocketThreads = 10;
    static constexpr int kFreeContextLimit = 100;
    static constexpr int kMaxContextsWarning = 500;

    CCommunication();
    // Stops the workers before anything they use goes away.
    virtual ~CCommunication();
    CCommunication(const CCommunication&) = delete;
    CCommunication& operator=(const CCommunication&) = delete;

    // Request contexts. AllocateContext gives a zeroed context in use, or null.
    struCommContext* AllocateContext();
    // Does nothing for a context that is not in use (or not this pool's).
    void FreeContext(struCommContext* context);
    void FreeAllContexts();
    int GetFreeContextCount() const;
    int GetMaxContexts() const;

    // Strictly rising across threads; normally the tick count.
    DWORD GetSeqNo();
    // Copies length bytes, each XOR 0xFF; *outLength := length.
    static void InvertBytes(const char* input, int length, char* output, int* outLength);

    // One exchange: the reply's byte count on success, below 1 on failure. Only a server
    // not reached counts as a lost connection; a reply refused fails its request alone.
    // Mode 2 contexts are back in the pool when it returns.
    int SendAndRecv(struCommContext* context);
    // The checks of one received reply against its request: a whole header whose length
    // field matches the bytes, the request's command id and sequence number, at most
    // kMaxPayloadLen bytes. A reply that passes is stored in the context with its payload
    // restored; the reply's byte count, else -1 (logged) and the context untouched.
    static int TakeReply(struCommContext* context, const char* reply, int length, std::uint16_t commandId,
                         DWORD seqNo);
    // The follow-up of a request that failed or was never carried; returns 0.
    int SendFailedProc(int result, struCommContext* context);

    // The reply dispatch (ReplyDispatcher.cpp), on the thread that made the exchange:
    // hands the reply text to the one handler of its command id. 0 for an empty reply
    // or one whose handler object does not exist.
    int BussProc(struCommContext* context);
    // The reply's payload from offset 11 up to its NUL, from the system code page.
    static std::wstring GetReplyText(const struCommContext* context);
    // The request's text in the system code page, with its NUL, as the payload, and the
    // command and mode; false (nothing changed) when it does not fit.
    static bool FillPayload(struCommContext* context, int commandId, int mode, const std::wstring& payload);

    // Makes and starts one worker, whatever the count; 0, or -1 when it cannot.
    int SetSocketThreadCount(int count);
    int GetSocketThreadCount() const;
    CSocketThread* GetSocketThread(int index) const;
    // The first worker with an empty queue, else the one with the fewest queued; marked
    // busy. Null only when there is no worker.
    CSocketThread* LockOneMinConnect();
    // A worker neither busy nor with queued requests, waiting up to timeoutMs; marked busy.
    CSocketThread* LockOneIdleConnect(int timeoutMs);
    // Drops every queued request of every worker.
    void ResetSocketThreads();

    void SetServer(const std::wstring& host, const std::wstring& port, int socketType, int timeout);
    // Reaches only the workers that exist at the call.
    void SetServerBak(const std::wstring& host, const std::wstring& port, int socketType, int timeout);

    bool IsOnline() const { return m_bOnline.load() != 0; }
    int GetOnlineCount() const { return m_nOnlineCount.load(); }

    // Texts of the login, read by pages on their own threads.
    std::wstring GetStatusText() const;  // the login reply message, shown as the status line
    void SetStatusText(const std::wstring& text);
    std::wstring GetLoginAccount() const;
    void SetLoginAccount(const std::wstring& account);
    std::wstring GetLoginPassword() const;
    void SetLoginPassword(const std::wstring& password);
    std::wstring GetUserID() const;
    void SetUserID(const std::wstring& userID);
    std::wstring GetAddressNote() const;
    void SetAddressNote(const std::wstring& note);

    // Request builders (RequestBuilders.cpp): 0 when queued, -1 when not. A user number
    // of -1 stands for the logged-in user's.
    // Queries.
    int PluseCheck_asyn(int userNo);
    int QuestUserInfo_asyn(int userNo, int serverSyncNo, int localSyncNo);
    int QuestUserExpInfo_asyn(int userNo, int serverSyncNo, int localSyncNo);
    int QuestParameter_asyn(int userNo, int parameterNo, int serverSyncNo, int localSyncNo);
    int QuestHealthElementValue_asyn(int userNo);
    int QuestWeatherLive_asyn(int userNo, int areaNo, int serverNo, int heldNo);
    int QuestWeatherForecast_asyn(int userNo, int areaNo, int serverNo, int heldNo);
    int QuestLifeIndex_asyn(int userNo, int areaNo, int serverNo, int heldNo);
    int QuestPublicMess_asyn(int userNo, int serverNo, int heldNo);
    int QuestUserMess_asyn(int userNo, int serverNo, int heldNo);
    int QuestUserTypeMess_asyn(wchar_t userType, int serverNo, int heldNo);  // L'\0': the profile's type
    int QuestUserGroupMess_asyn(int userGroupNo, int serverNo, int heldNo);  // <= 0: the profile's group
    int QuestPedoRank_asyn(int value);
    // Uploads.
    int UserInfoUpLoad_asyn(const struUserW& user, const struUserExpW& userExp);
    int UserOpDataUpLoad_asyn(int unused);       // the day record of g_pUserOperation
    int UserAssessReportUpLoad_asyn(int unused); // the last report of g_pAssessInfo
    int ArticleCollectionAddUpLoad_asyn(const VALUE& collection);
    int FuncOpUpLoad_asyn(int userNo, const std::wstring& funcID, int a, int b, const std::wstring& operation);
    int HealthNoteOpUpLoad_asyn(const struHealthNoteW& note);
    int UserActionOpUpLoad_asyn(const struUserActionW& action);
    int UploadElementValue_asyn(const struHealthElementW& element);
    int PedometerOrigDataUpLoad_asyn(const struDeviceOrigData& data);
    int BloodPressureDataUpLoad_asyn(const struBpPacketW& packet);
    int AlertListUpLoad_asyn(const struAlertListW& alert);
    int TestingListUpLoad_asyn(const struTestingResultW& result);
    int ArticleViewListUpLoad_asyn(const struArticleViewW& view);
    // Composites ending in an upload, and the alert-list reply.
    int FuncOp(const std::wstring& funcID, const std::wstring& operation);
    int UserActionDataOp(const VALUE& actions);
    int AlertListUpLoad_BussProc(const std::wstring& reply);
    // A page's health-note operation (element 0 of notes): "0" uploads, "2" uploads a
    // note the server has, else deletes it here. Always 0.
    int HealthNoteOp(const uie::value& notes);

    // Login, logout and keep-alive (Login.cpp, KeepAlive.cpp).
    // Starts a login on a thread of its own; 0 when started.
    int UserLogin_asyn(const std::wstring& account, const std::wstring& password, bool rememberPassword,
                       bool autoLoginWhenRun);
    // The login exchange on the calling thread: -1 no context, -2 no worker or a
    // payload too long, 0 the exchange failed, else the result code LoginBussProc left.
    int UserLogin_syn(const std::wstring& account, const std::wstring& password);
    // Queues a login whose reply comes through BussProc: 0 queued, -1 not.
    int ReLogin_asyn(const std::wstring& account, const std::wstring& password);
    // A login reply; mode 1 from UserLogin_syn, 2 from a queued re-login. Returns 0.
    int LoginBussProc(const std::wstring& reply, int mode);
    int LoginAfterDataProc();
    // -1 when refused, else the exchange's result.
    int UserLogout_syn();
    // The logout as the program ends: UserLogout_syn, waited for at most `bound`, so that a
    // server holding the exchange cannot hold the exit; -1 when the wait ran out.
    int UserLogoutAtExit(std::chrono::milliseconds bound);
    // As the program ends: the login thread, over by then unless the end came during a login,
    // joined within `bound` (not from itself: an end its login began goes on past it).
    void JoinLoginAtExit(std::chrono::milliseconds bound);
    // 1 when a check record of the server hits, 0 when none does or nothing could be
    // asked, -1 no context, -2 no idle worker.
    int QuestDataSyncCheck_syn(const std::wstring& userID, const std::wstring& unused);
    // The number of hits in a data-sync check reply.
    int DataSyncCheckProc(const std::wstring& reply);
    // The keep-alive reply: forced exit, re-login or the follow-up requests. Returns 0.
    int PluseCheckBussProc(const std::wstring& reply);
    // Asks each message feed for the newest message the last keep-alive announced,
    // when the feed holds an older one (MessFeeds.cpp).
    void QuestNewMessages();
    // One reply of a feed's command to its feed, then the next request while the feed
    // moves on towards the announced number, up to the requests a keep-alive allows; none
    // when the feed does not exist.
    std::optional<int> MessFeedReply(int feedCommand, const std::wstring& reply);
    // The requests of one feed after a keep-alive, its own among them: the messages past
    // them wait for the next keep-alive, 30 s later.
    static constexpr int kFeedRequestsPerKeepAlive = 10;
    static constexpr std::size_t kMessFeeds = 4;
    // A user ID that may name a folder: letters, digits, '_', '-', '.', '@', no "..".
    static bool IsSafeUserID(std::wstring_view userID);

    // The article synchronisation over HTTP (ArticleSync.cpp).
    // Starts a synchronisation of subscription (focus) articles on a thread of its own:
    // 0 when it runs, -1 when it cannot start or one of its kind still runs.
    int QuestArticle_asyn(int maxNo, int minNo, int maxDeletedRecNo, int minDeletedRecNo);
    int QuestFocusArticle_asyn(int maxNo, int minNo, int maxDeletedRecNo, int minDeletedRecNo);
    // The keep-alive's article step with the server's four numbers: each kind the server
    // is ahead in is synchronised once its wait since the object's check tick is over.
    void QuestNewArticles(int focusMaxNo, int articleMaxNo, int focusMaxDeletedRecNo, int articleMaxDeletedRecNo);
    // One synchronisation from request to counters, on the calling thread; 0.
    int HttpQuestThread_article(const struHttpQuestThreadPara& para);
    // Applies one reply: 0, or negative with its copy kept in Log/. *applied says whether
    // the reply's statements are in the database (also when the pop-up then failed).
    int ParseHttpSyncXmlData(const struHttpQuestThreadPara& para, const std::string& reply,
                             bool* applied = nullptr);
    // The statements of a reply's rows, in order, and how many are counted as inserts:
    // 0; -2 for a reply that is not a well-formed document nested as the format is, or
    // whose retCode is negative; -1 for a root without bussID. Touches nothing.
    static int ReadHttpSyncXmlData(const std::string& reply, std::vector<std::wstring>& statements, int& inserts);
    // HttpQuestThread_article as a thread body: an exception ends the sync with -1, logged.
    void RunArticleSync(const struHttpQuestThreadPara& para);
    static void LogSyncException(const struHttpQuestThreadPara& para, const char* what) noexcept;
    // The synchronisation URL of an HttpServiceAddr setting; "" for an empty one.
    static std::string HttpSyncUrl(const std::wstring& serviceAddr);
    // The request body, every value form-encoded.
    std::string HttpSyncBody(const struHttpQuestThreadPara& para) const;
    bool IsArticleSyncRunning() const;
    // The bounds of each sync transfer (tests shorten them), seconds but for the rate: the
    // connect time-out; the whole transfer, its three attempts together, in proportion to the
    // 16 MB reply cap (5 minutes hold it at 56 KB/s); and the minimum rate over the stall
    // time, so that a trickle does not hold its kind's sync even that long.
    std::atomic<int> m_nHttpConnectTimeout{30};
    std::atomic<int> m_nHttpTimeout{300};
    std::atomic<int> m_nHttpStallTime{60};
    std::atomic<int> m_nHttpMinRate{2048};  // bytes a second

    // Defines the script object "comm" on one page's VM (CommScriptObject.cpp).
    bool RegisterScriptObject(HVM vm);

    std::atomic<bool> m_bRememberPassword{false};
    std::atomic<bool> m_bAutoLoginWhenRun{false};
    std::atomic<DWORD> m_dwLoginTick{0};
    std::atomic<int> m_nRetCode{0};
    std::atomic<int> m_nUserNo{-1};
    std::atomic<int> m_nAreaNo{-1};
    std::atomic<int> m_nAreaCodeNo{-1};
    std::atomic<bool> m_bNewDatabase{false};
    std::atomic<int> m_nLoginState{0};  // 0 none, 1 in progress, 2 logged in, 3 failed
    // The numbers of the last keep-alive reply, by field number (1..20).
    std::array<std::atomic<int>, 21> m_nPluseCheckNo{};

private:
    void TrackOnline(bool success);
    // Whether the feed (by its place in the keep-alive's order) may send one more request.
    bool TakeFeedRequest(std::size_t feed);
    // Asks the feed for the message after `held`, noting the request until its reply.
    void AskFeed(std::size_t feed, int announced, int held);
    // Takes a context and a worker and queues the payload text in the system code page.
    // logFailures: the device uploads also log a missing context or worker.
    int QueueRequest(int commandId, const std::wstring& payload, const wchar_t* function, bool logFailures = false);

    // Context pool: contexts on the free list and those in use, all owned here.
    mutable std::mutex m_poolLock;
    std::vector<std::unique_ptr<struCommContext>> m_freeContexts;
    std::unordered_map<const struCommContext*, std::unique_ptr<struCommContext>> m_usedContexts;
    int m_nMaxContexts = 0;

    // Worker table.
    mutable std::mutex m_tableLock;
    std::array<std::unique_ptr<CSocketThread>, kMaxSocketThreads> m_socketThreads;
    int m_nSocketThreadCount = 2;

    // Main server, set before any request.
    std::wstring m_serverHost;
    std::wstring m_serverPort;
    int m_nSocketType = 1;
    int m_nTimeout = 30000;

    std::mutex m_seqLock;
    DWORD m_dwSeqNo = 0;

    // Requests of each feed since the last keep-alive asked it (feeds' replies come on any worker).
    std::array<std::atomic<int>, kMessFeeds> m_feedRequests{};
    // Each feed's request whose reply has not come: the message it asked after (-1: none)
    // and when, so a keep-alive that follows at once does not ask for the same again.
    struct FeedAsked {
        std::atomic<int> after{-1};
        std::atomic<DWORD> tick{0};
    };
    std::array<FeedAsked, kMessFeeds> m_feedAsked{};
    std::atomic<int> m_bOnline{1};
    std::atomic<int> m_nOnlineCount{0};

    mutable std::mutex m_textLock;
    std::wstring m_loginAccount;
    std::wstring m_loginPassword;
    std::wstring m_strRetMsg;
    std::wstring m_userID;
    std::wstring m_addressNote;

    // The login helpers (Login.cpp).
    // Fills a login request; false (logged) when the payload does not fit.
    bool FillLoginContext(struCommContext* context, const std::wstring& account, const std::wstring& password,
                          const wchar_t* marker);
    // A failed or refused login: state 3 and the status shown, or, for a re-login, the end.
    void FailLogin(int mode, int retCode, const std::wstring& message);
    int LoginSucceeded(const std::wstring& reply, int mode);

    // Owns the thread of the login in progress (or of the logout at exit).
    struct LoginParts {
        LoginParts() = default;
        ~LoginParts() { Join(); }
        void Join();
        LoginParts(const LoginParts&) = delete;
        LoginParts& operator=(const LoginParts&) = delete;
        std::mutex threadLock;
        threadwait::Thread thread;
    };
    LoginParts m_loginParts;
    LoginParts m_logoutParts;

    // The article synchronisation helpers (ArticleSync.cpp). kind: 0 focus, 1 subscription.
    int StartArticleSync(int kind, const struHttpQuestThreadPara& para);
    void AdvanceArticleMarks(const struHttpQuestThreadPara& para);
    // After a reply came: applied, or refused (by a bound, the server or the database).
    void NoteSyncOutcome(const struHttpQuestThreadPara& para, bool applied);

    // One synchronisation thread per kind of article, at most one running.
    struct ArticleSyncSlot {
        ArticleSyncSlot() = default;
        ~ArticleSyncSlot() { Join(); }
        void Join();
        ArticleSyncSlot(const ArticleSyncSlot&) = delete;
        ArticleSyncSlot& operator=(const ArticleSyncSlot&) = delete;
        std::mutex threadLock;
        threadwait::Thread thread;
        std::atomic<bool> running{false};
        // Replies refused in a row, and when the last was: the keep-alive asks again once a
        // wait that grows with them is over.
        std::atomic<int> refusals{0};
        std::atomic<DWORD> refusedTick{0};
    };
    // Last: joined before anything a synchronisation uses goes away.
    std::array<ArticleSyncSlot, 2> m_articleSyncs;
};

// The program's one communication object; made at start-up, null until then.
extern CCommunication* g_pCommunication;

// The logged-in user's number; -1 without a communication object.
int LoggedInUserNo();
