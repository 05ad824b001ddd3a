// A simulated printer host: implements IOrlinOwner the way a printer's PC
// software does, on top of the shipped library.
//
// Threads: the library calls the owner on the transport's thread; the
// printer's state sits behind one mutex, the file receiver behind its own. IOrlin operations (status reports,
// task-status updates) run only on the Qt main thread, which called Init;
// work that needs them is queued there with QMetaObject::invokeMethod.
#pragma once

#include "FileReceiver.h"

#include <IOrlin.h>

#include <QFile>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <deque>
#include <mutex>
#include <vector>

namespace sim {

struct PrinterOptions
{
    QString host = "127.0.0.1";
    int port = 1883;
    bool useId = false;        // 7-argument Init
    QString id;                // may be empty: the transport assigns one
    QString applyInfo;
    int clientMode = 0;
    QString filesDir = "printer-files";
    QString logPath = "printer.log";
    int stepMs = 150;          // one print step (a fifth of a copy)
    bool json = false;         // event lines as JSON objects
};

struct Task
{
    int id = 0;
    QString path;
    QString name;
    int copies = 1;
    int mode = 0;
    int status = 0;            // 0 waiting, 1 printing, 2 printed
    double w = 600, h = 400;   // mm
};

struct PrintRecord
{
    QString name;
    int year = 0, month = 0, day = 0;
    float area = 0, len = 0;   // m², m
};

class SimPrinter : public QObject, public IOrlinOwner
{
    Q_OBJECT
public:
    explicit SimPrinter(PrinterOptions o);
    ~SimPrinter() override;

    // Opens the log, creates the files directory, initialises the session.
    // Returns the Init result (or -100 when the log or directory fails).
    int start();
    void shutdown();
    QString sessionId() const { return id_; }

    // IOrlinOwner
    void OnLog(const char* szText) override;
    void OnFreeMemory(void* p) override;
    bool OnRecvPacket(const char* szPeerId, const char* pPayload) override;
    void OnGetClient(__SCLOUD_GET_CLIENT* pList) override;
    bool OnPrint(__SCLOUD_PRINT_TASK* pTask, __SCLOUD_PRINT_RESULT* pResult) override;
    bool OnPrintResult(__SCLOUD_PRINT_RESULT* pResult) override;
    bool OnSig(__SCLOUD_SIG* pCmd) override;
    void OnMotorRun(__SCLOUD_MOTOR_RUN* pCmd) override;
    void OnLoadParam(__SCLOUD_LOAD_PARAM* pCmd, __SCLOUD_LOAD_PARAM_RESULT* pResult) override;
    void OnClean(__SCLOUD_CLEAN* pCmd) override;
    void OnLoadInk(__SCLOUD_LOAD_INK* pCmd) override;
    void OnRunMachine(__SCLOUD_RUN_MACHINE* pCmd) override;
    void OnStatistics(__SCLOUD_STATISTICS* pCmd, __SCLOUD_STATISTICS_RESULT* pResult) override;
    void OnFileTransfer(__SCLOUD_FILE_TRANSFER* pChunk, __SCLOUD_FILE_TRANSFER_RESULT* pResult) override;
    void OnLoadDeviceInfo(__SCLOUD_LOAD_DEVICE_INFO* pCmd, __SCLOUD_LOAD_DEVICE_INFO_RESULT* pResult) override;
    void OnUpgrade(__SCLOUD_UPGRADE* pCmd, __SCLOUD_CMD_RESULT* pResult) override;
    void OnCheckBeforePrint(__SCLOUD_CHECK_BEFORE_PRINT* pCmd, __SCLOUD_CMD_RESULT* pResult) override;
    bool OnReport(__SCLOUD_UPGRADE_REPORT_PARAM* pPeerParam) override;
    void OnConfigWifiInfo(__SCLOUD_CONFIG_WIFI_INFO* pCmd, __SCLOUD_CMD_RESULT* pResult) override;
    void OnAddPrintTask(__SCLOUD_ADD_PRINT_TASK* pCmd, __SCLOUD_TASK_RESULT* pResult) override;
    bool OnAddPrintTaskResult(__SCLOUD_TASK_RESULT* pResult) override;
    void OnGetTaskListInfo(__SCLOUD_GET_TASK_LIST_INFO* pCmd, __SCLOUD_GET_TASK_LIST_INFO_RESULT* pResult) override;
    bool OnGetTaskListInfoResult(__SCLOUD_GET_TASK_LIST_INFO_RESULT* pResult) override;
    void OnClientShowType(__SCLOUD_CLIENT_SHOW_TYPE* pCmd, __SCLOUD_CMD_RESULT* pResult) override;
    bool OnClientShowTypeResult(__SCLOUD_CMD_RESULT* pResult) override;
    void OnSetTaskParam(__SCLOUD_SET_TASK_PARAM* pCmd, __SCLOUD_TASK_RESULT* pResult) override;
    bool OnSetTaskParamResult(__SCLOUD_TASK_RESULT* pResult) override;

    // One event line on stdout (see PrinterEvents.h); the demo reads them.
    void say(const QString& event, const QJsonObject& fields, const QString& text);

private:
    struct Job
    {
        int taskId = 0;        // the printer's own task id
        int key = 0;           // the library's key for the peer's task
        int copies = 1;
        float w = 0, h = 0;
    };

    Task* findTask(int id);
    Task* findTaskByPath(const QString& path);
    int addTask(const QString& path);
    QString resolvePath(const QString& path) const;
    void runNextJob();         // main thread
    void printStep();          // main thread
    void report(int deviceStatus);

    PrinterOptions o_;
    IOrlin* orlin_ = nullptr;
    QString id_;
    QFile log_;
    std::mutex logMutex_;

    std::mutex mutex_;         // everything below
    std::vector<Task> tasks_;
    int nextTaskId_ = 1;
    std::vector<PrintRecord> records_;
    std::deque<Job> jobs_;
    bool printing_ = false;
    Job current_;
    int step_ = 0;             // steps done in the current job
    qint64 jobStartMs_ = 0;
    QTimer timer_;

    FileReceiver files_;       // has its own lock
};

} // namespace sim
