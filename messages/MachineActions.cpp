#include "messages/MachineActions.h"

#include "transport/WylnOwner.h"
#include "wire/JsonRead.h"
#include "wire/Keys.h"

namespace orlin {

__SCLOUD_MOTOR_RUN ReadMotorRun(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    __SCLOUD_MOTOR_RUN cmd = {};
    cmd.iDir = 1;
    cmd.fSpeed = 1.0f;
    cmd.fAccLen = 1.0f;
    QJsonObject rec;
    if (!DataObject(body, rec))
        return cmd;
    cmd.sVer = VersionToShort(hdr.qsVersion);
    ReadInt(rec, key::Motor, cmd.iMotor);
    ReadInt(rec, key::Dir, cmd.iDir);
    ReadFloat(rec, key::RunLen, cmd.fRunLen);
    ReadFloat(rec, key::Speed, cmd.fSpeed);
    ReadFloat(rec, key::AccLen, cmd.fAccLen);
    ReadInt(rec, key::RunType, cmd.iRunType);
    // "iRunType" is a float on the wire, unlike "run_type".
    ReadFloat(rec, key::IRunType, cmd.fIRunType);
    return cmd;
}

__SCLOUD_CLEAN ReadClean(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    __SCLOUD_CLEAN cmd = {};
    cmd.iHeadNum = -1;
    QJsonObject rec;
    if (FirstDataRecord(body, rec)) {
        cmd.sVer = VersionToShort(hdr.qsVersion);
        ReadInt(rec, key::Type, cmd.iType);
        ReadInt(rec, key::HeadNum, cmd.iHeadNum);
    }
    return cmd;
}

__SCLOUD_LOAD_INK ReadLoadInk(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    __SCLOUD_LOAD_INK cmd = {};
    cmd.iHeadNum = -1;
    QJsonObject rec;
    if (FirstDataRecord(body, rec)) {
        cmd.sVer = VersionToShort(hdr.qsVersion);
        ReadInt(rec, key::HeadNum, cmd.iHeadNum);
    }
    return cmd;
}

__SCLOUD_RUN_MACHINE ReadRunMachine(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    __SCLOUD_RUN_MACHINE cmd = {};
    QJsonObject rec;
    if (FirstDataRecord(body, rec)) {
        cmd.sVer = VersionToShort(hdr.qsVersion);
        ReadInt(rec, key::Type, cmd.iType);
    }
    return cmd;
}

bool ReadSig(const QJsonObject& body, const SCloudMsgHeader& hdr, __SCLOUD_SIG& cmd)
{
    QJsonObject rec;
    if (!DataObject(body, rec))
        return false;
    cmd.sVer = VersionToShort(hdr.qsVersion);
    ReadInt(rec, key::SigType, cmd.iSigType);
    return true;
}

} // namespace orlin

using namespace orlin;

namespace {

// Four actions always reach the host, whatever the data, and their
// callbacks return nothing to answer with.
template <typename Cmd>
int Notify(IOrlinOwner* pOwner, Cmd cmd, void (IOrlinOwner::*pfnCallback)(Cmd*))
{
    (pOwner->*pfnCallback)(&cmd);
    return ResultOk;
}

} // namespace

int CWylnOwner::HandleMotorRun(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    return Notify(m_pOwner, ReadMotorRun(body, hdr), &IOrlinOwner::OnMotorRun);
}

int CWylnOwner::HandleClean(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    return Notify(m_pOwner, ReadClean(body, hdr), &IOrlinOwner::OnClean);
}

int CWylnOwner::HandleLoadInk(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    return Notify(m_pOwner, ReadLoadInk(body, hdr), &IOrlinOwner::OnLoadInk);
}

int CWylnOwner::HandleRunMachine(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    return Notify(m_pOwner, ReadRunMachine(body, hdr), &IOrlinOwner::OnRunMachine);
}

int CWylnOwner::HandleSig(const QJsonObject& body, const SCloudMsgHeader& hdr)
{
    __SCLOUD_SIG cmd = {};
    if (!ReadSig(body, hdr, cmd))
        return ResultMissingMember;
    return m_pOwner->OnSig(&cmd) ? ResultOk : ResultRefused;
}
