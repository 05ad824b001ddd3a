// Init against a plug-in that lacks an export or whose factory returns null.
#include "Session.h"

namespace {

struct Expected
{
    const char* log;
    int creates;   // CreateClient calls
    int destroys;  // DestroyClient calls after Exit
    int releases;  // ReleaseInterface calls after Exit
};

#if defined(FAKE_WYLN_NO_NEW)
const Expected kCase = {"NewInterface api failed", 0, 0, 0};
#elif defined(FAKE_WYLN_NO_RELEASE)
// The creator and the client already exist; Exit destroys the client but
// cannot release the creator.
const Expected kCase = {"ReleaseInterface api failed", 1, 1, 0};
#else
const Expected kCase = {"m_pWylnCreator new failed", 0, 0, 0};
#endif

} // namespace

TEST_F(SessionTest, BrokenPluginMakesInitReturn12)
{
    EXPECT_EQ(12, session->Init(&owner, "h", 1, 0, 0));
    EXPECT_EQ(1, owner.CountLog(kCase.log));
    EXPECT_EQ(kCase.creates, static_cast<int>(fakewyln::Calls("CreateClient").size()));
    EXPECT_TRUE(fakewyln::Calls("Connect").empty());
    // Nothing may reach a transport that did not finish Init.
    EXPECT_EQ(-1, session->SendData("x", "y", 1, 10));
    session->Exit();
    session->Exit();
    EXPECT_EQ(kCase.destroys, fakewyln::GetState().destroyCount);
    EXPECT_EQ(kCase.releases, fakewyln::GetState().releaseCount);
#if defined(FAKE_WYLN_NO_RELEASE)
    // Without the export the factory cannot be given back: the session
    // forgets it, and the test frees it so the leak check stays meaningful.
    delete OrlinTestAccess::Creator(*session);
#endif
}
