// A host that takes every callback and does nothing: bool callbacks answer
// true, results stay zero. Benchmarks, fuzzers and stress programs derive
// from it and override only what they measure.
#pragma once

#include "IOrlinOwner.h"

class NullOwner : public IOrlinOwner
{
public:
    void OnLog(const char*) override {}
    void OnFreeMemory(void*) override {}
    bool OnRecvPacket(const char*, const char*) override { return true; }
    void OnGetClient(__SCLOUD_GET_CLIENT*) override {}
    bool OnPrint(__SCLOUD_PRINT_TASK*, __SCLOUD_PRINT_RESULT*) override { return true; }
    bool OnPrintResult(__SCLOUD_PRINT_RESULT*) override { return true; }
    bool OnSig(__SCLOUD_SIG*) override { return true; }
    void OnMotorRun(__SCLOUD_MOTOR_RUN*) override {}
    void OnLoadParam(__SCLOUD_LOAD_PARAM*, __SCLOUD_LOAD_PARAM_RESULT*) override {}
    void OnClean(__SCLOUD_CLEAN*) override {}
    void OnLoadInk(__SCLOUD_LOAD_INK*) override {}
    void OnRunMachine(__SCLOUD_RUN_MACHINE*) override {}
    void OnStatistics(__SCLOUD_STATISTICS*, __SCLOUD_STATISTICS_RESULT*) override {}
    void OnFileTransfer(__SCLOUD_FILE_TRANSFER*, __SCLOUD_FILE_TRANSFER_RESULT*) override {}
    void OnLoadDeviceInfo(__SCLOUD_LOAD_DEVICE_INFO*, __SCLOUD_LOAD_DEVICE_INFO_RESULT*) override {}
    void OnUpgrade(__SCLOUD_UPGRADE*, __SCLOUD_CMD_RESULT*) override {}
    void OnCheckBeforePrint(__SCLOUD_CHECK_BEFORE_PRINT*, __SCLOUD_CMD_RESULT*) override {}
    bool OnReport(__SCLOUD_UPGRADE_REPORT_PARAM*) override { return true; }
    void OnConfigWifiInfo(__SCLOUD_CONFIG_WIFI_INFO*, __SCLOUD_CMD_RESULT*) override {}
    void OnAddPrintTask(__SCLOUD_ADD_PRINT_TASK*, __SCLOUD_TASK_RESULT*) override {}
    bool OnAddPrintTaskResult(__SCLOUD_TASK_RESULT*) override { return true; }
    void OnGetTaskListInfo(__SCLOUD_GET_TASK_LIST_INFO*, __SCLOUD_GET_TASK_LIST_INFO_RESULT*) override {}
    bool OnGetTaskListInfoResult(__SCLOUD_GET_TASK_LIST_INFO_RESULT*) override { return true; }
    void OnClientShowType(__SCLOUD_CLIENT_SHOW_TYPE*, __SCLOUD_CMD_RESULT*) override {}
    bool OnClientShowTypeResult(__SCLOUD_CMD_RESULT*) override { return true; }
    void OnSetTaskParam(__SCLOUD_SET_TASK_PARAM*, __SCLOUD_TASK_RESULT*) override {}
    bool OnSetTaskParamResult(__SCLOUD_TASK_RESULT*) override { return true; }
};
