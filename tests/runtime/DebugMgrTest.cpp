// The debug manager: what errors, asserts and debug messages lead to, the
// handler's answers, and the asserts file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestProcess.h"
#include "TestSupport.h"
#include "kernel/StStringConverter.h"
#include "kernel/VString.h"
#include "runtime/ILoggerBagKeys.h"
#include "runtime/VDebugMgr.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "runtime/VNotificationDebugMessageHandler.h"
#include "runtime/VTask.h"

using namespace qelt;
using qelt::test::RecordingListener;
using qelt::test::TestProcess;

namespace {

// A handler that gives a fixed answer and counts what it was shown.
class AnsweringHandler : public VObject, public IDebugMessageHandler {
public:
    explicit AnsweringHandler(int answer) : fAnswer(answer) {}
    int AssertFailed(VDebugContext&, const char*, const char*, int) override
    {
        ++fAsserts;
        return fAnswer;
    }
    int ErrorThrown(VDebugContext&, VErrorBase* inError) override
    {
        fErrors.push_back(inError->GetError());
        return fAnswer;
    }
    int fAnswer;
    int fAsserts = 0;
    std::vector<VError> fErrors;
};

// The process logger, created for the test with a recording listener.
class DebugMgrTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(TestProcess::Get()->_CreateLogger());
        fLogger = TestProcess::Get()->GetVLogger();
        fLogger->AddLogListener(fListener.Get());
    }

    void TearDown() override
    {
        VDebugMgr::Get()->SetDebugMessageHandler(nullptr);
        VDebugMgr::Get()->SetUseAssertFile(false);
        TestProcess::Get()->_ReleaseLogger();
    }

    // The error codes of the error records logged so far.
    std::vector<VError> LoggedErrors()
    {
        fLogger->Flush();
        std::vector<VError> codes;
        for (const VRefPtr<const VValueBag>& record : fListener->Records()) {
            uint64_t code = 0;
            if (ILoggerBagKeys::error_code.Get(*record, code))
                codes.push_back(static_cast<VError>(code));
        }
        return codes;
    }

    size_t LoggedCount()
    {
        fLogger->Flush();
        return fListener->Records().size();
    }

    static void Throw(VError code) { _ThrowError(code); }

    VLogger* fLogger = nullptr;
    VRefPtr<RecordingListener> fListener = AdoptRef(new RecordingListener);
};

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

TEST_F(DebugMgrTest, AnErrorNoContextSilencesIsLoggedAndNothingElseHappens)
{
    StErrorContextInstaller keep;
    Throw(QeltError(301));
    {
        // Silent and keeping: logged when the context is removed.
        StErrorContextInstaller silent(true, true);
        Throw(QeltError(302));
        EXPECT_EQ(LoggedErrors(), (std::vector<VError>{QeltError(301)}));
    }
    {
        StErrorContextInstaller silentDropping(false, true);
        Throw(QeltError(303));
    }
    {
        StErrorContextInstaller filtering(QeltError(304), 0);
        Throw(QeltError(304));
    }
    EXPECT_EQ(LoggedErrors(), (std::vector<VError>{QeltError(301), QeltError(302)}));
}

TEST_F(DebugMgrTest, ErrorsAreLoggedWhateverTheAssertsFileSwitch)
{
    const std::string folder = test::MakeTempFolder("asserts");
    VDebugMgr::Get()->_SetAssertFilePath(folder + "/Tool_asserts.txt");
    VDebugMgr::Get()->SetUseAssertFile(true);
    StErrorContextInstaller keep;
    Throw(QeltError(308));
    EXPECT_EQ(LoggedErrors(), (std::vector<VError>{QeltError(308)}));
    const std::string text = ReadFile(folder + "/Tool_asserts.txt");
    EXPECT_EQ(text.rfind("Vq log file opened on ", 0), 0u) << text;
    EXPECT_NE(text.find("Error: "), std::string::npos);
    VDebugMgr::Get()->_SetAssertFilePath(std::string());
}

TEST_F(DebugMgrTest, NothingIsReportedInLowLevelModeOrWhileDisabled)
{
    StErrorContextInstaller keep;
    VDebugMgr::Get()->StartLowLevelMode();
    Throw(QeltError(305));
    VDebugMgr::Get()->StopLowLevelMode();
    EXPECT_TRUE(VDebugMgr::Get()->SetMessagesEnabled(false));
    Throw(QeltError(306));
    EXPECT_FALSE(VDebugMgr::Get()->SetMessagesEnabled(true));
    Throw(QeltError(307));
    EXPECT_EQ(LoggedErrors(), (std::vector<VError>{QeltError(307)}));
}

TEST_F(DebugMgrTest, ErrorsContextsHandToTheLoggerEveryErrorTheyHold)
{
    VErrorContext context;
    VRefPtr<VErrorBase> first = AdoptRef(new VErrorBase(QeltError(310)));
    VRefPtr<VErrorBase> second = AdoptRef(new VErrorBase(QeltError(311)));
    context.PushError(first.Get());
    context.PushError(second.Get());
    context.SendErrorsToLogger();
    EXPECT_EQ(LoggedErrors(), (std::vector<VError>{QeltError(310), QeltError(311)}));
}

TEST_F(DebugMgrTest, AnErrorCodeIgnoredByTheHandlerIsNeitherLoggedNorShownAgain)
{
    VRefPtr<AnsweringHandler> handler = AdoptRef(new AnsweringHandler(eDebugIgnoreThis));
    VDebugMgr::Get()->SetDebugMessageHandler(handler.Get());
    StErrorContextInstaller keep;
    Throw(QeltError(320));
    Throw(QeltError(320));
    Throw(QeltError(321));
    EXPECT_EQ(handler->fErrors, (std::vector<VError>{QeltError(320), QeltError(321)}));
    EXPECT_EQ(LoggedErrors(), (std::vector<VError>{QeltError(320), QeltError(321)}));
}

TEST_F(DebugMgrTest, AssertsIgnoredAllTogetherReachNoFileLoggerOrHandler)
{
    fLogger->WithAssert(true);
    VRefPtr<AnsweringHandler> handler = AdoptRef(new AnsweringHandler(eDebugIgnoreAll));
    VDebugMgr::Get()->SetDebugMessageHandler(handler.Get());
    EXPECT_FALSE(VDebugMgr::Get()->AssertFailed("a == b", "/src/alpha", 12));
    EXPECT_EQ(handler->fAsserts, 1);
    EXPECT_EQ(LoggedCount(), 1u);
    EXPECT_FALSE(VDebugMgr::Get()->SetBreakOnAssert(true));
    EXPECT_FALSE(VDebugMgr::Get()->AssertFailed("c", "beta", 1));
    EXPECT_TRUE(VDebugMgr::Get()->SetBreakOnAssert(false));
    EXPECT_EQ(handler->fAsserts, 1);
    EXPECT_EQ(LoggedCount(), 1u);
}

TEST_F(DebugMgrTest, DebugMessagesAreLoggedAtTheDebugLevelWithoutTheirLastLineFeed)
{
    VDebugMgr::Get()->DebugMsg(VString("hidden\n"));
    fLogger->WithDebug(true);
    VDebugMgr::Get()->DebugMsg(VString("shown\n\n"));
    std::vector<VRefPtr<const VValueBag>> records;
    fLogger->Flush();
    records = fListener->Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(ILoggerBagKeys::level.Get(*records[0]), EML_Debug);
    EXPECT_EQ(to_string(ILoggerBagKeys::message.Get(*records[0])), "shown\n");
}

TEST_F(DebugMgrTest, HandlerAnswersThatEndTheProcessEndItWithStatusOne)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (int answer : {eDebugBreak, eDebugAbort}) {
        SCOPED_TRACE(answer);
        EXPECT_EXIT(
            {
                VRefPtr<AnsweringHandler> handler = AdoptRef(new AnsweringHandler(answer));
                VDebugMgr::Get()->SetDebugMessageHandler(handler.Get());
                StErrorContextInstaller keep;
                Throw(QeltError(330));
                std::_Exit(0);
            },
            ::testing::ExitedWithCode(1), "");
    }
    EXPECT_EXIT(VDebugMgr::Get()->Abort(), ::testing::ExitedWithCode(1), "");
}

TEST(DebugMgr, AssertsFileLiesBesideTheBundleOrTheExecutable)
{
    struct Case { const char* path; const char* file; };
    const Case cases[] = {
        {"/Apps/Tool.app", "/Apps/Tool_asserts.txt"},
        {"/home/u/.local/tool", "/home/u/.local/tool_asserts.txt"},
        {"/home/u/.hidden", "/home/u/.hidden_asserts.txt"},
        {"/a.b/c.d.app", "/a.b/c.d_asserts.txt"},
        {"tool.bin", "tool_asserts.txt"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VDebugMgr::BuildAssertFilePath(c.path), c.file) << c.path;
    EXPECT_EQ(VDebugMgr::BuildAssertFilePath("/" + std::string(4090, 'x')), "");
}

TEST(DebugMgr, AssertsFileRotatesOnceItHoldsMoreThanTenMebibytes)
{
    const std::string folder = test::MakeTempFolder("rotation");
    const std::string path = folder + "/Tool_asserts.txt";
    VDebugMgr* manager = VDebugMgr::Get();
    manager->_SetAssertFilePath(path);

    manager->WriteToAssertFile(VString("first\n"), false, false);
    EXPECT_EQ(ReadFile(path).rfind("Vq log file opened on ", 0), 0u);

    // Exactly 10 MiB: appended to.
    ASSERT_EQ(::truncate(path.c_str(), 10485760), 0);
    manager->WriteToAssertFile(VString("second\n"), true, false);
    struct stat info;
    ASSERT_EQ(::stat((path + "0").c_str(), &info), -1);
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_GT(info.st_size, 10485760);

    // One byte more: moved aside before the next entry.
    manager->WriteToAssertFile(VString("third\n"), false, true);
    ASSERT_EQ(::stat((path + "0").c_str(), &info), 0);
    const std::string fresh = ReadFile(path);
    EXPECT_EQ(fresh.rfind("2 nth log opened on ", 0), 0u) << fresh;
    EXPECT_NE(fresh.find("third\n"), std::string::npos);
    manager->_SetAssertFilePath(std::string());
}

TEST(DebugMgr, SwitchesAnswerTheirPreviousValue)
{
    VDebugMgr* manager = VDebugMgr::Get();
    EXPECT_FALSE(manager->SetBreakOnAssert(true));
    EXPECT_TRUE(manager->SetBreakOnAssert(false));
    EXPECT_FALSE(manager->SetLogInDebugger(true));
    EXPECT_TRUE(manager->SetLogInDebugger(false));
    VDebuggerType type = eDebuggerNone;
    EXPECT_TRUE(manager->_GetDebuggerType(&type));
    EXPECT_EQ(type, eDebuggerSystem);
}

TEST(DebugMgr, NotificationAnswersTranslateToHandlerAnswers)
{
    struct Case { VSystem::ENotificationResponse response; int answer; };
    const Case cases[] = {
        {VSystem::eNotificationAbort, eDebugBreak},      {VSystem::eNotificationRetry, eDebugGoOn},
        {VSystem::eNotificationIgnore, eDebugIgnoreThis}, {VSystem::eNotificationDismissed, eDebugIgnoreThis},
        {VSystem::eNotificationNone, eDebugIgnoreThis},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VNotificationDebugMessageHandler::_TranslateNotificationResponse(c.response), c.answer)
            << c.response;

    // A quiet task is asked nothing.
    VRefPtr<VNotificationDebugMessageHandler> handler = AdoptRef(new VNotificationDebugMessageHandler);
    VDebugContext quiet;
    quiet.SetQuiet(true);
    EXPECT_EQ(handler->AssertFailed(quiet, "c", "f", 1), eDebugGoOn);
}
