#pragma once

#include "sources/commandhost.h"
#include "words/words.h"

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace sourcestest {

// A source list that keeps its items in a vector and can be told to fail an append.
class FakeList : public sources::SourceList {
public:
    int count() const override { return static_cast<int>(items.size()); }
    std::string text(int index) const override { return items.at(static_cast<size_t>(index - 1)); }
    void append(const std::string& path) override {
        ++appendCalls;
        if (failAppends > 0) {
            --failAppends;
            throw std::runtime_error("append refused");
        }
        items.push_back(path);
    }
    void appendAll(const std::vector<std::string>& paths) override {
        ++appendAllCalls;
        items.insert(items.end(), paths.begin(), paths.end());
    }
    void removeAt(int index) override { items.erase(items.begin() + (index - 1)); }
    void clear() override { items.clear(); }

    std::vector<std::string> items;
    int appendCalls = 0;
    int appendAllCalls = 0;
    int failAppends = 0; // the next this many append() calls throw
};

struct Report {
    std::string description;
    std::string location;
    int line = 0;
};

// The window as the commands see it: records what they show and do, answers dialogs from a
// script.
class FakeHost : public sources::CommandHost,
                 public sources::FolderDialog,
                 public sources::FileOpenDialog {
public:
    // CommandHost
    sources::SourceList& sourceList() override { return list; }
    join::Pointer pointer() const override { return pointerValue; }
    void setPointer(join::Pointer value) override {
        pointerValue = value;
        pointerChanges.push_back(value);
    }
    std::string GetSetting(const std::string& key, const std::string& defaultValue) override {
        settingReads.push_back(key);
        auto it = settings.find(key);
        return it == settings.end() ? defaultValue : it->second;
    }
    sources::FolderDialog& folderDialog() override { return *this; }
    sources::FileOpenDialog& fileOpenDialog() override { return *this; }
    std::string programFolder() const override { return programFolderValue; }

    // WalkHost, MessageSink
    void pumpEvents() override { ++pumps; }
    void showErrorReport(const join::Failure& failure, const std::string& location,
                         int line) override {
        reports.push_back({words::describe(failure), location, line});
    }
    void showMessage(const std::string& text) override { messages.push_back(text); }

    // FolderDialog: answers from `folderAnswers` in turn ("" when none is left).
    std::string BrowseForFolder(const std::string& prompt,
                                const std::string& initialFolder) override {
        folderCalls.push_back({prompt, initialFolder});
        if (failFolderDialog)
            throw std::runtime_error("dialog failed");
        if (folderAnswers.empty())
            return {};
        std::string answer = folderAnswers.front();
        folderAnswers.pop_front();
        return answer;
    }

    // FileOpenDialog: answers `fileAnswer`.
    std::vector<std::string> ShowOpen(const std::string& title,
                                      const std::string& filter) override {
        fileDialogCalls.push_back({title, filter});
        return fileAnswer;
    }

    FakeList list;
    join::Pointer pointerValue = join::Pointer::Default;
    std::vector<join::Pointer> pointerChanges;
    std::map<std::string, std::string> settings;
    std::vector<std::string> settingReads;
    std::vector<std::string> messages;
    std::vector<Report> reports;
    int pumps = 0;
    std::string programFolderValue = "/opt/brimvale";

    struct FolderCall {
        std::string prompt;
        std::string initialFolder;
    };
    std::deque<std::string> folderAnswers;
    std::vector<FolderCall> folderCalls;
    bool failFolderDialog = false;

    struct FileDialogCall {
        std::string title;
        std::string filter;
    };
    std::vector<std::string> fileAnswer;
    std::vector<FileDialogCall> fileDialogCalls;
};

// Joins texts with "\n" for one readable comparison.
inline std::string joined(const std::vector<std::string>& texts) {
    std::string all;
    for (const auto& text : texts)
        all += text + "\n";
    return all;
}

// Runs `work` in a child process as the unprivileged user 65534 and returns what it wrote, or
// nothing when the child could not drop its privileges (then the caller skips). A child that
// fails otherwise gives a text saying so, which no expectation matches.
inline std::optional<std::string> runAsNobody(const std::function<std::string()>& work) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return std::nullopt;
    const pid_t child = ::fork();
    if (child < 0)
        return std::nullopt;
    if (child == 0) {
        ::close(pipeEnds[0]);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0 || ::geteuid() == 0)
            ::_exit(3);
        std::string result;
        try {
            result = work();
        } catch (...) {
            ::_exit(4);
        }
        const char* data = result.data();
        size_t left = result.size();
        while (left > 0) {
            const ssize_t written = ::write(pipeEnds[1], data, left);
            if (written <= 0)
                ::_exit(5);
            data += written;
            left -= static_cast<size_t>(written);
        }
        ::_exit(0);
    }
    ::close(pipeEnds[1]);
    std::string output;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0)
        output.append(buffer, static_cast<size_t>(got));
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 3)
        return std::nullopt;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "child process failed, status " + std::to_string(status);
    return output;
}

} // namespace sourcestest
