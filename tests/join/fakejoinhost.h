#pragma once

#include "join/host/host.h"
#include "join/run/runprogress.h"
#include "words/words.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

// A window for the engine: it records everything the engine shows or sets, in order, in the
// window's words, and lets a test act from inside pumpEvents() as a user would while the engine
// yields.
class FakeJoinHost : public join::JoinHost {
public:
    struct Report {
        std::string description;
        std::string location;
        int line;
    };
    // What a copy met on the disk and could not copy: given to a trap of the host's own at
    // `line`, or told by a run for entry `entry`.
    struct Shortfall {
        int entry;
        int line;
        std::string description;
        std::vector<join::NotCopiedItem> items;

        std::vector<std::string> descriptions() const {
            std::vector<std::string> texts;
            for (const auto& item : items)
                texts.push_back(words::describe(item));
            return texts;
        }
    };

    // The source list, the output folder text and the option, as the window would hold them.
    std::vector<std::string> sources;
    std::string output;
    join::CopyOption option = join::CopyOption::PreserveStructure;

    // Runs at every yield, before it is counted; `pumps` is the number of yields so far.
    std::function<void()> onPump;

    int pumps = 0;
    std::vector<std::string> messages;
    std::vector<Report> reports;
    std::vector<Shortfall> shortfalls;
    // How the last run ended, as its closing message was asked for.
    std::optional<join::JoinOutcome> outcome;
    std::vector<join::Pointer> pointers;
    std::vector<int> progressValues;
    std::vector<std::string> progressTexts;
    // Everything shown or set, in order: "pointer 11", "progress 25", "text Processing: a",
    // "message Done.", "report 150", "not copied 160", "not copied in entry 2", "pump".
    std::vector<std::string> events;
    bool recordPumpEvents = false;

    // What the copies waited for did: files copied (or already there), and of them already there.
    std::uint64_t filesCopied = 0;
    std::uint64_t filesAlreadyThere = 0;

    void waitFor(join::BackgroundWork& work) override {
        work.wait();
        filesCopied += work.counters().files.load();
        filesAlreadyThere += work.counters().alreadyThere.load();
    }

    void pumpEvents() override {
        ++pumps;
        if (recordPumpEvents)
            events.push_back("pump");
        if (onPump)
            onPump();
    }

    void showErrorReport(const join::Failure& failure, const std::string& location,
                         int line) override {
        reports.push_back({words::describe(failure), location, line});
        events.push_back("report " + std::to_string(line));
    }

    void notCopied(const join::CopyShortfall& shortfall, const std::string&, int line) override {
        shortfalls.push_back({0, line, words::headline(shortfall), shortfall.items()});
        events.push_back("not copied " + std::to_string(line));
    }

    void entryNotCopied(int entry, const join::CopyShortfall& shortfall) override {
        shortfalls.push_back({entry, 0, words::headline(shortfall), shortfall.items()});
        events.push_back("not copied in entry " + std::to_string(entry));
    }

    void showClosingMessage(const join::JoinOutcome& ended) override {
        outcome = ended;
        showMessage(words::closingMessage(ended));
    }

    void runRefused(join::RunRefusal why) override { showMessage(words::runRefusalText(why)); }
    void copyExists(const std::string& mirrored) override {
        showMessage(words::copyExistsText(mirrored));
    }

    void showMessage(const std::string& text) {
        messages.push_back(text);
        events.push_back("message " + text);
    }

    int sourceCount() const override { return static_cast<int>(sources.size()); }

    std::string sourceText(int index) const override {
        if (index < 1 || index > sourceCount())
            throw std::out_of_range("Index out of bounds");
        return sources[static_cast<std::size_t>(index - 1)];
    }

    std::string outputFolderText() const override { return output; }
    join::CopyOption copyOption() const override { return option; }

    // What the output folder's file system is taken for, where set; else what it is.
    std::function<std::optional<join::TargetFileSystem>(const std::string&)> outputFileSystem;
    std::optional<join::TargetFileSystem>
    unusualOutputFileSystem(const std::string& folder) override {
        return outputFileSystem ? outputFileSystem(folder)
                                : join::JoinHost::unusualOutputFileSystem(folder);
    }

    // A dry run's host withholds the writes; either keeps the record of every file's fate.
    join::Writes writesMode = join::Writes::Made;
    bool recordFates = false;
    join::Writes writes() const override { return writesMode; }
    bool keepsRecord() const override { return recordFates; }

    void setPointer(join::Pointer pointer) override {
        pointers.push_back(pointer);
        events.push_back("pointer " + std::to_string(static_cast<int>(pointer)));
    }

    void setProgressValue(int percent) override {
        progressValues.push_back(percent);
        events.push_back("progress " + std::to_string(percent));
    }

    void setProgressText(const std::string& text) {
        progressTexts.push_back(text);
        events.push_back("text " + text);
    }

    // The bar's text, as the window words it.
    void entryBegins(int entry, int count, const std::string& entryText) override {
        join::RunFigures begun;
        begun.entry = entry;
        begun.entries = count;
        begun.name = join::entryName(entryText);
        setProgressText(words::progressText(begun));
    }
    void showRunProgress(const join::RunFigures& figures) override {
        setProgressValue(figures.percent);
        setProgressText(words::progressText(figures));
    }
    void writesFinishing() override { setProgressText(words::finishingWritesText()); }
    void progressEnded() override { setProgressText(words::idleProgressText()); }

    // The line numbers of all reports, in order.
    std::vector<int> reportLines() const {
        std::vector<int> lines;
        for (const auto& report : reports)
            lines.push_back(report.line);
        return lines;
    }

    // The lines at which the host's own traps were given what could not be copied, in order.
    std::vector<int> shortfallLines() const {
        std::vector<int> lines;
        for (const auto& shortfall : shortfalls)
            lines.push_back(shortfall.line);
        return lines;
    }
};

} // namespace testsupport
