#include "closingmessage.h"

#include "join/fs/paths.h"
#include "join/run/joinrun.h"
#include "join/run/runprogress.h"

#include <QFile>
#include <QStringList>

namespace shell {

namespace {

QString counted(std::uint64_t count, const char* one, const char* many) {
    return QString::fromStdString(join::countText(count)) + QLatin1String(count == 1 ? one : many);
}

} // namespace

QString closingText(const join::JoinOutcome& outcome) {
    QString text = QString::fromUtf8(join::closingMessage(outcome));
    if (!outcome.notCopiedFile.empty())
        text += QStringLiteral("\r\rThe whole list is in this file: ") +
                QFile::decodeName(
                    QByteArray::fromStdString(join::quotedForDisplay(outcome.notCopiedFile)));
    return text;
}

QString closingDetails(const join::JoinOutcome& outcome) {
    const std::string left = join::leftByRulesText(outcome);
    if (outcome.allCopied() && left.empty())
        return {};
    QStringList lines;
    QString tally = counted(outcome.filesCopied, " file", " files") + QStringLiteral(" copied");
    if (outcome.filesAlreadyThere > 0)
        tally += QStringLiteral(", ") +
                 QString::fromStdString(join::countText(outcome.filesAlreadyThere)) +
                 QStringLiteral(" already there (same size and time) and left alone");
    if (!left.empty())
        tally += QStringLiteral("; ") + QString::fromUtf8(left);
    lines.append(tally + u'.');
    // Each entry once, before the first of its things; the writes finished after the last entry
    // under a heading of their own.
    int heading = -1;
    for (const join::EntryNotCopied& entry : outcome.notCopied) {
        if (entry.entry != heading) {
            heading = entry.entry;
            lines.append(QString());
            lines.append(entry.entry == 0
                             ? QStringLiteral("Finishing writes to disk:")
                             : QStringLiteral("Entry ") + QString::number(entry.entry) +
                                   QStringLiteral(": ") +
                                   QString::fromUtf8(join::quotedForDisplay(entry.entryText)));
        }
        for (const join::NotCopiedItem& item : entry.items)
            lines.append(QStringLiteral("  ") + QString::fromUtf8(item.description));
    }
    return lines.join(u'\n');
}

} // namespace shell
