#include "words.h"

#include "join/fs/paths.h"
#include "join/run/runprogress.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QString>
#include <QTranslator>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

namespace words {

namespace {

std::string utf8(const QString& text) {
    return text.toStdString();
}

std::string fill(const QString& text, std::initializer_list<std::string> args) {
    return words::fill(utf8(text), args);
}

// The catalogues installed, on the application's thread, and the locale numbers are written in,
// which the threads that tell a run's progress read too.
struct Installed {
    std::atomic<bool> done = false;
    std::vector<QTranslator*> translators;
    std::mutex numbersMutex;
    QLocale numbers = QLocale(QLocale::English, QLocale::UnitedStates);
};

// Never destroyed: the translators it holds stay installed until the process ends.
Installed& installed() {
    static auto* state = new Installed;
    return *state;
}

QLocale numbers() {
    Installed& state = installed();
    const std::lock_guard lock(state.numbersMutex);
    return state.numbers;
}

// A text of `context` in the form `count` chooses (its plural forms), %n in plain digits.
QString translatedFor(const char* context, const char* text, std::uint64_t count) {
    // English needs its catalogue for its plural forms.
    installTranslations();
    return QCoreApplication::translate(context, text, nullptr,
                                       static_cast<int>(std::min<std::uint64_t>(count, INT_MAX)));
}

// A translated text that counts `count` (%n, its plural form chosen by the count), with the count
// written as the user's language writes numbers and %1, ... filled in by `args`.
std::string counted(const char* text, std::uint64_t count,
                    std::initializer_list<std::string> args = {}) {
    QString translated = translatedFor("Words", text, count);
    const QString plain = QString::number(std::min<std::uint64_t>(count, INT_MAX));
    if (const qsizetype at = translated.indexOf(plain); at >= 0)
        translated.replace(at, plain.size(), QString::fromStdString(countText(count)));
    return fill(translated, args);
}

// The system's reason for an errno value, as the common report has always named it.
std::string errnoText(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return utf8(QCoreApplication::translate("Words", "Permission denied"));
    case ENOENT:
        return utf8(QCoreApplication::translate("Words", "Path not found"));
    case ENOTDIR:
        return utf8(QCoreApplication::translate("Words", "Not a folder"));
    case ENOSPC:
    case EDQUOT:
        return utf8(QCoreApplication::translate("Words", "Disk full"));
    case EEXIST:
        return utf8(QCoreApplication::translate("Words", "File already exists"));
    case EMFILE:
    case ENFILE:
        return utf8(QCoreApplication::translate("Words", "Too many files"));
    case EIO:
        return utf8(QCoreApplication::translate("Words", "Device I/O error"));
    case ENOMEM:
        return utf8(QCoreApplication::translate("Words", "Out of memory"));
    default:
        return utf8(QCoreApplication::translate("Words", "Path/File access error"));
    }
}

// The system's own words after the catch-all, which says little on its own.
std::string systemDetail(int error) {
    if (join::numberOfErrno(error) != join::ErrorNumber::PathFileAccessError || error == 0)
        return {};
    return " (" + std::string(std::strerror(error)) + ")";
}

// A copy into itself is said whole: "Cannot copy a folder into itself: TARGET lies inside SOURCE".
std::string intoItselfText(const join::Reason& reason, const std::string& target) {
    using Code = join::Reason::Code;
    const char* text =
        reason.code == Code::TargetIsSource
            ? QT_TRANSLATE_NOOP("Words", "Cannot copy a folder into itself: %1 is %2 itself")
        : reason.code == Code::TargetHoldsSource
            ? QT_TRANSLATE_NOOP("Words", "Cannot copy a folder into itself: %1 holds %2")
            : QT_TRANSLATE_NOOP("Words", "Cannot copy a folder into itself: %1 lies inside %2");
    return fill(QCoreApplication::translate("Words", text), {shown(target), shown(reason.text)});
}

bool isIntoItself(const join::Reason& reason) {
    using Code = join::Reason::Code;
    return reason.code == Code::TargetInsideSource || reason.code == Code::TargetIsSource ||
           reason.code == Code::TargetHoldsSource;
}

} // namespace

std::string fill(const std::string& text, std::initializer_list<std::string> args) {
    std::string filled;
    filled.reserve(text.size());
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '%' && at + 1 < text.size() && text[at + 1] >= '1' && text[at + 1] <= '9') {
            const auto index = static_cast<std::size_t>(text[at + 1] - '1');
            if (index < args.size()) {
                filled += *(args.begin() + index);
                ++at;
                continue;
            }
        }
        filled += text[at];
    }
    return filled;
}

std::string problemsText(std::uint64_t count, bool others) {
    return others ? counted(QT_TRANSLATE_N_NOOP("Words", "%n other problem(s)"), count)
                  : counted(QT_TRANSLATE_N_NOOP("Words", "%n problem(s)"), count);
}

namespace {

const QLocale English(QLocale::English, QLocale::UnitedStates);

// The program's catalogue for the first language of `language` that has one (a list such as
// LANGUAGE=fr:de counts in its order); none for English, whose catalogue is loaded anyway, and
// for the C locale, whose programs speak English.
std::unique_ptr<QTranslator> catalogueFor(const QLocale& language) {
    if (language.language() == QLocale::C)
        return {};
    auto catalogue = std::make_unique<QTranslator>();
    if (!catalogue->load(language, QStringLiteral("brimvale"), QStringLiteral("_"),
                         QStringLiteral(":/i18n")) ||
        QLocale(catalogue->language()).language() == QLocale::English)
        return {};
    return catalogue;
}

// The locale the system writes numbers in, as the C library takes it: LC_ALL, LC_NUMERIC, LANG.
QLocale systemNumbers() {
    for (const char* name : {"LC_ALL", "LC_NUMERIC", "LANG"})
        if (const QString value = qEnvironmentVariable(name); !value.isEmpty())
            return QLocale(value);
    return QLocale::c();
}

// English first, so that a text the catalogue lacks falls back to it; then the catalogue of
// `language`, and Qt's own texts in the language that catalogue is in, so that a box never
// mixes two languages. Numbers as `numbers` writes them, or, where that is the C locale, as the
// language of the texts does.
void install(Installed& state, const QLocale& language, const QLocale& numbers) {
    for (QTranslator* translator : state.translators) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
    state.translators.clear();
    const auto add = [&state](std::unique_ptr<QTranslator> translator) {
        QCoreApplication::installTranslator(translator.get());
        state.translators.push_back(translator.release());
    };
    auto english = std::make_unique<QTranslator>();
    if (english->load(English, QStringLiteral("brimvale"), QStringLiteral("_"),
                      QStringLiteral(":/i18n")))
        add(std::move(english));
    QLocale texts = English;
    if (std::unique_ptr<QTranslator> catalogue = catalogueFor(language)) {
        texts = QLocale(catalogue->language());
        add(std::move(catalogue));
        auto qt = std::make_unique<QTranslator>();
        if (qt->load(texts, QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            add(std::move(qt));
    }
    {
        const std::lock_guard lock(state.numbersMutex);
        state.numbers = numbers.language() == QLocale::C ? texts : numbers;
    }
    state.done = true;
}

} // namespace

void installTranslations() {
    if (!QCoreApplication::instance())
        return;
    static std::once_flag once;
    std::call_once(once, [] {
        if (Installed& state = installed(); !state.done)
            install(state, QLocale::system(), systemNumbers());
    });
}

void installTranslations(const QLocale& language) {
    if (QCoreApplication::instance())
        install(installed(), language, language);
}

std::string translatedBeforeStart(const char* context, const char* text) {
    static const std::unique_ptr<QTranslator> catalogue = catalogueFor(QLocale::system());
    if (catalogue)
        if (const QString translated = catalogue->translate(context, text); !translated.isEmpty())
            return utf8(translated);
    return text;
}

std::string pluralText(const char* context, const char* text, std::uint64_t count) {
    return utf8(translatedFor(context, text, count));
}

std::string countText(std::uint64_t count) {
    return utf8(numbers().toString(static_cast<qulonglong>(count)));
}

std::string filesText(std::uint64_t files) {
    return counted(QT_TRANSLATE_N_NOOP("Words", "%n file(s)"), files);
}

std::string sizeText(std::uint64_t bytes) {
    if (bytes < 1024)
        return counted(QT_TRANSLATE_N_NOOP("Words", "%n byte(s)"), bytes);
    const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    for (; value >= 1024 && unit + 1 < std::size(units); ++unit)
        value /= 1024;
    return utf8(numbers().toString(value, 'f', 1)) + ' ' + units[unit];
}

std::string timeLeftText(double seconds) {
    if (seconds < 57.5) {
        const long shown =
            seconds < 9.5 ? std::max(1L, std::lround(seconds)) : std::lround(seconds / 5) * 5;
        return fill(QCoreApplication::translate("Words", "about %1 s left"),
                    {countText(static_cast<std::uint64_t>(shown))});
    }
    const long minutes = std::max(1L, std::lround(seconds / 60));
    if (minutes < 90)
        return fill(QCoreApplication::translate("Words", "about %1 min left"),
                    {countText(static_cast<std::uint64_t>(minutes))});
    return fill(QCoreApplication::translate("Words", "about %1 h %2 min left"),
                {countText(static_cast<std::uint64_t>(minutes / 60)),
                 countText(static_cast<std::uint64_t>(minutes % 60))});
}

std::string shown(const std::string& path) {
    return join::quotedForDisplay(path);
}

std::string copiedText(const join::RunFigures& figures) {
    if (!figures.copying)
        return {};
    if (!figures.counted)
        return fill(QCoreApplication::translate("Words", "%1, %2 so far"),
                    {filesText(figures.files), sizeText(figures.bytes)});
    // Files copied in place of others that failed were not counted: never more than the count.
    std::string text =
        fill(QCoreApplication::translate("Words", "%1 of %2, %3 of %4"),
             {countText(std::min(figures.files, figures.totalFiles)), filesText(figures.totalFiles),
              sizeText(std::min(figures.bytes, figures.totalBytes)), sizeText(figures.totalBytes)});
    if (figures.secondsLeft >= 0)
        text += ", " + timeLeftText(figures.secondsLeft);
    return text;
}

std::string progressText(const join::RunFigures& figures) {
    std::string text = figures.name.empty()
                           ? fill(QCoreApplication::translate("Words", "Entry %1 of %2"),
                                  {std::to_string(figures.entry), std::to_string(figures.entries)})
                           : fill(QCoreApplication::translate("Words", "Entry %1 of %2: %3"),
                                  {std::to_string(figures.entry), std::to_string(figures.entries),
                                   shown(figures.name)});
    if (figures.copying)
        text += " \u2014 " + copiedText(figures);
    return text;
}

std::string pausedText(const join::RunFigures& figures) {
    return fill(QCoreApplication::translate("Words", "Paused \u2014 %1"), {progressText(figures)});
}

std::string idleProgressText() {
    return utf8(QCoreApplication::translate("Words", "Progress Bar"));
}

std::string finishingWritesText() {
    return utf8(QCoreApplication::translate("Words", "Finishing writes to disk..."));
}

std::string reasonText(const join::Reason& reason) {
    using Code = join::Reason::Code;
    const std::string count = std::to_string(reason.count);
    switch (reason.code) {
    case Code::System:
        return errnoText(reason.error) + systemDetail(reason.error);
    case Code::SourceChanged:
        return utf8(
            QCoreApplication::translate("Words", "the file changed while it was being copied"));
    case Code::NameHoldsCharacter:
        return fill(QCoreApplication::translate(
                        "Words", "the name holds \"%1\", which %2 does not allow in a name"),
                    {reason.text, reason.fileSystem});
    case Code::NameHoldsControl:
        return fill(QCoreApplication::translate(
                        "Words", "the name holds a control character, which %1 does not allow in "
                                 "a name"),
                    {reason.fileSystem});
    case Code::NameNotText:
        return fill(QCoreApplication::translate(
                        "Words", "the name is not UTF-8 text, which %1 cannot store"),
                    {reason.fileSystem});
    case Code::NameLongerBytes:
        return fill(QCoreApplication::translate(
                        "Words", "the name is longer than the %1 bytes %2 allows in a name"),
                    {count, reason.fileSystem});
    case Code::NameLongerCharacters:
        return fill(QCoreApplication::translate(
                        "Words", "the name is longer than the %1 characters %2 allows in a name"),
                    {count, reason.fileSystem});
    case Code::NameNotTaken:
        return reason.text.empty()
                   ? fill(QCoreApplication::translate(
                              "Words",
                              "the name holds a control character, which the output's file "
                              "system (%1) does not take"),
                          {reason.fileSystem})
                   : fill(QCoreApplication::translate(
                              "Words", "the name holds \"%1\", which the output's file system (%2) "
                                       "does not take"),
                          {reason.text, reason.fileSystem});
    case Code::NameRefused:
        return utf8(QCoreApplication::translate(
            "Words", "the output's file system does not take this name"));
    case Code::NameOneWithLater:
        return fill(QCoreApplication::translate(
                        "Words", "its name and \"%1\" are one on %2, which keeps the later only"),
                    {shown(reason.text), reason.fileSystem});
    case Code::PathLongerThere:
        return fill(QCoreApplication::translate(
                        "Words", "the path is longer than the %1 bytes the far end of %2 takes"),
                    {count, reason.fileSystem});
    case Code::LinkNotHeld:
        return fill(QCoreApplication::translate("Words", "a symbolic link, which %1 cannot hold"),
                    {reason.fileSystem});
    case Code::NotARegularFile:
        return utf8(
            QCoreApplication::translate("Words", "not a regular file, so it is not copied"));
    case Code::LinkToNothing:
        return utf8(QCoreApplication::translate("Words", "a link to nothing, so it is not copied"));
    case Code::FileInTheWay:
        return utf8(
            QCoreApplication::translate("Words", "a file that is not a folder stands in the way"));
    case Code::TargetInsideSource:
    case Code::TargetIsSource:
    case Code::TargetHoldsSource:
        return intoItselfText(reason, {});
    case Code::SubfoldersUnreadable:
        return fill(
            QCoreApplication::translate("Words", "its subfolders could not all be read: %1"),
            {errnoText(reason.error) + systemDetail(reason.error)});
    case Code::PathTooLong:
        return utf8(
            QCoreApplication::translate("Words", "the path is longer than the system can reach"));
    case Code::NameHoldsQuestionMark:
        return utf8(QCoreApplication::translate("Words", "the name holds \"?\""));
    case Code::NameHoldsControlCharacter:
        return utf8(QCoreApplication::translate("Words", "the name holds a control character"));
    case Code::NameNotUtf8:
        return utf8(QCoreApplication::translate("Words", "the name is not UTF-8 text"));
    case Code::NameTooLong:
        return fill(QCoreApplication::translate("Words", "the name is %1 bytes or longer"),
                    {count});
    case Code::SystemFileSystem:
        return fill(QCoreApplication::translate(
                        "Words", "the link leads into %1, a file system of the system's own state"),
                    {reason.fileSystem});
    case Code::WritesNotFinished:
        return fill(
            QCoreApplication::translate("Words", "the writes to disk could not be finished: %1"),
            {errnoText(reason.error) + systemDetail(reason.error)});
    case Code::DivisionByZero:
        return utf8(QCoreApplication::translate("Words", "Division by zero"));
    case Code::OutOfMemory:
        return utf8(QCoreApplication::translate("Words", "Out of memory"));
    case Code::Program:
    case Code::Text:
        return reason.text;
    case Code::Unknown:
        break;
    }
    return utf8(QCoreApplication::translate("Words", "Unknown error"));
}

std::string describe(const join::NotCopiedItem& item) {
    if (isIntoItself(item.reason))
        return intoItselfText(item.reason, item.path);
    return shown(item.path) + ": " + reasonText(item.reason);
}

std::string describe(const join::Failure& failure) {
    const join::Reason& reason = failure.reason();
    if (isIntoItself(reason))
        return intoItselfText(reason, failure.path());
    if (failure.form() == join::Failure::Form::PathFirst)
        return describe(join::NotCopiedItem{failure.path(), join::NotCopiedItem::Kind::File, reason,
                                            failure.number()});
    if (reason.code == join::Reason::Code::System)
        return errnoText(reason.error) +
               (failure.path().empty() ? "" : ": " + shown(failure.path())) +
               systemDetail(reason.error);
    return reasonText(reason) + (failure.path().empty() ? "" : ": " + shown(failure.path()));
}

namespace {

// The parts as one list: "a", "a and b", "a, b and c".
std::string listText(const std::vector<std::string>& parts) {
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i)
        text = i == 0 ? parts[i]
               : i + 1 == parts.size()
                   ? fill(QCoreApplication::translate("Words", "%1 and %2"), {text, parts[i]})
                   : fill(QCoreApplication::translate("Words", "%1, %2"), {text, parts[i]});
    return text;
}

} // namespace

std::string notCopiedByKindText(const join::NotCopiedCounts& counts, const std::string& files) {
    using Kind = join::NotCopiedItem::Kind;
    struct Named {
        Kind kind;
        const char* text;
    };
    static constexpr Named named[] = {
        {Kind::File, QT_TRANSLATE_N_NOOP("Words", "%n file(s)")},
        {Kind::Folder, QT_TRANSLATE_N_NOOP("Words", "%n folder(s)")},
        {Kind::Link, QT_TRANSLATE_N_NOOP("Words", "%n link(s)")},
        {Kind::SpecialFile, QT_TRANSLATE_N_NOOP("Words", "%n special file(s)")}};
    std::vector<std::string> parts;
    for (const Named& kind : named) {
        const std::uint64_t count = counts.of(kind.kind);
        if (count == 0)
            continue;
        parts.push_back(kind.kind == Kind::File && !files.empty() ? files
                                                                  : counted(kind.text, count));
    }
    return listText(parts);
}

std::string attributesNotKeptText(const join::AttributesNotKept& notKept) {
    if (notKept.items == 0)
        return {};
    using Kind = join::KeptAttribute;
    struct Named {
        Kind kind;
        const char* text;
    };
    static constexpr Named named[] = {
        {Kind::Extended, QT_TRANSLATE_NOOP("Words", "extended attributes")},
        {Kind::AccessList, QT_TRANSLATE_NOOP("Words", "access lists (ACLs)")},
        {Kind::Owner, QT_TRANSLATE_NOOP("Words", "owners")}};
    std::vector<std::string> parts;
    for (const Named& kind : named)
        if (notKept.count(kind.kind) > 0)
            parts.push_back(QCoreApplication::translate("Words", kind.text).toStdString());
    // The list begins the sentence.
    QString kinds = QString::fromStdString(listText(parts));
    if (!kinds.isEmpty())
        kinds[0] = kinds[0].toUpper();
    return notKept.fileSystem.empty()
               ? counted(QT_TRANSLATE_N_NOOP("Words", "%1 of %n file(s) could not be kept: the "
                                                      "output's file system does not hold them."),
                         notKept.items, {kinds.toStdString()})
               : counted(QT_TRANSLATE_N_NOOP("Words", "%1 of %n file(s) could not be kept: the "
                                                      "output's file system (%2) does not hold "
                                                      "them."),
                         notKept.items, {kinds.toStdString(), notKept.fileSystem});
}

std::string headline(const join::CopyShortfall& shortfall) {
    const std::vector<join::NotCopiedItem>& items = shortfall.items();
    if (items.empty())
        return {};
    const std::string first = describe(items.front());
    if (shortfall.step() == join::CopyShortfall::Step::Finish)
        return fill(QCoreApplication::translate("Words", "Could not finish the writes to disk: %1"),
                    {first});
    const join::NotCopiedCounts counts = shortfall.counts();
    std::string text = notCopiedByKindText(counts);
    if (!text.empty()) {
        switch (shortfall.step()) {
        case join::CopyShortfall::Step::Walk:
            text = fill(QCoreApplication::translate("Words", "Left out %1"), {text});
            break;
        case join::CopyShortfall::Step::List:
            text = fill(QCoreApplication::translate("Words", "Could not list %1"), {text});
            break;
        default:
            text = fill(QCoreApplication::translate("Words", "Could not copy %1"), {text});
            break;
        }
    }
    if (const std::uint64_t others = counts.of(join::NotCopiedItem::Kind::Other); others > 0)
        text =
            text.empty()
                ? counted(QT_TRANSLATE_N_NOOP("Words", "The disk reported %n failure(s)"), others)
                : counted(QT_TRANSLATE_N_NOOP("Words", "%1; the disk reported %n other failure(s)"),
                          others, {text});
    return items.size() == 1
               ? fill(QCoreApplication::translate("Words", "%1: %2"), {text, first})
               : fill(QCoreApplication::translate("Words", "%1; the first: %2"), {text, first});
}

namespace {

// ", 3 could not be" after the files copied, when some could not be.
std::string notCopiedText(std::uint64_t notCopied) {
    return notCopied == 0 ? std::string()
                          : fill(QCoreApplication::translate("Words", ", %1 could not be"),
                                 {countText(notCopied)});
}

// "Done." when the copies met nothing they could not copy; else what they could not copy.
std::string doneMessage(const join::JoinOutcome& outcome) {
    using Kind = join::NotCopiedItem::Kind;
    if (outcome.allCopied())
        return utf8(QCoreApplication::translate("Words", "Done."));
    // The files against those the run meant to place; then the things of other kinds.
    std::string text = notCopiedByKindText(
        outcome.notCopiedCounts,
        outcome.filesNotCopied() == 0
            ? std::string()
            : fill(QCoreApplication::translate("Words", "%1 of %2"),
                   {countText(outcome.filesNotCopied()), filesText(outcome.filesMeant())}));
    // The verb agrees with the things said, in languages where it does.
    const join::NotCopiedCounts& counts = outcome.notCopiedCounts;
    const std::uint64_t things = outcome.filesNotCopied() + counts.of(Kind::Folder) +
                                 counts.of(Kind::Link) + counts.of(Kind::SpecialFile);
    if (!text.empty())
        text = fill(
            translatedFor("Words", QT_TRANSLATE_N_NOOP("Words", "%1 could not be copied"), things),
            {text});
    if (const std::uint64_t others = outcome.otherFailures(); others > 0) {
        const std::string disk =
            counted(QT_TRANSLATE_N_NOOP("Words", "the disk reported %n other failure(s)"), others);
        text = text.empty() ? disk
                            : fill(QCoreApplication::translate("Words", "%1 and %2"), {text, disk});
    }
    return fill(QCoreApplication::translate("Words", "Done, but %1."), {text});
}

} // namespace

std::string stoppedMessage(std::uint64_t filesCopied, std::uint64_t filesNotCopied) {
    return counted(QT_TRANSLATE_N_NOOP("Words", "The join was stopped: %n file(s) was/were "
                                                "copied%1. What was copied stays; nothing partly "
                                                "written is left."),
                   filesCopied, {notCopiedText(filesNotCopied)});
}

std::string removedTemporariesText(std::uint64_t removed) {
    return counted(QT_TRANSLATE_N_NOOP("Words", "Removed %n partly written file(s) that an ended "
                                                "join had left in the output folder."),
                   removed);
}

std::string faultedMessage(std::uint64_t filesCopied, std::uint64_t filesNotCopied) {
    return counted(QT_TRANSLATE_N_NOOP("Words", "The join ended early, after the failure reported: "
                                                "%n file(s) was/were copied%1. What was copied "
                                                "stays; nothing partly written is left."),
                   filesCopied, {notCopiedText(filesNotCopied)});
}

std::string closingMessage(const join::JoinOutcome& outcome) {
    switch (outcome.ending) {
    case join::JoinOutcome::Ending::Stopped:
        return stoppedMessage(outcome.filesCopied, outcome.filesNotCopied());
    case join::JoinOutcome::Ending::Faulted:
        return faultedMessage(outcome.filesCopied, outcome.filesNotCopied());
    case join::JoinOutcome::Ending::Done:
        break;
    }
    if (outcome.temporariesRemoved == 0)
        return doneMessage(outcome);
    return doneMessage(outcome) + "\n\n" + removedTemporariesText(outcome.temporariesRemoved);
}

std::string leftByRulesText(const join::JoinOutcome& outcome) {
    std::string text;
    if (const std::uint64_t replaced = outcome.replacedByLater; replaced > 0)
        text = counted(
            QT_TRANSLATE_N_NOOP("Words", "%n replaced by (a) later file(s) of the same name"),
            replaced);
    if (const std::uint64_t leftOut = outcome.leftOutByName; leftOut > 0) {
        const std::string left =
            counted(QT_TRANSLATE_N_NOOP("Words", "%n left out (its/their name(s) begin(s) with ~)"),
                    leftOut);
        text = text.empty() ? left
                            : fill(QCoreApplication::translate("Words", "%1; %2"), {text, left});
    }
    return text;
}

std::string runRefusalText(join::RunRefusal why) {
    return utf8(why == join::RunRefusal::NoFolders
                    ? QCoreApplication::translate("Words", "No folders added.")
                    : QCoreApplication::translate(
                          "Words", "Folder does not exist. Please select another folder."));
}

std::string copyExistsText(const std::string& mirrored) {
    return fill(QCoreApplication::translate("Words", "%1 already exists. Please delete."),
                {shown(mirrored)});
}

std::string errorReportText(const join::Failure& failure, const std::string& location, int line,
                            const std::string& supportAddress) {
    return describe(failure) + "\r\n" + location +
           fill(QCoreApplication::translate("Words", "at line %1"), {std::to_string(line)}) +
           "\r\r" +
           fill(QCoreApplication::translate("Words",
                                            "Please email screenshot of this message to %1"),
                {supportAddress});
}

} // namespace words
