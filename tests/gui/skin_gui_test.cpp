#include "gui/skin_gui.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>
#include <QWidget>
#include <functional>
#include <memory>

#include "skin/builtin_skin.h"

namespace qj {
namespace {

class SkinGuiTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "qj_skin_gui_tests";
        static char* argv[] = {name, nullptr};
        if (QApplication::instance() == nullptr) {
            application_ = std::make_unique<QApplication>(argc, argv);
        }
        ApplyBuiltInSkin();
    }
    // Before static destruction: Qt cannot take its application down after main has returned.
    static void TearDownTestSuite() { application_.reset(); }

    // Whether some pixel of the widget's picture satisfies `wanted`.
    static bool AnyPixel(QWidget& widget, const std::function<bool(QColor)>& wanted) {
        const QImage image = widget.grab().toImage();
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (wanted(image.pixelColor(x, y))) {
                    return true;
                }
            }
        }
        return false;
    }

    static bool IsBlue(QColor c) { return c.blue() > 180 && c.red() < 90 && c.green() < 90; }
    static bool IsRed(QColor c) { return c.red() > 180 && c.green() < 90 && c.blue() < 90; }

    static inline std::unique_ptr<QApplication> application_;
};

TEST_F(SkinGuiTest, TheApplicationCarriesTheBuiltInSkin) {
    const std::string_view skin = BuiltInSkin();
    EXPECT_EQ(qApp->styleSheet(), QString::fromUtf8(skin.data(), static_cast<qsizetype>(skin.size())));
}

TEST_F(SkinGuiTest, ColoursAWindowGivesItsOwnControlsStay) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* paletteLabel = new QLabel(QStringLiteral("\u2588\u2588\u2588\u2588 blue"));
    QPalette blueText = paletteLabel->palette();
    blueText.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0xFF));
    paletteLabel->setPalette(blueText);
    auto* sheetLabel = new QLabel(QStringLiteral("\u2588\u2588\u2588\u2588 red"));
    sheetLabel->setStyleSheet(QStringLiteral("color: #FF0000;"));
    auto* edit = new QLineEdit;
    QPalette whiteBase = edit->palette();
    whiteBase.setColor(QPalette::Base, Qt::white);
    edit->setPalette(whiteBase);
    auto* log = new QPlainTextEdit(QStringLiteral("\u2588\u2588\u2588\u2588 run log"));
    QPalette blueLog = log->palette();
    blueLog.setColor(QPalette::Text, QColor(0x00, 0x00, 0xFF));
    log->setPalette(blueLog);
    for (QWidget* child : std::initializer_list<QWidget*>{paletteLabel, sheetLabel, edit, log}) {
        layout->addWidget(child);
    }
    window.resize(300, 300);
    window.ensurePolished();

    EXPECT_EQ(paletteLabel->palette().color(QPalette::WindowText), QColor(0x00, 0x00, 0xFF));
    EXPECT_EQ(log->palette().color(QPalette::Text), QColor(0x00, 0x00, 0xFF));
    EXPECT_TRUE(AnyPixel(*paletteLabel, IsBlue));
    EXPECT_TRUE(AnyPixel(*sheetLabel, IsRed));
    EXPECT_TRUE(AnyPixel(*log, IsBlue));
    const QImage editPicture = edit->grab().toImage();
    EXPECT_EQ(editPicture.pixelColor(editPicture.width() / 2, editPicture.height() / 2), QColor(Qt::white));
}

TEST_F(SkinGuiTest, ButtonsAreDrawnByTheSkin) {
    QPushButton button;
    button.resize(80, 24);
    const QImage picture = button.grab().toImage();
    const QColor middle = picture.pixelColor(picture.width() / 2, picture.height() / 2);
    EXPECT_GT(middle.blue(), middle.red() + 8) << "light blue face, not the plain grey one";
}

TEST_F(SkinGuiTest, EveryColourOfTheSkinIsOneTheAdjustmentCanShift) {
    // A named colour ("white") would escape the hue and saturation adjustment.
    const std::string_view skin = BuiltInSkin();
    const QString text = QString::fromUtf8(skin.data(), static_cast<qsizetype>(skin.size()));
    const QRegularExpression declaration(QStringLiteral("[-a-z]+\\s*:\\s*([^;{}]*);"));
    const QRegularExpression word(QStringLiteral("(?<![#\\w])[A-Za-z]+"));
    int declarations = 0;
    for (auto it = declaration.globalMatch(text); it.hasNext();) {
        const QString value = it.next().captured(1);
        ++declarations;
        for (auto words = word.globalMatch(value); words.hasNext();) {
            const QString name = words.next().captured(0);
            EXPECT_FALSE(QColor::isValidColorName(name) && name != QStringLiteral("transparent"))
                << name.toStdString() << " in " << value.toStdString();
        }
    }
    EXPECT_GT(declarations, 20);
}

}  // namespace
}  // namespace qj
