// The views file read as untrusted bytes, and written back as it was read.
#include <gtest/gtest.h>

#include "ui/recorder_book.h"
#include "ui/saved_views.h"

namespace tavix {
namespace {

TEST(SavedViewsTest, WhatCannotBeAViewIsLeftOutAndTheRestRoundTrips) {
    EXPECT_TRUE(ParseViews("not json").views.empty());
    EXPECT_TRUE(ParseViews("[1, 2]").views.empty());
    const ViewBook book = ParseViews(R"({"last": "Gone", "views": [
        {"name": "Gate", "side": 2, "tiles": [
            {"recorder": "10.0.0.5:34567", "channel": 3, "stream": 2},
            {"recorder": "", "channel": 1},
            {"recorder": "10.0.0.5:34567", "channel": -4},
            {"recorder": "10.0.0.6:34567", "channel": 0, "stream": 9},
            {"recorder": "10.0.0.6:34567", "channel": 5}]},
        {"name": "Gate", "side": 1},
        {"name": "  ", "side": 1},
        {"name": "Wide", "side": 7},
        {"name": "Hall", "side": 1}]})");
    ASSERT_EQ(2u, book.views.size());
    EXPECT_TRUE(book.last.isEmpty());  // no view of that name
    const SavedView& gate = book.views[0];
    EXPECT_EQ("Gate", gate.name);
    ASSERT_EQ(4u, gate.tiles.size());  // no more than the layout holds
    EXPECT_EQ(3, gate.tiles[0].channel);
    EXPECT_EQ(2, gate.tiles[0].stream);
    EXPECT_EQ(-1, gate.tiles[1].channel);
    EXPECT_TRUE(gate.tiles[2].recorder.isEmpty());
    EXPECT_EQ(0, gate.tiles[3].stream);
    EXPECT_EQ("Hall", book.views[1].name);

    ViewBook named = book;
    named.last = QStringLiteral("Hall");
    const ViewBook again = ParseViews(FormatViews(named));
    EXPECT_EQ(FormatViews(named), FormatViews(again));
    EXPECT_EQ("Hall", again.last);
}

TEST(RecorderBookTest, WhatCannotBeARecorderIsLeftOutAndTheRestRoundTrips) {
    EXPECT_TRUE(ParseRecorders("{").recorders.empty());
    const RecorderBook book = ParseRecorders(R"({"recorders": [
        {"name": " Shop ", "address": "10.0.0.5", "port": 34567, "user": "admin"},
        {"name": "Again", "address": "10.0.0.5", "port": 34567, "user": "guest"},
        {"address": "", "port": 34567, "user": "admin"},
        {"address": "10.0.0.7", "port": 70000, "user": "admin"},
        {"address": "10.0.0.8", "port": 34567},
        {"address": "store.example", "port": 8000, "user": "u", "password": "p:w"}]})");
    ASSERT_EQ(2u, book.recorders.size());
    EXPECT_EQ("Shop", book.recorders[0].name);
    EXPECT_EQ("store.example:8000", book.recorders[1].name);  // no name: its address
    EXPECT_EQ("p:w", book.recorders[1].filePassword);
    EXPECT_EQ(FormatRecorders(book), FormatRecorders(ParseRecorders(FormatRecorders(book))));
}

}  // namespace
}  // namespace tavix
