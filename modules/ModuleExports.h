// The exports a device module defines, declared once with the types the program binds
// them with: a module's definition of another type does not compile (C linkage allows one
// signature per name). A module defines those it has; the pedometer module has the first 16.
#pragma once

#include <type_traits>

#include "ModuleInterface.h"

QUORV_MODULE_EXPORT std::int32_t InitModule();
QUORV_MODULE_EXPORT std::int32_t CloseModule();
QUORV_MODULE_EXPORT std::int32_t StartWork();
QUORV_MODULE_EXPORT std::int32_t StopWork();
QUORV_MODULE_EXPORT std::int32_t GetModuleState();
QUORV_MODULE_EXPORT std::int32_t GetElementName();
QUORV_MODULE_EXPORT std::int32_t GetElementAttribute(const char* name, std::int32_t type, char* out);
QUORV_MODULE_EXPORT std::int32_t dev_ResetData();
QUORV_MODULE_EXPORT std::int32_t ReadModuleID();
QUORV_MODULE_EXPORT std::int32_t GetModuleID(char** out);
QUORV_MODULE_EXPORT std::int32_t ReadModuleOrigData();
QUORV_MODULE_EXPORT std::int32_t GetModuleOrigData(char** out);
QUORV_MODULE_EXPORT std::int32_t ReadModuleOrigDataToBuf(void* buf, std::int32_t size);
QUORV_MODULE_EXPORT std::int32_t ReadModuleData(struModuleReadRequest* req, char* out);
QUORV_MODULE_EXPORT std::int32_t ReadModuleHisData(const char* name, const char* since, char* out,
                                                   std::uint32_t outSize);
QUORV_MODULE_EXPORT std::int32_t SetModuleDevOption(const char* options);
QUORV_MODULE_EXPORT std::int32_t SetModuleDataProcStatusCallBackFunc(DataProcStatusCallBack cb);
QUORV_MODULE_EXPORT std::int32_t GetModuleDataProcStatus();

// Each declaration has the type the program binds it with.
static_assert(std::is_same_v<decltype(&InitModule), InitModuleProc>);
static_assert(std::is_same_v<decltype(&CloseModule), CloseModuleProc>);
static_assert(std::is_same_v<decltype(&StartWork), StartWorkProc>);
static_assert(std::is_same_v<decltype(&StopWork), StopWorkProc>);
static_assert(std::is_same_v<decltype(&GetModuleState), GetModuleStateProc>);
static_assert(std::is_same_v<decltype(&GetElementName), GetElementNameProc>);
static_assert(std::is_same_v<decltype(&GetElementAttribute), GetElementAttributeProc>);
static_assert(std::is_same_v<decltype(&dev_ResetData), DevResetDataProc>);
static_assert(std::is_same_v<decltype(&ReadModuleID), ReadModuleIDProc>);
static_assert(std::is_same_v<decltype(&GetModuleID), GetModuleIDProc>);
static_assert(std::is_same_v<decltype(&ReadModuleOrigData), ReadModuleOrigDataProc>);
static_assert(std::is_same_v<decltype(&GetModuleOrigData), GetModuleOrigDataProc>);
static_assert(std::is_same_v<decltype(&ReadModuleOrigDataToBuf), ReadModuleOrigDataToBufProc>);
static_assert(std::is_same_v<decltype(&ReadModuleData), ReadModuleDataProc>);
static_assert(std::is_same_v<decltype(&ReadModuleHisData), ReadModuleHisDataProc>);
static_assert(std::is_same_v<decltype(&SetModuleDevOption), SetModuleDevOptionProc>);
static_assert(std::is_same_v<decltype(&SetModuleDataProcStatusCallBackFunc), SetModuleDataProcStatusCallBackFuncProc>);
static_assert(std::is_same_v<decltype(&GetModuleDataProcStatus), GetModuleDataProcStatusProc>);
