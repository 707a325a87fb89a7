// The file logger: lines written from the process logger's records into the
// split log file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TestProcess.h"
#include "TestSupport.h"
#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "kernel/StStringConverter.h"
#include "kernel/VString.h"
#include "runtime/ILoggerBagKeys.h"
#include "runtime/VErrorBase.h"
#include "runtime/VLog4jMsgFileLogger.h"
#include "runtime/VTask.h"

using namespace qelt;
using qelt::test::TestProcess;

namespace {

VFolder FolderPath(const std::string& posix)
{
    return VFolder(VFilePath(VString((posix + "/").c_str()), FPS_POSIX));
}

std::string Part(const std::string& folder, int number)
{
    return folder + "/log_" + std::to_string(number) + ".txt";
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& path)
{
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(path));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// What follows the time in a line: "[name] LEVEL - message".
std::string Tail(const std::string& line)
{
    const size_t bracket = line.find(" [");
    return bracket == std::string::npos ? line : line.substr(bracket + 1);
}

// The process logger exists for each test and is gone afterwards.
class FileLoggerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(TestProcess::Get()->_CreateLogger());
        fLogger = TestProcess::Get()->GetVLogger();
        fFolder = test::MakeTempFolder("filelogger");
    }

    void TearDown() override { TestProcess::Get()->_ReleaseLogger(); }

    // One record through the process logger, written by the file logger.
    VRefPtr<VValueBag> Record(const char* message)
    {
        VRefPtr<VValueBag> record = AdoptRef(new VValueBag);
        ILoggerBagKeys::message.Set(*record, VString(message));
        return record;
    }

    VLogger* fLogger = nullptr;
    std::string fFolder;
};

}  // namespace

TEST_F(FileLoggerTest, StartAppendsToTheLastPartOfTheRunFromPartOne)
{
    struct Case { std::vector<int> parts; int appendedTo; };
    const Case cases[] = {{{1, 2}, 2}, {{1, 3}, 1}, {{}, 1}, {{2}, 1}};
    for (const Case& c : cases) {
        const std::string folder = test::MakeTempFolder("start");
        for (int part : c.parts)
            std::ofstream(Part(folder, part)) << "old\n";
        VLog4jMsgFileLogger logger(FolderPath(folder), VString("log"));
        logger.Start();
        ASSERT_TRUE(logger.IsStarted());
        EXPECT_TRUE(logger._IsStarted());
        logger.GetListener()->Log(VString("S"), EML_Info, VString("hello"));
        logger.Stop();
        EXPECT_FALSE(logger.IsStarted());
        const std::vector<std::string> lines = Lines(Part(folder, c.appendedTo));
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(Tail(lines.back()), "[S] INFO - hello") << c.appendedTo;
    }
}

TEST_F(FileLoggerTest, StartNeedsAFolderPathAndAName)
{
    VLog4jMsgFileLogger noName(FolderPath(fFolder), VString());
    noName.Start();
    EXPECT_FALSE(noName.IsStarted());
    VLog4jMsgFileLogger noFolder(VFolder(VFilePath()), VString("log"));
    noFolder.Start();
    EXPECT_FALSE(noFolder.IsStarted());
    EXPECT_EQ(noFolder.GetLogMaxNumberToKeep(), 0);
}

TEST_F(FileLoggerTest, LinesCarryNumberTimeNameLevelMessageAndAttributes)
{
    VLog4jMsgFileLogger logger(FolderPath(fFolder), VString("log"));
    logger.Start();
    EXPECT_EQ(logger.GetLogMaxNumberToKeep(), 50);

    VRefPtr<VValueBag> named = Record("M");
    ILoggerBagKeys::source.Set(*named, VString("S"));
    ILoggerBagKeys::component_signature.Set(*named, FourCC("VqUP"));
    VRefPtr<VValueBag> emptySource = Record("N");
    ILoggerBagKeys::source.Set(*emptySource, VString());
    ILoggerBagKeys::component_signature.Set(*emptySource, FourCC("VqUP"));
    VRefPtr<VValueBag> attributes = Record("two\nlines\r\nhere");
    ILoggerBagKeys::source.Set(*attributes, VString("S"));
    ILoggerBagKeys::jobId.Set(*attributes, VString("J"));
    ILoggerBagKeys::stack_crawl.Set(*attributes, VString("a\nb"));
    attributes->SetAttribute(StPackedDictionaryKey("custom"), VString("c"));
    VRefPtr<VValueBag> debug = Record("debug");
    ILoggerBagKeys::level.Set(*debug, EML_Debug);
    fLogger->WithDebug(true);

    for (VValueBag* record : {named.Get(), emptySource.Get(), attributes.Get(), debug.Get()})
        fLogger->LogBag(record);
    logger.Stop();

    const std::vector<std::string> lines = Lines(Part(fFolder, 1));
    ASSERT_EQ(lines.size(), 3u);
    const std::regex head(R"(^[1-9][0-9]* \d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} \[.*$)");
    for (const std::string& line : lines)
        EXPECT_TRUE(std::regex_match(line, head)) << line;
    EXPECT_EQ(Tail(lines[0]), "[S.VqUP] INFO - M ()");
    EXPECT_EQ(Tail(lines[1]), "[VqUP] INFO - N ()");
    EXPECT_EQ(Tail(lines[2]), "[S] INFO - two ; lines ; here (jobId=J, stackCrawl=a ; b, custom=c)");
    // Numbers rise from line to line.
    EXPECT_LT(std::stoull(lines[0]), std::stoull(lines[1]));
}

TEST_F(FileLoggerTest, ErrorRecordsNameTheComponentAndCarryCodeAndTask)
{
    VRefPtr<VErrorBase> error = AdoptRef(new VErrorBase(QeltError(101)));
    {
        VRefPtr<VValueBag> saved = AdoptRef(new VValueBag);
        error->SaveToBag(*saved);
        ILoggerBagKeys::task_id.Set(*saved, 7);
        ILoggerBagKeys::task_name.Set(*saved, VString("T"));
        error->LoadFromBag(*saved);
    }
    VRefPtr<VValueBag> properties = AdoptRef(new VValueBag);
    ILoggerBagKeys::source.Set(*properties, VString("S"));
    VTask::GetCurrent()->SetProperties(properties.Get());

    VLog4jMsgFileLogger logger(FolderPath(fFolder), VString("log"));
    logger.Start();
    fLogger->LogErrorIfNecessary(error.Get());
    logger.Stop();
    VTask::GetCurrent()->SetProperties(nullptr);

    VString description;
    error->GetErrorDescription(description);
    const std::vector<std::string> lines = Lines(Part(fFolder, 1));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(Tail(lines[0]), "[S.qelt] ERROR - [101] " + to_string(description) + " (task=7, taskName=T)");
}

TEST_F(FileLoggerTest, ALoneCarriageReturnNeverReachesTheFileRaw)
{
    struct Case {
        const char* message;
        const char* written;
    };
    const Case cases[] = {{"a\rb", "a ; b"},      {"c\r", "c ; "},          {"\r", " ; "},
                          {"d\r\re", "d ;  ; e"}, {"f\n\rg", "f ;  ; g"}, {"h\r\ni\rj", "h ; i ; j"}};
    VLog4jMsgFileLogger logger(FolderPath(fFolder), VString("log"));
    logger.Start();
    // Each message twice: as a record of the process logger and given
    // straight to the listener as UTF-8.
    for (const Case& c : cases) {
        VRefPtr<VValueBag> record = Record(c.message);
        ILoggerBagKeys::source.Set(*record, VString("S\rT"));
        fLogger->LogBag(record.Get());
        logger.GetListener()->Log("S\rT", EML_Info, c.message);
    }
    logger.Stop();

    EXPECT_EQ(ReadFile(Part(fFolder, 1)).find('\r'), std::string::npos);
    const std::vector<std::string> lines = Lines(Part(fFolder, 1));
    EXPECT_EQ(lines.size(), 2 * std::size(cases));
    for (const Case& c : cases) {
        // The records are written by the logger's task, the direct lines at
        // once: the order between the two is not fixed.
        const std::string expected = std::string("[S ; T] INFO - ") + c.written;
        int found = 0;
        for (const std::string& line : lines)
            found += Tail(line) == expected || Tail(line) == expected + " ()" ? 1 : 0;
        EXPECT_EQ(found, 2) << expected;
    }
}

TEST_F(FileLoggerTest, LongLinesAreWrittenWhole)
{
    VLog4jMsgFileLogger logger(FolderPath(fFolder), VString("log"));
    logger.Start();
    const std::string longText(3000, 'x');
    logger.GetListener()->Log("S", EML_Error, longText.c_str());
    logger.GetListener()->Log("S", EML_Error, "short");
    logger.Stop();
    const std::vector<std::string> lines = Lines(Part(fFolder, 1));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Tail(lines[0]), std::string("[S] ERROR - ").append(longText));
    EXPECT_EQ(Tail(lines[1]), "[S] ERROR - short");
}

TEST_F(FileLoggerTest, PausedLoggersDropWhatTheyAreGiven)
{
    VLog4jMsgFileLogger logger(FolderPath(fFolder), VString("log"));
    logger.Start();
    logger.Pause();
    EXPECT_TRUE(logger.IsPaused());
    fLogger->LogBag(Record("dropped").Get());
    fLogger->Flush();
    logger.Resume();
    fLogger->LogBag(Record("kept").Get());
    logger.Stop();
    const std::vector<std::string> lines = Lines(Part(fFolder, 1));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("kept"), std::string::npos);
}

TEST_F(FileLoggerTest, StartingAndStoppingWhileAnotherTaskLogsNeitherBlocksNorLosesFlushedLines)
{
    VLog4jMsgFileLogger logger(FolderPath(fFolder), VString("log"));
    std::atomic<bool> done{false};
    std::thread writer([&]() {
        for (int i = 0; !done.load(); ++i) {
            VString text;
            text.Printf("w%d", i);
            fLogger->LogMessage(EML_Info, text, VString("W"));
            if (i % 50 == 0)
                fLogger->Flush();
        }
    });
    for (int round = 0; round < 20; ++round) {
        logger.Start();
        VString text;
        text.Printf("round %d", round);
        fLogger->LogMessage(EML_Warning, text, VString("M"));
        fLogger->Flush();
        logger.Stop();
    }
    done.store(true);
    writer.join();
    const std::string text = ReadFile(Part(fFolder, 1));
    for (int round = 0; round < 20; ++round) {
        const std::string line = std::string("[M] WARN - round ").append(std::to_string(round)).append(" ()\n");
        EXPECT_NE(text.find(line), std::string::npos) << round;
    }
}

TEST(FileLogger, LevelNamesAndUnknownLevels)
{
    const char* names[] = {"DUMP", "TRACE", "ASSERT", "DEBUG", "INFO", "WARN", "ERROR", "FATAL", "INFO"};
    for (int level = 0; level <= 8; ++level)
        EXPECT_STREQ(VLog4jMsgFileLogger::GetMessageLevelName(static_cast<EMessageLevel>(level)), names[level]);
    EXPECT_STREQ(VLog4jMsgFileLogger::GetMessageLevelName(static_cast<EMessageLevel>(-1)), "INFO");
}
