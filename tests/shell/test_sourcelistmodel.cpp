// The source list as the items of ListView1: texts kept byte for byte, shown decoded, numbered
// from 1, one column added at start-up that survives clearing.
#include "join/fs/failure.h"
#include "shell/sourcelistmodel.h"
#include "shellfakes.h"

#include <QHeaderView>
#include <QSignalSpy>
#include <QTreeView>
#include <gtest/gtest.h>

TEST(SourceListModel, KeepsTextsAsGivenAndShowsThemDecoded) {
    shell::SourceListModel model;
    const std::string texts[] = {
        "/a/", "/a/", std::string("/bad\xff\xfe/", 7), "/Gr\xc3\xbc\xc3\x9f\x65/", "", "relative"};
    for (const std::string& text : texts)
        model.append(text);
    ASSERT_EQ(model.count(), 6);
    EXPECT_EQ(model.rowCount(), 6);
    // No column yet: nothing to show, but the items are there.
    EXPECT_EQ(model.columnCount(), 0);
    model.addColumn(QStringLiteral("Source Folder(s)"));
    ASSERT_EQ(model.columnCount(), 1);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), QLatin1String("Source Folder(s)"));

    for (int i = 1; i <= model.count(); ++i) {
        SCOPED_TRACE("item " + std::to_string(i));
        EXPECT_EQ(model.text(i), texts[i - 1]);
        EXPECT_EQ(
            model.data(model.index(i - 1, 0)).toString(),
            QString::fromUtf8(texts[i - 1].data(), static_cast<qsizetype>(texts[i - 1].size())));
    }
    EXPECT_EQ(model.data(model.index(3, 0)).toString(), QStringLiteral("/Grüße/"));
    EXPECT_FALSE(model.flags(model.index(0, 0)).testFlag(Qt::ItemIsEditable));
}

TEST(SourceListModel, RemovalAndIndexesOutOfRange) {
    shell::SourceListModel model;
    model.appendAll({"/1", "/2", "/2", "/3"});
    model.removeAt(2);
    ASSERT_EQ(model.count(), 3);
    EXPECT_EQ(model.text(1), "/1");
    EXPECT_EQ(model.text(2), "/2");
    EXPECT_EQ(model.text(3), "/3");

    const std::pair<const char*, std::function<void()>> outOfRange[] = {
        {"text(0)", [&] { (void)model.text(0); }},   {"text(4)", [&] { (void)model.text(4); }},
        {"removeAt(0)", [&] { model.removeAt(0); }}, {"removeAt(-1)", [&] { model.removeAt(-1); }},
        {"removeAt(4)", [&] { model.removeAt(4); }},
    };
    for (const auto& [name, call] : outOfRange) {
        try {
            call();
            ADD_FAILURE() << name << ": no failure";
        } catch (const join::Failure& failure) {
            EXPECT_EQ(failure.number(), 35600) << name;
        }
    }
    EXPECT_EQ(model.count(), 3);
}

TEST(SourceListModel, TellsTheViewInOneStepAndClearingKeepsTheColumn) {
    shell::SourceListModel model;
    QTreeView view;
    view.setModel(&model);
    model.addColumn(QStringLiteral("Source Folder(s)"));
    view.header()->setStretchLastSection(false);
    view.setColumnWidth(0, 467);

    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    std::vector<std::string> many;
    for (int i = 0; i < 1000; ++i)
        many.push_back("/folder/" + std::to_string(i) + "/");
    model.appendAll(many);
    model.appendAll({});
    EXPECT_EQ(inserted.size(), 1);
    EXPECT_EQ(inserted.front().at(1).toInt(), 0);
    EXPECT_EQ(inserted.front().at(2).toInt(), 999);
    model.append("/last/");
    EXPECT_EQ(inserted.size(), 2);
    EXPECT_EQ(model.text(1001), "/last/");

    view.setCurrentIndex(model.index(5, 0));
    model.clear();
    model.clear(); // an empty list stays empty, silently
    EXPECT_EQ(model.count(), 0);
    EXPECT_EQ(removed.size(), 1);
    EXPECT_EQ(reset.size(), 0);
    EXPECT_EQ(model.columnCount(), 1);
    EXPECT_EQ(view.columnWidth(0), 467);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), QLatin1String("Source Folder(s)"));
}
