// Init, Exit and ReleaseInterface, 1000 times over: every transport client
// and factory is given back, and memory stays flat. Leaks proper are left to
// the address sanitizer's leak check (scripts/sanitize.sh) or to
// valgrind --leak-check=full, which watch this program.
#include "FakeWyln.h"
#include "RecordingOwner.h"
#include "session/Orlin.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

// Sanitizers hold freed memory back, so RSS says nothing under them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#  define ORLIN_SANITIZED 1
#elif defined(__has_feature)
#  if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#    define ORLIN_SANITIZED 1
#  endif
#endif

namespace {

long RssKiB()
{
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

} // namespace

TEST(Lifecycle, InitExitRelease1000Times)
{
    RecordingOwner owner;
    long rssAfterWarmUp = 0;
    for (int i = 0; i < 1000; ++i) {
        fakewyln::Reset();
        IOrlin* p = NewInterface();
        ASSERT_NE(nullptr, p);
        ASSERT_EQ(0, p->Init(&owner, "127.0.0.1", 1883, 7, i % 2));
        // A second Init releases what the first made; Exit then releases
        // the second; ReleaseInterface exits again (nothing left) and deletes.
        ASSERT_EQ(0, p->Init(&owner, "127.0.0.1", 1883, 7, 0));
        static_cast<Orlin*>(p)->Exit();
        ReleaseInterface(p);

        const auto& s = fakewyln::GetState();
        ASSERT_EQ(2u, fakewyln::Calls("NewInterface").size()) << "round " << i;
        ASSERT_EQ(2, s.releaseCount) << "round " << i;
        ASSERT_EQ(fakewyln::Calls("CreateClient").size(), static_cast<size_t>(s.destroyCount)) << "round " << i;
        owner.Clear();
        if (i == 99)
            rssAfterWarmUp = RssKiB();
    }
    const long rss = RssKiB();
    printf("RSS after 100 rounds: %ld KiB, after 1000: %ld KiB\n", rssAfterWarmUp, rss);
#ifndef ORLIN_SANITIZED
    EXPECT_LT(rss - rssAfterWarmUp, 4096) << "memory grows with every session";
#endif
}
