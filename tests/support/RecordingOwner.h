// A host for tests: records every callback by name and every log line, and
// lets a test answer any callback through a hook.
#pragma once

#include "IOrlinOwner.h"

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class RecordingOwner : public IOrlinOwner
{
public:
    std::vector<std::string> Logs() const { std::lock_guard<std::mutex> l(mu); return logs; }
    std::vector<std::string> Events() const { std::lock_guard<std::mutex> l(mu); return events; }
    std::vector<void*> Freed() const { std::lock_guard<std::mutex> l(mu); return freed; }
    int CountLog(const std::string& line) const
    {
        std::lock_guard<std::mutex> l(mu);
        return static_cast<int>(std::count(logs.begin(), logs.end(), line));
    }
    void Clear()
    {
        std::lock_guard<std::mutex> l(mu);
        logs.clear();
        events.clear();
        freed.clear();
    }

    void OnLog(const char* szText) override
    {
        std::lock_guard<std::mutex> l(mu);
        logs.emplace_back(szText ? szText : "");
    }
    void OnFreeMemory(void* p) override
    {
        Event("OnFreeMemory");
        std::lock_guard<std::mutex> l(mu);
        freed.push_back(p);
    }

    // Hooks, one per callback: onPrint for OnPrint and so on. An unset hook
    // answers true and leaves the results untouched.
#define RECORDING_HOOK(R, Name, Params, Args)                                              \
    std::function<R Params> on##Name;                                                       \
    R On##Name Params override { Event("On" #Name); return on##Name ? on##Name Args : R(true); }
    RECORDING_HOOK(bool, RecvPacket, (const char* a, const char* b), (a, b))
    RECORDING_HOOK(void, GetClient, (__SCLOUD_GET_CLIENT* a), (a))
    RECORDING_HOOK(bool, Print, (__SCLOUD_PRINT_TASK* a, __SCLOUD_PRINT_RESULT* b), (a, b))
    RECORDING_HOOK(bool, PrintResult, (__SCLOUD_PRINT_RESULT* a), (a))
    RECORDING_HOOK(bool, Sig, (__SCLOUD_SIG* a), (a))
    RECORDING_HOOK(void, MotorRun, (__SCLOUD_MOTOR_RUN* a), (a))
    RECORDING_HOOK(void, LoadParam, (__SCLOUD_LOAD_PARAM* a, __SCLOUD_LOAD_PARAM_RESULT* b), (a, b))
    RECORDING_HOOK(void, Clean, (__SCLOUD_CLEAN* a), (a))
    RECORDING_HOOK(void, LoadInk, (__SCLOUD_LOAD_INK* a), (a))
    RECORDING_HOOK(void, RunMachine, (__SCLOUD_RUN_MACHINE* a), (a))
    RECORDING_HOOK(void, Statistics, (__SCLOUD_STATISTICS* a, __SCLOUD_STATISTICS_RESULT* b), (a, b))
    RECORDING_HOOK(void, FileTransfer, (__SCLOUD_FILE_TRANSFER* a, __SCLOUD_FILE_TRANSFER_RESULT* b), (a, b))
    RECORDING_HOOK(void, LoadDeviceInfo, (__SCLOUD_LOAD_DEVICE_INFO* a, __SCLOUD_LOAD_DEVICE_INFO_RESULT* b), (a, b))
    RECORDING_HOOK(void, Upgrade, (__SCLOUD_UPGRADE* a, __SCLOUD_CMD_RESULT* b), (a, b))
    RECORDING_HOOK(void, CheckBeforePrint, (__SCLOUD_CHECK_BEFORE_PRINT* a, __SCLOUD_CMD_RESULT* b), (a, b))
    RECORDING_HOOK(bool, Report, (__SCLOUD_UPGRADE_REPORT_PARAM* a), (a))
    RECORDING_HOOK(void, ConfigWifiInfo, (__SCLOUD_CONFIG_WIFI_INFO* a, __SCLOUD_CMD_RESULT* b), (a, b))
    RECORDING_HOOK(void, AddPrintTask, (__SCLOUD_ADD_PRINT_TASK* a, __SCLOUD_TASK_RESULT* b), (a, b))
    RECORDING_HOOK(bool, AddPrintTaskResult, (__SCLOUD_TASK_RESULT* a), (a))
    RECORDING_HOOK(void, GetTaskListInfo, (__SCLOUD_GET_TASK_LIST_INFO* a, __SCLOUD_GET_TASK_LIST_INFO_RESULT* b), (a, b))
    RECORDING_HOOK(bool, GetTaskListInfoResult, (__SCLOUD_GET_TASK_LIST_INFO_RESULT* a), (a))
    RECORDING_HOOK(void, ClientShowType, (__SCLOUD_CLIENT_SHOW_TYPE* a, __SCLOUD_CMD_RESULT* b), (a, b))
    RECORDING_HOOK(bool, ClientShowTypeResult, (__SCLOUD_CMD_RESULT* a), (a))
    RECORDING_HOOK(void, SetTaskParam, (__SCLOUD_SET_TASK_PARAM* a, __SCLOUD_TASK_RESULT* b), (a, b))
    RECORDING_HOOK(bool, SetTaskParamResult, (__SCLOUD_TASK_RESULT* a), (a))
#undef RECORDING_HOOK

private:
    void Event(const char* name)
    {
        std::lock_guard<std::mutex> l(mu);
        events.emplace_back(name);
    }

    mutable std::mutex mu;
    std::vector<std::string> logs;
    std::vector<std::string> events;
    std::vector<void*> freed;
};
