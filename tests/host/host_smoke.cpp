// A host built only from the public header and the shipped library: create,
// init against the fake transport, send, release.
#include <IOrlin.h>

#include <stdio.h>
#include <string.h>

class QuietOwner : public IOrlinOwner
{
public:
    int logs = 0;
    void OnLog(const char*) override { ++logs; }
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

int main()
{
    QuietOwner owner;
    IOrlin* p = NewInterface();
    if (!p) {
        fprintf(stderr, "NewInterface returned null\n");
        return 1;
    }
    const int init = p->Init(&owner, "127.0.0.1", 1883, 0, 0);
    const char text[] = "hello";
    const int sent = p->SendData("peer", text, static_cast<int>(strlen(text)), 3000);
    ReleaseInterface(p);
    ReleaseInterface(nullptr);
    printf("init=%d send=%d logs=%d\n", init, sent, owner.logs);
    return init == 0 && sent == 0 && owner.logs > 0 ? 0 : 1;
}
