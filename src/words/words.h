#pragma once

#include "join/fs/failure.h"
#include "join/host/host.h"

#include <QLocale>
#include <cstdint>
#include <initializer_list>
#include <string>

// The engine's facts in the user's words, for the window and the terminal alike. Every text is
// UTF-8; paths in it keep their own bytes, quoted where they hold control characters.
namespace words {

// Loads the texts in the user's language (LANGUAGE, LC_ALL, LC_MESSAGES, LANG, as the system
// tells it), English where a text has no translation or the language has no catalogue, and Qt's
// own texts (the buttons of message boxes) in the same language. Once a QCoreApplication exists;
// the first call counts.
void installTranslations();
// The texts of `language` in place of the user's, replacing those installed before: for tests,
// which choose the language they read. Numbers are written as `language` writes them.
void installTranslations(const QLocale& language);
// A text of the program's catalogue in the user's language before a QCoreApplication exists (the
// window's start-up, when no display answers).
std::string translatedBeforeStart(const char* context, const char* text);
// A text of `context`, marked with QT_TRANSLATE_N_NOOP, in the plural form `count` chooses, %n
// in plain digits: "1 file", "2 files". Loads the catalogues first where they are not yet, as
// English needs its own for its plural forms.
std::string pluralText(const char* context, const char* text, std::uint64_t count);

// A text with %1, %2, ... filled in by `args` as they are: paths keep their bytes.
std::string fill(const std::string& text, std::initializer_list<std::string> args);

// "1 problem", "2 other problems": what a run met beside the things it could not copy.
std::string problemsText(std::uint64_t count, bool others);

// "12,345": a count as people read it.
std::string countText(std::uint64_t count);
// "1 file", "1,234 files".
std::string filesText(std::uint64_t files);
// "512 bytes", "3.4 GiB".
std::string sizeText(std::uint64_t bytes);
// "about 9 s left", "about 2 min left", from the seconds a copy still needs.
std::string timeLeftText(double seconds);
// A path as every report shows it: quoted where it holds control characters.
std::string shown(const std::string& path);

// How far the copy has come: "12 of 30 files, 3.4 MiB of 8.0 MiB, about 2 min left" once what the
// entry has to copy is counted, "12 files, 3.4 MiB so far" before; "" before the copy begins.
std::string copiedText(const join::RunFigures& figures);
// What the bar says: "Entry 2 of 4: NAME", followed during the copy by " — " and copiedText.
std::string progressText(const join::RunFigures& figures);
// What the bar says while the run is paused: "Paused — " and progressText.
std::string pausedText(const join::RunFigures& figures);
// The bar between runs, and while the writes are finished.
std::string idleProgressText();
std::string finishingWritesText();

// Why a thing was not copied, in words that follow its path ("Disk full", "the name holds ...").
std::string reasonText(const join::Reason& reason);
// What could not be copied: "PATH: REASON" (or, for a copy into itself, its own sentence).
std::string describe(const join::NotCopiedItem& item);
// A failure as the common report says it.
std::string describe(const join::Failure& failure);
// What a step met, counted by kind, with the first: "Could not copy 2 files and 1 folder; the
// first: PATH: REASON".
std::string headline(const join::CopyShortfall& shortfall);
// The things of `counts` that a copy names by kind, as one list: "2 files, 1 folder and 1 link"
// (files, folders, links, special files); "" when there are none. `files`, when given, is said for
// the files instead ("2 of 30 files").
std::string notCopiedByKindText(const join::NotCopiedCounts& counts, const std::string& files = {});

// The closing message of a run: "Done." when the copies met nothing they could not copy, "Done,
// but 3 of 120 files could not be copied." when they did, or the stopped or faulted message; then
// the partly written files removed.
std::string closingMessage(const join::JoinOutcome& outcome);
// "The join was stopped: 12 files were copied. ...", with ", 3 could not be" after the count.
std::string stoppedMessage(std::uint64_t filesCopied, std::uint64_t filesNotCopied = 0);
std::string faultedMessage(std::uint64_t filesCopied, std::uint64_t filesNotCopied = 0);
std::string removedTemporariesText(std::uint64_t removed);
// What the output's file system did not hold of what the copies keep: "Extended attributes and
// access lists (ACLs) of 12 files could not be kept: the output's file system (exfat) does not
// hold them."; "" when it held everything.
std::string attributesNotKeptText(const join::AttributesNotKept& notKept);
// What the flat copies left by their rules: "2 replaced by later files of the same name; 1 left
// out (its name begins with ~)"; "" when nothing.
std::string leftByRulesText(const join::JoinOutcome& outcome);
// Why a run did not start, and the existing-copy check's refusal.
std::string runRefusalText(join::RunRefusal why);
std::string copyExistsText(const std::string& mirrored);

// The common report: the failure, CR LF, the location, "at line ", the line, CR CR, and the
// request to mail a screenshot to the support address.
std::string errorReportText(const join::Failure& failure, const std::string& location, int line,
                            const std::string& supportAddress = BRIMVALE_SUPPORT_EMAIL);

} // namespace words
