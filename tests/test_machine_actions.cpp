// Machine actions: defaults against absent and unusable values, record
// shapes, the refusals of "sig", and that none of them answers or logs.
#include "ReplyText.h"
#include "Session.h"

#include <tuple>
#include <vector>

using testsupport::Command;
using testsupport::JsonValue;

namespace {

QJsonValue Data(const char* text)
{
    return text ? JsonValue(text) : QJsonValue(QJsonValue::Undefined);
}

typedef std::tuple<int, int, int, float, float, float, int, float> MotorFields;

MotorFields Fields(const __SCLOUD_MOTOR_RUN& m)
{
    return MotorFields(m.sVer, m.iMotor, m.iDir, m.fRunLen, m.fSpeed, m.fAccLen, m.iRunType, m.fIRunType);
}

} // namespace

TEST_F(SessionTest, MotorRunReadsAnObjectAndKeepsDefaultsOtherwise)
{
    const struct {
        const char* data;     // nullptr: no "data" key
        const char* version;
        MotorFields expected; // sVer, motor, dir, run_len, speed, acc_len, run_type, iRunType
    } rows[] = {
        {"{\"speed\":2.5}", "7", MotorFields(7, 0, 1, 0.0f, 2.5f, 1.0f, 0, 0.0f)},
        {"{}", "7", MotorFields(7, 0, 1, 0.0f, 1.0f, 1.0f, 0, 0.0f)},
        {"{\"motor\":3,\"dir\":-1,\"run_len\":12.25,\"speed\":0.1,\"acc_len\":4,\"run_type\":2,\"iRunType\":2.75}", "2",
         MotorFields(2, 3, -1, 12.25f, 0.1f, 4.0f, 2, 2.75f)},
        // present but unusable: 0, not the default
        {"{\"dir\":\"1\",\"speed\":null,\"acc_len\":true}", "1", MotorFields(1, 0, 0, 0.0f, 0.0f, 0.0f, 0, 0.0f)},
        {"{\"run_type\":2.75,\"motor\":1e12}", "1", MotorFields(1, 0, 1, 0.0f, 1.0f, 1.0f, 0, 0.0f)},
        {"{\"speed\":1e300}", "1", MotorFields(1, 0, 1, 0.0f, std::numeric_limits<float>::infinity(), 1.0f, 0, 0.0f)},
        // not an object: defaults and sVer 0
        {"[{\"speed\":2.5,\"dir\":0}]", "7", MotorFields(0, 0, 1, 0.0f, 1.0f, 1.0f, 0, 0.0f)},
        {"null", "7", MotorFields(0, 0, 1, 0.0f, 1.0f, 1.0f, 0, 0.0f)},
        {nullptr, "7", MotorFields(0, 0, 1, 0.0f, 1.0f, 1.0f, 0, 0.0f)},
        // version text that is not a decimal whole number
        {"{}", "1.0", MotorFields(0, 0, 1, 0.0f, 1.0f, 1.0f, 0, 0.0f)},
        {"{}", "65537", MotorFields(1, 0, 1, 0.0f, 1.0f, 1.0f, 0, 0.0f)},
    };
    InitSession();
    for (const auto& r : rows) {
        owner.Clear();
        std::vector<MotorFields> got;
        owner.onMotorRun = [&](__SCLOUD_MOTOR_RUN* p) { got.push_back(Fields(*p)); };
        Deliver(Command(0, "motor_run", Data(r.data), QString::fromUtf8(r.version)));
        ASSERT_EQ(1u, got.size()) << (r.data ? r.data : "<none>");
        EXPECT_EQ(r.expected, got[0]) << (r.data ? r.data : "<none>") << " v" << r.version;
        EXPECT_TRUE(owner.Logs().empty());
    }
    EXPECT_TRUE(Replies().empty());
}

// clean, load_ink, run_machine and sig, each seen as its fields in order
// (sVer first), plus the router's log line for a non-zero result.
TEST_F(SessionTest, SmallActionsRecordShapesDefaultsAndRefusals)
{
    const struct {
        const char* func;
        const char* data;
        const char* version;
        bool sigAnswer;
        std::vector<int> fields;  // empty: the host is not called
        const char* log;          // nullptr: no log line
    } rows[] = {
        {"clean", "[{\"type\":1,\"head_num\":3},{\"type\":2}]", "4", true, {4, 1, 3}, nullptr},
        {"clean", "[]", "4", true, {0, 0, -1}, nullptr},
        {"clean", nullptr, "4", true, {4, 0, -1}, nullptr},
        {"clean", "[5]", "4", true, {4, 0, -1}, nullptr},
        {"clean", "{\"head_num\":\"3\",\"type\":0.5}", "4", true, {4, 0, 0}, nullptr},
        {"load_ink", "{}", "9", true, {9, -1}, nullptr},
        {"load_ink", "[{\"head_num\":2}]", "9", true, {9, 2}, nullptr},
        {"load_ink", "[]", "9", true, {0, -1}, nullptr},
        {"load_ink", "{\"head_num\":null}", "9", true, {9, 0}, nullptr},
        {"run_machine", "{\"type\":3}", "x", true, {0, 3}, nullptr},
        {"run_machine", "[{\"type\":3},{\"type\":4}]", "2", true, {2, 3}, nullptr},
        {"run_machine", "\"go\"", "2", true, {2, 0}, nullptr},
        {"sig", "{\"sig_type\":6}", "3", true, {3, 6}, nullptr},
        {"sig", "{}", "3", true, {3, 0}, nullptr},
        {"sig", "{\"sig_type\":6}", "3", false, {3, 6}, "Recv json data handle fail,errcode=35"},
        {"sig", "[{\"sig_type\":1}]", "3", true, {}, "Recv json data handle fail,errcode=28"},
        {"sig", nullptr, "3", true, {}, "Recv json data handle fail,errcode=28"},
        {"sig", "1", "3", true, {}, "Recv json data handle fail,errcode=28"},
    };
    InitSession();
    for (const auto& r : rows) {
        owner.Clear();
        std::vector<std::vector<int>> got;
        owner.onClean = [&](__SCLOUD_CLEAN* p) { got.push_back({p->sVer, p->iType, p->iHeadNum}); };
        owner.onLoadInk = [&](__SCLOUD_LOAD_INK* p) { got.push_back({p->sVer, p->iHeadNum}); };
        owner.onRunMachine = [&](__SCLOUD_RUN_MACHINE* p) { got.push_back({p->sVer, p->iType}); };
        owner.onSig = [&](__SCLOUD_SIG* p) {
            got.push_back({p->sVer, p->iSigType});
            return r.sigAnswer;
        };
        Deliver(Command(0, r.func, Data(r.data), QString::fromUtf8(r.version)));
        const std::string what = std::string(r.func) + " " + (r.data ? r.data : "<none>");
        if (r.fields.empty()) {
            EXPECT_TRUE(got.empty()) << what;
        } else {
            ASSERT_EQ(1u, got.size()) << what;
            EXPECT_EQ(r.fields, got[0]) << what;
        }
        EXPECT_EQ(r.log ? std::vector<std::string>{r.log} : std::vector<std::string>{}, owner.Logs()) << what;
    }
    EXPECT_TRUE(Replies().empty());
}
