// The image key: what it shows at rest and held, and when it lets go.
#include <QCursor>
#include <QSignalSpy>
#include <QTest>

#include <clocale>
#include <string>

#include <gtest/gtest.h>

#include "ui/control_ids.h"
#include "ui/image_button.h"
#include "ui/system_code_page.h"

namespace tavix {
namespace {

QColor Corner(CImageButton& key) {
    return key.grab().toImage().pixelColor(1, 1);
}

TEST(ImageButtonTest, GreyStandsInForMissingImagesAndInvertsWhenHeld) {
    QWidget window;
    CImageButton key(kIdLogin, &window);
    key.setGeometry(10, 10, 48, 24);
    window.show();
    EXPECT_EQ(QColor(0x64, 0x64, 0x64), Corner(key));
    QTest::mousePress(&key, Qt::LeftButton);
    EXPECT_TRUE(key.IsPressed());
    EXPECT_EQ(QColor(0x9B, 0x9B, 0x9B), Corner(key));
    QTest::mouseRelease(&key, Qt::LeftButton);
    EXPECT_EQ(QColor(0x64, 0x64, 0x64), Corner(key));
}

TEST(ImageButtonTest, ShowsThePressedImageWhileHeld) {
    QWidget window;
    CImageButton key(kIdLogin, &window);
    key.setGeometry(0, 0, 48, 24);
    key.SetImages(kImageSoftKey, kImageSoftKeyPressed);
    ASSERT_TRUE(key.HasNormalImage());
    ASSERT_TRUE(key.HasPressedImage());
    window.show();
    const QImage normal = key.grab().toImage();
    QTest::mousePress(&key, Qt::LeftButton);
    const QImage held = key.grab().toImage();
    QTest::mouseRelease(&key, Qt::LeftButton);
    // The soft key is grey at rest and blue while held, over all of its face.
    const QColor restColour = normal.pixelColor(24, 12);
    const QColor heldColour = held.pixelColor(24, 12);
    EXPECT_LT(std::abs(restColour.red() - restColour.blue()), 12);
    EXPECT_GT(heldColour.blue(), heldColour.red() + 60);
    EXPECT_EQ(normal, key.grab().toImage());
}

TEST(ImageButtonTest, ClickOnReleaseOverTheKeyOnly) {
    QWidget window;
    CImageButton key(kIdAbout, &window);
    key.setGeometry(0, 0, 48, 24);
    window.show();
    QSignalSpy clicked(&key, &QPushButton::clicked);
    QTest::mouseClick(&key, Qt::LeftButton);
    EXPECT_EQ(1, clicked.count());
    QTest::mousePress(&key, Qt::LeftButton);
    QTest::mouseRelease(&key, Qt::LeftButton, {}, QPoint(100, 100));
    EXPECT_EQ(1, clicked.count());
    EXPECT_FALSE(key.IsPressed());
}

TEST(ImageButtonTest, LetsGoWithinASecondOnceThePointerHasLeft) {
    QWidget window;
    window.setGeometry(0, 0, 200, 100);
    CImageButton key(kIdFull, &window);
    key.setGeometry(0, 0, 48, 24);
    window.show();
    QCursor::setPos(key.mapToGlobal(QPoint(10, 10)));
    QTest::mousePress(&key, Qt::LeftButton);
    QTest::qWait(1100);
    EXPECT_TRUE(key.IsPressed());  // still over the key
    QCursor::setPos(key.mapToGlobal(QPoint(150, 80)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !key.IsPressed(); }, 2000));
    QTest::mouseRelease(&key, Qt::LeftButton);
}

TEST(ImageButtonTest, ArtworkForEveryId) {
    for (int id :
         {128, 132, 133, 134, 136, 137, 138, 139, 140, 141, 142, 143, 144, 145, 146, 147, 148})
        EXPECT_FALSE(LoadImage(id).isNull()) << id;
    // The header: a light top row, a gradient from grey 98 down to 17, then black.
    const QImage header = LoadImage(kImageHeader).toImage();
    ASSERT_EQ(QSize(50, 44), header.size());
    EXPECT_EQ(QColor(147, 148, 150), header.pixelColor(10, 0));
    EXPECT_EQ(QColor(98, 98, 98), header.pixelColor(10, 1));
    EXPECT_EQ(QColor(17, 17, 17), header.pixelColor(10, 21));
    EXPECT_EQ(QColor(0, 0, 0), header.pixelColor(10, 22));
    for (int row = 2; row <= 21; ++row) {
        const int step = header.pixelColor(0, row - 1).red() - header.pixelColor(0, row).red();
        EXPECT_TRUE(step == 4 || step == 5) << row;
    }
}

// The text sent to the device, in the locale's encoding.
class SystemCodePageTest : public testing::Test {
  protected:
    void TearDown() override { std::setlocale(LC_CTYPE, saved.c_str()); }
    std::string saved = std::setlocale(LC_CTYPE, nullptr);
};

TEST_F(SystemCodePageTest, ComposesAndNeverTruncates) {
    ASSERT_NE(nullptr, std::setlocale(LC_CTYPE, "C.UTF-8"));
    EXPECT_EQ("admin", ToSystemCodePage(u"admin"));
    // e followed by a combining acute accent is sent as one precomposed character.
    EXPECT_EQ("caf\xC3\xA9", ToSystemCodePage(u"cafe\u0301"));
    // Three bytes per character, every one of them kept.
    EXPECT_EQ("\xE5\xA4\xA7\xE9\x97\xA8", ToSystemCodePage(u"大门"));
    EXPECT_EQ("\xF0\x9F\x94\x91", ToSystemCodePage(u"\U0001F511"));
}

TEST_F(SystemCodePageTest, UnrepresentableCharactersBecomeQuestionMarks) {
    ASSERT_NE(nullptr, std::setlocale(LC_CTYPE, "C"));
    EXPECT_EQ("pa?w?rd", ToSystemCodePage(u"paßwörd"));
}

}  // namespace
}  // namespace tavix
