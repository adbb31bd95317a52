// The panels, buttons, track bars and splitters: what they report to their window for the
// user's clicks and drags, and what they show.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QTest>
#include <vector>

#include "app/ui/controls/CSplitter.h"
#include "app/ui/controls/CTrackbar.h"
#include "app/ui/tests/OffscreenApplication.h"

namespace {

struct Scroll {
    ScrollCode code;
    int position;
    bool operator==(const Scroll&) const = default;
};

class TrackbarTest : public ::testing::Test {
protected:
    CTrackbar& Bar(int width, int height) {
        bar = std::make_unique<CTrackbar>(&window, 7);
        bar->setGeometry(0, 0, width, height);
        bar->onScroll = [this](CTrackbar& from, ScrollCode code, int position) {
            EXPECT_EQ(&from, bar.get());
            scrolls.push_back({code, position});
        };
        return *bar;
    }

    QWidget window;
    std::unique_ptr<CTrackbar> bar;
    std::vector<Scroll> scrolls;
};

TEST_F(TrackbarTest, PositionsAreClampedToTheRangeAndAPageClickStopsAtTheEnd) {
    CTrackbar& trackbar = Bar(200, 20);
    trackbar.SetPosition(500);
    EXPECT_EQ(trackbar.Position(), 100);
    trackbar.SetRange(0, 50);
    EXPECT_EQ(trackbar.Position(), 50);
    trackbar.SetRange(0, 100);

    trackbar.SetPosition(95);
    QTest::mouseClick(&trackbar, Qt::LeftButton, {}, QPoint(199, 10));
    EXPECT_EQ(trackbar.Position(), 100);
    QTest::mouseClick(&trackbar, Qt::LeftButton, {}, QPoint(2, 10));
    EXPECT_EQ(trackbar.Position(), 90);
    EXPECT_EQ(scrolls,
              (std::vector<Scroll>{{ScrollCode::PageRight, 100}, {ScrollCode::PageLeft, 90}}));
}

TEST_F(TrackbarTest, AVerticalBarHasItsMaximumAtTheTopAndPagesUpAboveTheThumb) {
    CTrackbar& trackbar = Bar(20, 200);
    ASSERT_TRUE(trackbar.IsVertical());
    trackbar.SetPosition(100);
    EXPECT_EQ(trackbar.Thumb().y(), 1);
    trackbar.SetPosition(0);
    EXPECT_EQ(trackbar.Thumb().geometry().bottom(), 198);

    trackbar.SetPosition(50);
    QTest::mouseClick(&trackbar, Qt::LeftButton, {}, QPoint(10, 2));
    EXPECT_EQ(trackbar.Position(), 60);
    QTest::mouseClick(&trackbar, Qt::LeftButton, {}, QPoint(10, 198));
    EXPECT_EQ(trackbar.Position(), 50);
    EXPECT_EQ(scrolls,
              (std::vector<Scroll>{{ScrollCode::PageLeft, 60}, {ScrollCode::PageRight, 50}}));
}

TEST_F(TrackbarTest, DraggingTheThumbTracksThePositionAndReportsItWhereItIsLetGo) {
    CTrackbar& trackbar = Bar(211, 20);  // a free length of 211 - 11 - 2 = 198
    trackbar.SetRange(0, 198);
    CThumbPanel& thumb = trackbar.Thumb();
    QTest::mousePress(&thumb, Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_TRUE(thumb.IsDragging());
    QTest::mouseMove(&thumb, QPoint(5 + 60, 5));
    QTest::mouseMove(&thumb, QPoint(5 + 400, 5));  // past the end: clamped
    QTest::mouseRelease(&thumb, Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_GE(scrolls.size(), 3u);
    EXPECT_EQ(scrolls.front(), (Scroll{ScrollCode::ThumbTrack, 0}));
    EXPECT_EQ(scrolls[1], (Scroll{ScrollCode::ThumbTrack, 60}));
    EXPECT_EQ(scrolls.back(), (Scroll{ScrollCode::ThumbPosition, 198}));
    EXPECT_EQ(trackbar.Position(), 198);
    EXPECT_FALSE(thumb.IsDragging());
}

TEST(CPanelButton, SendsItsCommandOnlyForAReleaseInsideAndDrawsTheLookOfItsState) {
    QWidget window;
    CPanelButton button(&window, 2029);
    button.setGeometry(0, 0, 20, 20);
    std::vector<std::pair<int, int>> commands;
    button.onCommand = [&](int id, int code) { commands.emplace_back(id, code); };

    // A strip of four 20-pixel looks in red, green, (unused) and blue; white is transparent.
    QImage strip(80, 20, QImage::Format_RGB32);
    const QRgb looks[] = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(9, 9, 9), qRgb(0, 0, 255)};
    for (int frame = 0; frame < 4; ++frame) {
        for (int x = 0; x < 20; ++x) {
            for (int y = 0; y < 20; ++y) {
                strip.setPixel(frame * 20 + x, y, y < 10 ? looks[frame] : qRgb(255, 255, 255));
            }
        }
    }
    button.SetStrip(strip);
    const QColor face = button.FaceColor();
    EXPECT_EQ(button.Render().pixel(5, 5), looks[0]);
    EXPECT_EQ(button.Render().pixel(5, 15), face.rgb());  // white lets the face through

    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(button.Frame(), 1);
    EXPECT_EQ(button.Render().pixel(6, 6), looks[1]);  // shifted by the pressed offset
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(40, 40));
    EXPECT_TRUE(commands.empty());
    EXPECT_EQ(button.ContentOffset(), QPoint());

    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseDClick(&button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(commands, (std::vector<std::pair<int, int>>{{2029, kPanelClicked},
                                                          {2029, kPanelDoubleClicked}}));

    button.setEnabled(false);
    EXPECT_EQ(button.Render().pixel(5, 5), looks[3]);
    commands.clear();
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(commands.empty());
}

TEST(CSplitter, DraggingTheBarSharesTheWindowBetweenThePanes) {
    QWidget window;
    window.resize(400, 300);
    QWidget tree(&window);
    QWidget list(&window);
    CSplitter splitter(&window, 1, &tree, &list, CSplitter::Orientation::SideBySide, 4);
    splitter.SetPosition(120);
    EXPECT_EQ(tree.geometry(), QRect(0, 0, 120, 300));
    EXPECT_EQ(splitter.geometry(), QRect(120, 0, 4, 300));
    EXPECT_EQ(list.geometry(), QRect(124, 0, 276, 300));

    QTest::mousePress(&splitter, Qt::LeftButton, {}, QPoint(1, 50));
    QTest::mouseMove(&splitter, QPoint(81, 50));
    QTest::mouseRelease(&splitter, Qt::LeftButton, {}, QPoint(81, 50));
    EXPECT_EQ(tree.width(), 201);
    EXPECT_EQ(list.geometry(), QRect(205, 0, 195, 300));
    EXPECT_EQ(splitter.cursor().shape(), Qt::SizeHorCursor);
}

}  // namespace
