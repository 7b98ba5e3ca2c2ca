#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <string>

#include "platform/system.h"
#include "platform/thread.h"
#include "platform/trace.h"

namespace tavix {
namespace {

TEST(WorkerThreadTest, RunsTheProcedureWithItsArgumentUntilJoined) {
    std::atomic<int> value{0};
    WorkerThread thread;
    ASSERT_EQ(0, thread.Start(
                     [](void* argument) {
                         SleepMs(5);
                         static_cast<std::atomic<int>*>(argument)->store(42,
                                                                         std::memory_order_release);
                     },
                     &value));
    EXPECT_EQ(-1, thread.Start([](void*) {}, nullptr)) << "one thread per object";
    thread.Join();
    EXPECT_EQ(42, value.load(std::memory_order_acquire));
    thread.Join();  // a second join has nothing to wait for
}

TEST(WorkerThreadTest, RefusesAMissingProcedure) {
    WorkerThread thread;
    EXPECT_EQ(-1, thread.Start(nullptr, nullptr));
}

TEST(ClockTest, IsMonotonicAndCountsMilliseconds) {
    int64_t before = MonotonicMs();
    SleepMs(20);
    int64_t after = MonotonicMs();
    EXPECT_GE(after - before, 20);
    EXPECT_LT(after - before, 2000);
}

TEST(LanguageTest, LocaleNamesMapToLanguageIds) {
    struct Case {
        const char* locale;
        int id;
    } cases[] = {
        {"zh_CN.UTF-8", 0x0804}, {"zh_TW.UTF-8", 0x0804},
        {"zh", 0x0804},          {"tr_TR.UTF-8", 0x041F},
        {"tr_TR@euro", 0x041F},  {"en_US.UTF-8", 0x0409},
        {"de_DE", 0x0409},       {"C", 0x0409},
        {"POSIX", 0x0409},       {"", 0x0409},
        {"tra_XX", 0x0409},      {"zhx", 0x0409},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.id, LanguageIdFromLocale(c.locale)) << c.locale;
}

TEST(LanguageTest, LcAllWinsOverLcMessagesWinsOverLang) {
    setenv("LANG", "zh_CN.UTF-8", 1);
    setenv("LC_MESSAGES", "tr_TR.UTF-8", 1);
    setenv("LC_ALL", "", 1);  // empty counts as unset
    EXPECT_EQ(kLanguageTurkish, UiLanguageId());
    setenv("LC_ALL", "C", 1);
    EXPECT_EQ(kLanguageEnglishUs, UiLanguageId());
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    EXPECT_EQ(kLanguageChineseSimplified, UiLanguageId());
    unsetenv("LANG");
    EXPECT_EQ(kLanguageEnglishUs, UiLanguageId());
}

TEST(ModuleFileNameTest, NamesThisTestProgram) {
    std::string name = ModuleFileName();
    ASSERT_FALSE(name.empty());
    EXPECT_EQ('/', name.front());
    EXPECT_NE(std::string::npos, name.find("platform_test"));
}

TEST(TraceTest, ACaptureSeesEachLineExactlyAsFormatted) {
    TraceCapture capture;
    Trace("dataLen = %d\n", 5000);
    Trace("T:%04d--L:%04d\n", 56, 136);
    Trace("%s", std::string(600, 'x').c_str());  // longer than the formatting buffer
    auto lines = capture.Lines();
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("dataLen = 5000\n", lines[0]);
    EXPECT_EQ("T:0056--L:0136\n", lines[1]);
    EXPECT_EQ(std::string(600, 'x'), lines[2]);
}

TEST(TraceTest, OffUnlessAskedForAndTheSystemLogRateLimited) {
    EXPECT_FALSE(TraceWantedBy(nullptr));
    EXPECT_FALSE(TraceWantedBy(""));
    EXPECT_FALSE(TraceWantedBy("0"));
    EXPECT_TRUE(TraceWantedBy("1"));
    // A device sending thousands of small messages a second: the log takes its share a second.
    TraceRateLimit limit;
    int written = 0;
    int dropped = 0;
    for (int i = 0; i < 3000; ++i)
        written += limit.Admit(10000 + i / 3, dropped) ? 1 : 0;  // 1 s of lines
    EXPECT_EQ(kTraceLinesPerSecond, written);
    EXPECT_TRUE(limit.Admit(11000, dropped));
    EXPECT_EQ(3000 - kTraceLinesPerSecond, dropped);
}

TEST(TraceTest, LinesFromManyThreadsAllArrive) {
    TraceCapture capture;
    WorkerThread threads[4];
    for (WorkerThread& thread : threads)
        ASSERT_EQ(0, thread.Start(
                         [](void*) {
                             for (int i = 0; i < 100; ++i)
                                 Trace("HeartBeatres....\n");
                         },
                         nullptr));
    for (WorkerThread& thread : threads)
        thread.Join();
    EXPECT_EQ(400, capture.Count("HeartBeatres....\n"));
}

}  // namespace
}  // namespace tavix
