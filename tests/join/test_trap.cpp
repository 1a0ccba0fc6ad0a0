#include "join/fs/failure.h"
#include "join/host/trap.h"
#include "words/words.h"

#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <new>
#include <pthread.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

using namespace join;

namespace {

// Records every report instead of showing it.
class RecordingReporter : public ErrorReporter {
public:
    struct Report {
        std::string description;
        std::string location;
        int line;
    };
    void showErrorReport(const Failure& failure, const std::string& location, int line) override {
        reports.push_back({words::describe(failure), location, line});
    }
    std::vector<Report> reports;
};

const std::string Location = "in Brimvale2021/08/31.Form1.PushButton3_Click ";

// The locations users see in the report, as they read.
TEST(ErrorReport, LocationStrings) {
    const struct Row {
        Procedure procedure;
        std::string expected;
    } rows[] = {
        {Procedure::StartUp, "in Brimvale2021/08/31.Form1.Form_Load "},
        {Procedure::BrowseForOutputFolder, "in Brimvale2021/08/31.Form1.PushButton1_Click "},
        {Procedure::StartJoining, "in Brimvale2021/08/31.Form1.PushButton2_Click "},
        {Procedure::AddFolder, "in Brimvale2021/08/31.Form1.PushButton3_Click "},
        {Procedure::ShowHelp, "in Brimvale2021/08/31.Form1.PushButton4_Click "},
        {Procedure::AddFolderTree, "in Brimvale2021/08/31.Form1.PushButton5_Click "},
        {Procedure::LoadSampleFolders, "in Brimvale2021/08/31.Form1.PushButton6_Click "},
        {Procedure::ClearList, "in Brimvale2021/08/31.Form1.PushButton7_Click "},
        {Procedure::LoadListFiles, "in Brimvale2021/08/31.Form1.PushButton10_Click "},
        {Procedure::WalkSubfolders, "in MerotanTitle2021/08/31.AddFolder.GetSubDirectories2016 "},
        {Procedure::StoreOutputFolder, "in Brimvale2021/08/31.Form1.Text2_Change "},
        {Procedure::StorePreserveOption, "in Brimvale2021/08/31.Form1.Option1_Click "},
        {Procedure::StoreFlatOption, "in Brimvale2021/08/31.Form1.Option2_Click "},
        {Procedure::AddDropped, "in Brimvale2021/08/31.Form1.ListView1_DragDrop "},
    };
    for (const Row& row : rows)
        EXPECT_EQ(reportLocation(row.procedure), row.expected) << row.expected;
}

TEST(ErrorReport, TextByteForByte) {
    struct Row {
        std::string description;
        int line;
        std::string expected;
    } rows[] = {
        {"Path not found", 104,
         "Path not found\r\nin Brimvale2021/08/31.Form1.PushButton3_Click at line 104\r\r"
         "Please email screenshot of this message to help@x.example"},
        {"", 100,
         "\r\nin Brimvale2021/08/31.Form1.PushButton3_Click at line 100\r\r"
         "Please email screenshot of this message to help@x.example"},
        {"x", -7,
         "x\r\nin Brimvale2021/08/31.Form1.PushButton3_Click at line -7\r\r"
         "Please email screenshot of this message to help@x.example"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(words::errorReportText(Failure(0, row.description), Location, row.line,
                                         "help@x.example"),
                  row.expected)
            << "line " << row.line;
}

TEST(ErrorReport, DefaultAddressIsTheBuildSetting) {
    const std::string text = words::errorReportText(Failure(0, "d"), Location, 100);
    EXPECT_EQ(text.substr(text.size() - std::string(BRIMVALE_SUPPORT_EMAIL).size()),
              BRIMVALE_SUPPORT_EMAIL);
}

TEST(FailureModel, ErrnoNumbersAndDescriptions) {
    struct Row {
        int error;
        int number;
        std::string description;
    } rows[] = {
        {EACCES, 70, "Permission denied: /x/y"},
        {EPERM, 70, "Permission denied: /x/y"},
        {ENOENT, 76, "Path not found: /x/y"},
        {ENOTDIR, 76, "Not a folder: /x/y"},
        {ENOSPC, 61, "Disk full: /x/y"},
        {EEXIST, 58, "File already exists: /x/y"},
        {EMFILE, 67, "Too many files: /x/y"},
        {ENFILE, 67, "Too many files: /x/y"},
        {EIO, 57, "Device I/O error: /x/y"},
        {EROFS, 75, "Path/File access error: /x/y (Read-only file system)"},
    };
    for (const Row& row : rows) {
        const Failure failure = failureFromErrno(row.error, "/x/y");
        EXPECT_EQ(failure.number(), row.number) << "errno " << row.error;
        EXPECT_EQ(words::describe(failure), row.description) << "errno " << row.error;
    }
    EXPECT_EQ(words::describe(failureFromErrno(EACCES)), "Permission denied");
}

template <class E> Failure failureOf(const E& exception) {
    try {
        throw exception;
    } catch (...) {
        return failureFromCurrentException();
    }
}

TEST(FailureModel, AnyExceptionBecomesAFailure) {
    const Failure own = failureOf(Failure(20476, "too small"));
    EXPECT_EQ(own.number(), 20476);
    EXPECT_EQ(words::describe(own), "too small");

    const Failure fs = failureOf(std::filesystem::filesystem_error(
        "x", "/a/b", std::make_error_code(std::errc::permission_denied)));
    EXPECT_EQ(fs.number(), 70);
    EXPECT_EQ(words::describe(fs), "Permission denied: /a/b");

    EXPECT_EQ(failureOf(std::bad_alloc()).number(), 7);
    EXPECT_EQ(words::describe(failureOf(std::bad_alloc())), "Out of memory");

    const Failure other = failureOf(std::runtime_error("odd thing"));
    EXPECT_EQ(other.number(), 51);
    EXPECT_EQ(words::describe(other), "odd thing");

    const Failure foreign = failureOf(42);
    EXPECT_EQ(foreign.number(), 51);
    EXPECT_EQ(words::describe(foreign), "Unknown error");
}

TEST(Trap, ReportsTheFailingLineAndResumesWithTheNext) {
    RecordingReporter reporter;
    Trap trap(reporter, Location);
    std::vector<int> ran;
    EXPECT_FALSE(trap.line(100, [&] { throw failureFromErrno(ENOENT, "/gone"); }));
    EXPECT_TRUE(trap.line(102, [&] { ran.push_back(102); }));
    EXPECT_FALSE(trap.line(104, [&] {
        ran.push_back(104);
        throw std::runtime_error("second");
        ran.push_back(-1);
    }));
    EXPECT_TRUE(trap.line(106, [&] { ran.push_back(106); }));

    EXPECT_EQ(ran, (std::vector<int>{102, 104, 106}));
    ASSERT_EQ(reporter.reports.size(), 2u) << "one report per failure";
    EXPECT_EQ(reporter.reports[0].description, "Path not found: /gone");
    EXPECT_EQ(reporter.reports[0].location, Location);
    EXPECT_EQ(reporter.reports[0].line, 100);
    EXPECT_EQ(reporter.reports[1].description, "second");
    EXPECT_EQ(reporter.reports[1].line, 104);
    EXPECT_FALSE(trap.ended());
}

TEST(Trap, BranchConditions) {
    RecordingReporter reporter;
    Trap trap(reporter, Location);
    EXPECT_TRUE(trap.test(100, [] { return true; }));
    EXPECT_FALSE(trap.test(102, [] { return false; }));
    EXPECT_TRUE(trap.test(104, []() -> bool { throw std::runtime_error("bad condition"); }))
        << "a failing condition lets the guarded branch run";
    ASSERT_EQ(reporter.reports.size(), 1u);
    EXPECT_EQ(reporter.reports[0].line, 104);
}

TEST(Trap, ValuesFallBackAfterTheReport) {
    RecordingReporter reporter;
    Trap trap(reporter, Location);
    EXPECT_EQ(trap.value<int>(100, [] { return 5; }), 5);
    EXPECT_EQ(trap.value<int>(
                  102, []() -> int { throw std::bad_alloc(); }, -1),
              -1);
    EXPECT_EQ(trap.value<std::string>(104, [] { return std::string("ok"); }), "ok");
    ASSERT_EQ(reporter.reports.size(), 1u);
    EXPECT_EQ(reporter.reports[0].description, "Out of memory");
    EXPECT_EQ(reporter.reports[0].line, 102);
}

TEST(Trap, HandledNumberEndsTheProcedureWithoutReport) {
    RecordingReporter reporter;
    Trap trap(reporter, Procedure::LoadListFiles);
    int handled = 0;
    trap.handleNumber(ErrorNumber::FileDialogBufferTooSmall, [&] { ++handled; });

    EXPECT_FALSE(trap.line(100, [] { throw Failure(ErrorNumber::PathNotFound, "other"); }));
    EXPECT_EQ(reporter.reports.size(), 1u) << "other numbers still get the report";
    EXPECT_FALSE(trap.ended());

    EXPECT_FALSE(trap.line(102, [] { throw Failure(ErrorNumber::FileDialogBufferTooSmall, ""); }));
    EXPECT_EQ(handled, 1);
    EXPECT_TRUE(trap.ended());

    bool ranAfterEnd = false;
    EXPECT_FALSE(trap.line(104, [&] { ranAfterEnd = true; }));
    EXPECT_FALSE(trap.test(106, [&] { return ranAfterEnd = true; }));
    EXPECT_FALSE(ranAfterEnd);
    EXPECT_EQ(reporter.reports.size(), 1u) << "no report for the handled number";
}

TEST(Trap, HandledNumberInAConditionEndsTheProcedure) {
    RecordingReporter reporter;
    Trap trap(reporter, Location);
    trap.handleNumber(ErrorNumber::FileDialogBufferTooSmall, [] {});
    EXPECT_FALSE(
        trap.test(100, []() -> bool { throw Failure(ErrorNumber::FileDialogBufferTooSmall, ""); }));
    EXPECT_TRUE(trap.ended());
    EXPECT_TRUE(reporter.reports.empty());
}

void* cancelledWorker(void* argument) {
    auto* reporter = static_cast<RecordingReporter*>(argument);
    Trap trap(*reporter, Location);
    trap.line(100, [] {
        for (;;)
            ::pause(); // a cancellation point
    });
    trap.line(102, [] {});
    return nullptr;
}

TEST(Trap, LetsThreadCancellationUnwind) {
    RecordingReporter reporter;
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, nullptr, &cancelledWorker, &reporter), 0);
    ASSERT_EQ(pthread_cancel(thread), 0);
    void* result = nullptr;
    ASSERT_EQ(pthread_join(thread, &result), 0);
    EXPECT_EQ(result, PTHREAD_CANCELED);
    EXPECT_TRUE(reporter.reports.empty());
}

} // namespace
