#include "closingmessage.h"

#include "words/words.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

namespace shell {

namespace {

QString text(const std::string& utf8) {
    return QString::fromUtf8(utf8);
}

} // namespace

QString closingText(const join::JoinOutcome& outcome, const std::string& notCopiedFile) {
    QString message = text(words::closingMessage(outcome));
    if (!notCopiedFile.empty())
        message +=
            QStringLiteral("\r\r") +
            QCoreApplication::translate("Window", "The whole list is in this file: %1")
                .arg(QFile::decodeName(QByteArray::fromStdString(words::shown(notCopiedFile))));
    return message;
}

QString closingDetails(const join::JoinOutcome& outcome) {
    const std::string left = words::leftByRulesText(outcome);
    const std::string notKept = words::attributesNotKeptText(outcome.attributesNotKept);
    if (outcome.allCopied() && left.empty() && notKept.empty())
        return {};
    QStringList lines;
    std::string tally =
        words::fill(QCoreApplication::translate("Window", "%1 copied").toStdString(),
                    {words::filesText(outcome.filesCopied)});
    if (outcome.filesAlreadyThere > 0)
        tally =
            words::fill(QCoreApplication::translate(
                            "Window", "%1, %2 already there (same size and time) and left alone")
                            .toStdString(),
                        {tally, words::countText(outcome.filesAlreadyThere)});
    if (!left.empty())
        tally += "; " + left;
    lines.append(text(tally) + u'.');
    if (!notKept.empty())
        lines.append(text(notKept));
    // Each entry once, before the first of its things; the writes finished after the last entry
    // under a heading of their own.
    int heading = -1;
    for (const join::EntryNotCopied& entry : outcome.notCopied) {
        if (entry.entry != heading) {
            heading = entry.entry;
            lines.append(QString());
            lines.append(entry.entry == 0
                             ? QCoreApplication::translate("Window", "Finishing writes to disk:")
                             : QCoreApplication::translate("Window", "Entry %1: %2")
                                   .arg(entry.entry)
                                   .arg(text(words::shown(entry.entryText))));
        }
        for (const join::NotCopiedItem& item : entry.items)
            lines.append(QStringLiteral("  ") + text(words::describe(item)));
    }
    return lines.join(u'\n');
}

} // namespace shell
