// The smallest useful host: logs in, answers "load_param", reports its
// status, and runs the Qt event loop that carries the heartbeat.
//
//   host_example <broker-host> <port> [seconds]
//
// libwyln.so must be beside the executable or on the library search path.
#include <Orlin.h>  // the session class, with IOrlin

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>

class Host : public IOrlinOwner
{
public:
    // Called on the host's thread and on the transport's thread.
    void OnLog(const char* szText) override { std::fprintf(stderr, "orlin: %s\n", szText); }
    // Arrays we put into result structures come back here.
    void OnFreeMemory(void* p) override { std::free(p); }

    void OnLoadParam(__SCLOUD_LOAD_PARAM*, __SCLOUD_LOAD_PARAM_RESULT* r) override
    {
        r->iSchemeCount = 1;
        r->pSchemes = static_cast<__SCLOUD_PRINT_SCHEME*>(std::calloc(1, sizeof(__SCLOUD_PRINT_SCHEME)));
        std::strcpy(r->pSchemes[0].szPrintSchemeName, "Standard");
        r->pSchemes[0].iPrintSchemeId = 1;
    }
    void OnCheckBeforePrint(__SCLOUD_CHECK_BEFORE_PRINT*, __SCLOUD_CMD_RESULT* r) override
    {
        std::strcpy(r->szMsg, "ready");
    }

    // Everything else: accept and do nothing.
    bool OnRecvPacket(const char*, const char*) override { return true; }
    void OnGetClient(__SCLOUD_GET_CLIENT*) override {}
    bool OnPrint(__SCLOUD_PRINT_TASK*, __SCLOUD_PRINT_RESULT*) override { return false; }
    bool OnPrintResult(__SCLOUD_PRINT_RESULT*) override { return true; }
    bool OnSig(__SCLOUD_SIG*) override { return true; }
    void OnMotorRun(__SCLOUD_MOTOR_RUN*) override {}
    void OnClean(__SCLOUD_CLEAN*) override {}
    void OnLoadInk(__SCLOUD_LOAD_INK*) override {}
    void OnRunMachine(__SCLOUD_RUN_MACHINE*) override {}
    void OnStatistics(__SCLOUD_STATISTICS*, __SCLOUD_STATISTICS_RESULT*) override {}
    void OnFileTransfer(__SCLOUD_FILE_TRANSFER*, __SCLOUD_FILE_TRANSFER_RESULT* r) override { r->iCode = 1; }
    void OnLoadDeviceInfo(__SCLOUD_LOAD_DEVICE_INFO*, __SCLOUD_LOAD_DEVICE_INFO_RESULT*) override {}
    void OnUpgrade(__SCLOUD_UPGRADE*, __SCLOUD_CMD_RESULT* r) override { r->iCode = 1; }
    bool OnReport(__SCLOUD_UPGRADE_REPORT_PARAM*) override { return true; }
    void OnConfigWifiInfo(__SCLOUD_CONFIG_WIFI_INFO*, __SCLOUD_CMD_RESULT*) override {}
    void OnAddPrintTask(__SCLOUD_ADD_PRINT_TASK*, __SCLOUD_TASK_RESULT* r) override { r->iCode = 1; }
    bool OnAddPrintTaskResult(__SCLOUD_TASK_RESULT*) override { return true; }
    void OnGetTaskListInfo(__SCLOUD_GET_TASK_LIST_INFO*, __SCLOUD_GET_TASK_LIST_INFO_RESULT*) override {}
    bool OnGetTaskListInfoResult(__SCLOUD_GET_TASK_LIST_INFO_RESULT*) override { return true; }
    void OnClientShowType(__SCLOUD_CLIENT_SHOW_TYPE*, __SCLOUD_CMD_RESULT*) override {}
    bool OnClientShowTypeResult(__SCLOUD_CMD_RESULT*) override { return true; }
    void OnSetTaskParam(__SCLOUD_SET_TASK_PARAM*, __SCLOUD_TASK_RESULT* r) override { r->iCode = 1; }
    bool OnSetTaskParamResult(__SCLOUD_TASK_RESULT*) override { return true; }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <broker-host> <port> [seconds]\n", argv[0]);
        return 2;
    }
    Host host;
    IOrlin* orlin = NewInterface();
    // NewInterface makes an Orlin; the class has what the interface lacks.
    Orlin* session = static_cast<Orlin*>(orlin);
    char id[260] = {};  // empty: the transport assigns an identifier
    const int rc = orlin->Init(&host, argv[1], std::atoi(argv[2]), 0, "", id, 0);
    if (rc != 0) {
        std::fprintf(stderr, "Init failed: %d\n", rc);
        ReleaseInterface(orlin);
        return 1;
    }
    std::printf("logged in as %s\n", id);

    __SCLOUD_UPGRADE_REPORT_PARAM status;  // idle
    status.iConnectStatus = 1;
    orlin->UpgradeReportParam(&status, 0);

    // Init's thread runs the event loop: the heartbeat timer lives here.
    QTimer::singleShot((argc > 3 ? std::atoi(argv[3]) : 10) * 1000, &app, &QCoreApplication::quit);
    app.exec();
    // Stops the heartbeat and the transport while the host's objects are
    // all still there; ReleaseInterface then only frees the session.
    std::printf("session stopped: %d\n", session->Exit());
    ReleaseInterface(orlin);
    return 0;
}
