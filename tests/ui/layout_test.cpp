// The placement rules of both dialogs, worked by hand for the handheld's screens.
#include <gtest/gtest.h>

#include "ui/login_layout.h"
#include "ui/main_layout.h"
#include "ui/video_wall.h"

namespace tavix {
namespace {

TEST(MainLayoutTest, PortraitLandscapeAndOddSizes) {
    struct Case {
        QSize client;
        int fontHeight;
        QSize modeLabel;
        int softKeyHeight, ptzBandHeight;
        QRect loginKey, exitKey, back, channelExit;
        QRect video, status, tree;
        QRect arrowA, panMode, arrowB, lensPlus, lensMode, lensMinus;
    } cases[] = {
        // 240 x 320, 12-pixel font, a 60 x 12 "LEFT_RIGHT": keys 48 x 24 at y 296, BACK and
        // EXIT 120 wide; PTZ band 30 high with 18-pixel squares.
        {{240, 320},
         12,
         {60, 12},
         24,
         30,
         {0, 296, 48, 24},
         {192, 296, 48, 24},
         {0, 296, 120, 24},
         {120, 296, 120, 24},
         {0, 40, 240, 226},
         {0, 24, 240, 16},
         {0, 24, 240, 272},
         {7, 272, 18, 18},
         {25, 272, 70, 18},
         {95, 272, 18, 18},
         {127, 272, 18, 18},
         {145, 272, 70, 18},
         {215, 272, 18, 18}},
        // The same screen turned.
        {{320, 240},
         12,
         {60, 12},
         24,
         30,
         {0, 216, 64, 24},
         {256, 216, 64, 24},
         {0, 216, 160, 24},
         {160, 216, 160, 24},
         {0, 40, 320, 146},
         {0, 24, 320, 16},
         {0, 24, 320, 192},
         {27, 192, 18, 18},
         {45, 192, 70, 18},
         {115, 192, 18, 18},
         {187, 192, 18, 18},
         {205, 192, 70, 18},
         {275, 192, 18, 18}},
        // Odd sizes: every halving rounds toward zero.
        {{243, 321},
         13,
         {61, 13},
         25,
         32,
         {0, 296, 48, 25},
         {192, 296, 48, 25},
         {0, 296, 121, 25},
         {121, 296, 121, 25},
         {0, 42, 243, 222},
         {0, 25, 243, 17},
         {0, 25, 243, 271},
         {6, 270, 19, 19},
         {25, 270, 71, 19},
         {96, 270, 19, 19},
         {128, 270, 19, 19},
         {147, 270, 71, 19},
         {218, 270, 19, 19}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.client.width() << "x" << c.client.height());
        const MainLayout layout =
            ComputeMainLayout(c.client, c.fontHeight, c.modeLabel, {240, 320});
        EXPECT_EQ(c.softKeyHeight, layout.softKeyHeight);
        EXPECT_EQ(c.softKeyHeight, layout.headerHeight);
        EXPECT_EQ(c.ptzBandHeight, layout.ptzBandHeight);
        EXPECT_EQ(c.loginKey, layout.liveKeys[0]);
        EXPECT_EQ(c.exitKey, layout.liveKeys[4]);
        for (int i = 1; i < 5; ++i) {
            EXPECT_EQ(layout.liveKeys[i - 1].right() + 1, layout.liveKeys[i].left());
            EXPECT_EQ(layout.liveKeys[0].size(), layout.liveKeys[i].size());
        }
        EXPECT_EQ(c.back, layout.back);
        EXPECT_EQ(c.channelExit, layout.channelExit);
        EXPECT_EQ(c.video, layout.normalVideo);
        EXPECT_EQ(c.status, layout.status);
        EXPECT_EQ(c.tree, layout.tree);
        EXPECT_EQ(c.arrowA, layout.arrowA);
        EXPECT_EQ(c.panMode, layout.panMode);
        EXPECT_EQ(c.arrowB, layout.arrowB);
        EXPECT_EQ(c.lensPlus, layout.lensPlus);
        EXPECT_EQ(c.lensMode, layout.lensMode);
        EXPECT_EQ(c.lensMinus, layout.lensMinus);
        EXPECT_EQ(QRect(0, 0, 240, 320), layout.fullScreen);
    }
}

TEST(WallStreamTest, AloneOrAsLargeAsTheMainPicturePlaysMainElseSub) {
    const QSize d1(704, 576);
    const struct {
        bool alone;
        QSize shown, main;
        int stream;
    } cases[] = {
        {true, {320, 240}, {}, kMainStream},    // alone: main whatever its size
        {false, {1920, 1080}, {}, kSubStream},  // a grid, the main size not known yet
        {false, {640, 360}, d1, kSubStream},    // smaller than the main picture
        {false, {704, 600}, d1, kMainStream},   // as large in both directions
        {false, {1000, 575}, d1, kSubStream},   // one side short
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.stream, VideoWall::ChooseStream(c.alone, c.shown, c.main))
            << c.shown.width() << "x" << c.shown.height();
}

TEST(LoginLayoutTest, RowsCentredInTheWholeDialog) {
    // 22-pixel boxes (pitch 30), a 70 x 12 port label: rows from y 100, labels 78 wide.
    const LoginLayout layout = ComputeLoginLayout({240, 320}, 22, {70, 12}, 12);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(QRect(5, 105 + 30 * i, 78, 22), layout.labels[i]) << i;
        EXPECT_EQ(QRect(83, 100 + 30 * i, 152, 22), layout.boxes[i]) << i;
    }
    EXPECT_EQ(24, layout.headerHeight);
    EXPECT_EQ(QRect(0, 296, 120, 24), layout.loginKey);
    EXPECT_EQ(QRect(120, 296, 120, 24), layout.exitKey);

    // A dialog too low for the rows: they start above the top, as the rule says.
    const LoginLayout low = ComputeLoginLayout({321, 101}, 23, {71, 13}, 13);
    EXPECT_EQ(-11, low.boxes[0].top());  // (101 - 124) / 2, toward zero
    EXPECT_EQ(-6, low.labels[0].top());
    EXPECT_EQ(QRect(160, 76, 161, 25), low.exitKey);
}

}  // namespace
}  // namespace tavix
