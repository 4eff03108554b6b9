// Each method reads its arguments, forwards to the database object and hands back the
// result; a missing or mistyped argument ends the call with the engine's message
// before the database is touched.
#include "DatabaseScriptObject.h"

#include <string>
#include <vector>

#include "Config.h"
#include "CxLog.h"
#include "DB.h"
#include "MyDatabase.h"
#include "Recordset.h"

namespace {

constexpr int kNoDatabase = -1;

using uie::NativeArgs;
using uie::value;

// The operations a page may call at any time answer -1 while there is no database object.
template <class Call>
uie::NativeFn WithDatabase(Call call) {
    return [call](HVM, const NativeArgs& args) -> value {
        CMyDatabase* db = g_pMyDatabase;
        return db != nullptr ? call(*db, args) : value(kNoDatabase);
    };
}

// A dictionary lookup by number; an empty text while there is no database object.
uie::NativeFn DictByNumber(std::wstring (CMyDatabase::*lookup)(int)) {
    return [lookup](HVM, const NativeArgs& args) {
        const int key = uie::ArgInt(args, 0);
        CMyDatabase* db = g_pMyDatabase;
        return value(db != nullptr ? (db->*lookup)(key) : std::wstring());
    };
}

value DictLiveIndexIDName(HVM, const NativeArgs& args) {
    const std::wstring key = uie::ArgString(args, 0);
    CMyDatabase* db = g_pMyDatabase;
    return value(db != nullptr ? db->GetDictLiveIndexIDName(key) : std::wstring());
}

value MakeSerialNo(HVM, const NativeArgs& args) {
    const int serialCode = uie::ArgInt(args, 0);
    const int count = uie::ArgInt(args, 1);
    CMyDatabase* db = g_pMyDatabase;
    const int result = db != nullptr ? db->MakeSerialNo(serialCode, count) : kNoDatabase;
    if (result < 0)
        CxLog::GetInstance()->WriteFormat(L"MyDatabase", L"_MakeSerialNo", __LINE__, LOG_ERROR, L"MakeSerialNo[%d]",
                                          result);
    return value(result);
}

uie::NativeProperty ReadOnly(const char* name, uie::NativeFn get) { return {name, std::move(get), {}}; }

std::vector<uie::NativeMethod> Methods() {
    return {
        {"LockSqliteTable", WithDatabase([](CMyDatabase& db, const NativeArgs& args) {
             const std::wstring table = uie::ArgString(args, 0);
             return value(db.LockSqliteTable(table, uie::ArgInt(args, 1)));
         })},
        {"UnLockSqliteTable", WithDatabase([](CMyDatabase& db, const NativeArgs& args) {
             return value(db.UnLockSqliteTable(uie::ArgString(args, 0)));
         })},
        {"ExecSql", WithDatabase([](CMyDatabase& db, const NativeArgs& args) {
             return value(db.ExecSQL(uie::ArgString(args, 0)));
         })},
        {"ExecSqlSet", WithDatabase([](CMyDatabase& db, const NativeArgs& args) {
             return value(db.ExecSQLSetFromArray(uie::ArgArray(args, 0)));
         })},
        {"ExecSql_asyn", WithDatabase([](CMyDatabase& db, const NativeArgs& args) {
             return value(db.ExecSQL_asyn(uie::ArgString(args, 0)));
         })},
        {"SelectSQL", WithDatabase([](CMyDatabase& db, const NativeArgs& args) {
             return db.SelectSQL(uie::ArgString(args, 0));
         })},
        {"GetDictAreaName", DictByNumber(&CMyDatabase::GetDictAreaName)},
        {"GetDictAreaCodeName", DictByNumber(&CMyDatabase::GetDictAreaCodeName)},
        {"GetDictAreaNameByAreaCodeNo", DictByNumber(&CMyDatabase::GetDictAreaNameByAreaCodeNo)},
        {"GetDictSolarTermsName", DictByNumber(&CMyDatabase::GetDictSolarTermsName)},
        {"GetDictWeatherName", DictByNumber(&CMyDatabase::GetDictWeatherName)},
        {"GetDictWindDirectionName", DictByNumber(&CMyDatabase::GetDictWindDirectionName)},
        {"GetDictLiveIndexIDName", DictLiveIndexIDName},
        {"MakeSerialNo", MakeSerialNo},
    };
}

std::vector<uie::NativeProperty> Properties() {
    return {
        ReadOnly("_userDBName", [](HVM, const NativeArgs&) { return value(g_Config.m_config.userDBName); }),
        ReadOnly("tempDBName", [](HVM, const NativeArgs&) { return value(g_Config.m_config.tempDBName); }),
        ReadOnly("_bWriteDBLock",
                 [](HVM, const NativeArgs&) {
                     CMyDatabase* db = g_pMyDatabase;
                     return value(db != nullptr && db->IsWriteLocked());
                 }),
        ReadOnly("_tableNameLock",
                 [](HVM, const NativeArgs&) {
                     CMyDatabase* db = g_pMyDatabase;
                     return value(db != nullptr ? db->LockTableName() : std::wstring());
                 }),
    };
}

}  // namespace

std::shared_ptr<const uie::NativeObjectDef> DatabaseScriptObjectDef() {
    static const std::shared_ptr<const uie::NativeObjectDef> def = [] {
        auto d = std::make_shared<uie::NativeObjectDef>();
        d->methods = Methods();
        d->properties = Properties();
        return std::shared_ptr<const uie::NativeObjectDef>(std::move(d));
    }();
    return def;
}

bool RegisterDatabaseScriptObject(HVM vm) {
    const bool db = DB::Define(vm);
    const bool recordset = Recordset::Define(vm);
    return db && recordset && uie::DefineNativeObject(vm, "quorvDb", DatabaseScriptObjectDef());
}
