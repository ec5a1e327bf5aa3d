#include "diag/status_window.h"

#include <gtest/gtest.h>

using namespace zk;

TEST(EventList, KeepsTheNewestTwelveLinesOldestFirst) {
    StatusWindow w;
    InitStatusWindow(w);
    ASSERT_EQ(w.EventList.size(), 1u);
    EXPECT_EQ(w.EventList.front(), "EventList");
    for (int i = 1; i <= 12; ++i) AddEventLine(&w, "line " + std::to_string(i));
    ASSERT_EQ(w.EventList.size(), 12u);
    EXPECT_EQ(w.EventList.front(), "line 1");  // the thirteenth line removed "EventList"
    AddEventLine(&w, "line 13");
    EXPECT_EQ(w.EventList.size(), 12u);
    EXPECT_EQ(w.EventList.front(), "line 2");
    EXPECT_EQ(w.EventList.back(), "line 13");
}

TEST(EventList, WithoutAListNothingHappensAndLinesAreCutTo255) {
    AddEventLine(nullptr, "nothing");
    StatusWindow w;
    AddEventLine(&w, std::string(300, 'x'));
    EXPECT_EQ(w.EventList.back().size(), 255u);
}

TEST(StatusWindowModel, FormTextsBeforeAnythingWritesThem) {
    StatusWindow w;
    InitStatusWindow(w);
    EXPECT_EQ(w.Caption, "ZK Driver");
    EXPECT_EQ(w.Labels[LabelCOM], "LabelCOM");
    EXPECT_EQ(w.Labels[LabelPRN], "Log:");
    EXPECT_EQ(w.Labels[LabelMem], "LabelMem");
    EXPECT_EQ(w.Width, 337);
    EXPECT_EQ(w.Height, 301);
}
