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

    // Hooks; unset hooks answer true and leave results untouched.
    std::function<bool(const char*, const char*)> onRecvPacket;
    std::function<void(__SCLOUD_GET_CLIENT*)> onGetClient;
    std::function<bool(__SCLOUD_PRINT_TASK*, __SCLOUD_PRINT_RESULT*)> onPrint;
    std::function<bool(__SCLOUD_PRINT_RESULT*)> onPrintResult;
    std::function<bool(__SCLOUD_SIG*)> onSig;
    std::function<void(__SCLOUD_MOTOR_RUN*)> onMotorRun;
    std::function<void(__SCLOUD_LOAD_PARAM*, __SCLOUD_LOAD_PARAM_RESULT*)> onLoadParam;
    std::function<void(__SCLOUD_CLEAN*)> onClean;
    std::function<void(__SCLOUD_LOAD_INK*)> onLoadInk;
    std::function<void(__SCLOUD_RUN_MACHINE*)> onRunMachine;
    std::function<void(__SCLOUD_STATISTICS*, __SCLOUD_STATISTICS_RESULT*)> onStatistics;
    std::function<void(__SCLOUD_FILE_TRANSFER*, __SCLOUD_FILE_TRANSFER_RESULT*)> onFileTransfer;
    std::function<void(__SCLOUD_LOAD_DEVICE_INFO*, __SCLOUD_LOAD_DEVICE_INFO_RESULT*)> onLoadDeviceInfo;
    std::function<void(__SCLOUD_UPGRADE*, __SCLOUD_CMD_RESULT*)> onUpgrade;
    std::function<void(__SCLOUD_CHECK_BEFORE_PRINT*, __SCLOUD_CMD_RESULT*)> onCheckBeforePrint;
    std::function<bool(__SCLOUD_UPGRADE_REPORT_PARAM*)> onReport;
    std::function<void(__SCLOUD_CONFIG_WIFI_INFO*, __SCLOUD_CMD_RESULT*)> onConfigWifiInfo;
    std::function<void(__SCLOUD_ADD_PRINT_TASK*, __SCLOUD_TASK_RESULT*)> onAddPrintTask;
    std::function<bool(__SCLOUD_TASK_RESULT*)> onAddPrintTaskResult;
    std::function<void(__SCLOUD_GET_TASK_LIST_INFO*, __SCLOUD_GET_TASK_LIST_INFO_RESULT*)> onGetTaskListInfo;
    std::function<bool(__SCLOUD_GET_TASK_LIST_INFO_RESULT*)> onGetTaskListInfoResult;
    std::function<void(__SCLOUD_CLIENT_SHOW_TYPE*, __SCLOUD_CMD_RESULT*)> onClientShowType;
    std::function<bool(__SCLOUD_CMD_RESULT*)> onClientShowTypeResult;
    std::function<void(__SCLOUD_SET_TASK_PARAM*, __SCLOUD_TASK_RESULT*)> onSetTaskParam;
    std::function<bool(__SCLOUD_TASK_RESULT*)> onSetTaskParamResult;

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
    bool OnRecvPacket(const char* a, const char* b) override { Event("OnRecvPacket"); return onRecvPacket ? onRecvPacket(a, b) : true; }
    void OnGetClient(__SCLOUD_GET_CLIENT* p) override { Event("OnGetClient"); if (onGetClient) onGetClient(p); }
    bool OnPrint(__SCLOUD_PRINT_TASK* a, __SCLOUD_PRINT_RESULT* b) override { Event("OnPrint"); return onPrint ? onPrint(a, b) : true; }
    bool OnPrintResult(__SCLOUD_PRINT_RESULT* p) override { Event("OnPrintResult"); return onPrintResult ? onPrintResult(p) : true; }
    bool OnSig(__SCLOUD_SIG* p) override { Event("OnSig"); return onSig ? onSig(p) : true; }
    void OnMotorRun(__SCLOUD_MOTOR_RUN* p) override { Event("OnMotorRun"); if (onMotorRun) onMotorRun(p); }
    void OnLoadParam(__SCLOUD_LOAD_PARAM* a, __SCLOUD_LOAD_PARAM_RESULT* b) override { Event("OnLoadParam"); if (onLoadParam) onLoadParam(a, b); }
    void OnClean(__SCLOUD_CLEAN* p) override { Event("OnClean"); if (onClean) onClean(p); }
    void OnLoadInk(__SCLOUD_LOAD_INK* p) override { Event("OnLoadInk"); if (onLoadInk) onLoadInk(p); }
    void OnRunMachine(__SCLOUD_RUN_MACHINE* p) override { Event("OnRunMachine"); if (onRunMachine) onRunMachine(p); }
    void OnStatistics(__SCLOUD_STATISTICS* a, __SCLOUD_STATISTICS_RESULT* b) override { Event("OnStatistics"); if (onStatistics) onStatistics(a, b); }
    void OnFileTransfer(__SCLOUD_FILE_TRANSFER* a, __SCLOUD_FILE_TRANSFER_RESULT* b) override { Event("OnFileTransfer"); if (onFileTransfer) onFileTransfer(a, b); }
    void OnLoadDeviceInfo(__SCLOUD_LOAD_DEVICE_INFO* a, __SCLOUD_LOAD_DEVICE_INFO_RESULT* b) override { Event("OnLoadDeviceInfo"); if (onLoadDeviceInfo) onLoadDeviceInfo(a, b); }
    void OnUpgrade(__SCLOUD_UPGRADE* a, __SCLOUD_CMD_RESULT* b) override { Event("OnUpgrade"); if (onUpgrade) onUpgrade(a, b); }
    void OnCheckBeforePrint(__SCLOUD_CHECK_BEFORE_PRINT* a, __SCLOUD_CMD_RESULT* b) override { Event("OnCheckBeforePrint"); if (onCheckBeforePrint) onCheckBeforePrint(a, b); }
    bool OnReport(__SCLOUD_UPGRADE_REPORT_PARAM* p) override { Event("OnReport"); return onReport ? onReport(p) : true; }
    void OnConfigWifiInfo(__SCLOUD_CONFIG_WIFI_INFO* a, __SCLOUD_CMD_RESULT* b) override { Event("OnConfigWifiInfo"); if (onConfigWifiInfo) onConfigWifiInfo(a, b); }
    void OnAddPrintTask(__SCLOUD_ADD_PRINT_TASK* a, __SCLOUD_TASK_RESULT* b) override { Event("OnAddPrintTask"); if (onAddPrintTask) onAddPrintTask(a, b); }
    bool OnAddPrintTaskResult(__SCLOUD_TASK_RESULT* p) override { Event("OnAddPrintTaskResult"); return onAddPrintTaskResult ? onAddPrintTaskResult(p) : true; }
    void OnGetTaskListInfo(__SCLOUD_GET_TASK_LIST_INFO* a, __SCLOUD_GET_TASK_LIST_INFO_RESULT* b) override { Event("OnGetTaskListInfo"); if (onGetTaskListInfo) onGetTaskListInfo(a, b); }
    bool OnGetTaskListInfoResult(__SCLOUD_GET_TASK_LIST_INFO_RESULT* p) override { Event("OnGetTaskListInfoResult"); return onGetTaskListInfoResult ? onGetTaskListInfoResult(p) : true; }
    void OnClientShowType(__SCLOUD_CLIENT_SHOW_TYPE* a, __SCLOUD_CMD_RESULT* b) override { Event("OnClientShowType"); if (onClientShowType) onClientShowType(a, b); }
    bool OnClientShowTypeResult(__SCLOUD_CMD_RESULT* p) override { Event("OnClientShowTypeResult"); return onClientShowTypeResult ? onClientShowTypeResult(p) : true; }
    void OnSetTaskParam(__SCLOUD_SET_TASK_PARAM* a, __SCLOUD_TASK_RESULT* b) override { Event("OnSetTaskParam"); if (onSetTaskParam) onSetTaskParam(a, b); }
    bool OnSetTaskParamResult(__SCLOUD_TASK_RESULT* p) override { Event("OnSetTaskParamResult"); return onSetTaskParamResult ? onSetTaskParamResult(p) : true; }

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
