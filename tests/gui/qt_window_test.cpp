#include <gtest/gtest.h>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QUrl>
#include <atomic>
#include <thread>

#include "gui/message_box.h"
#include "gui_test_support.h"
#include "platform/program_folder.h"
#include "settings/ini_file.h"
#include "settings/settings_store.h"
#include "temporary_home.h"
#include "text/text_helpers.h"
#include "window/memory_window.h"
#include "app/run_log.h"

namespace qj {
namespace {

using gui::FromQt;
using gui::QtWindow;
using gui::ToQt;
using testing::G;
using testing::OpenedMainWindow;
using testing::TemporaryHome;
using testing::WaitFor;

bool HasQtClassOfKind(QWidget* widget, const Text& kindName) {
    if (kindName == kind::kEdit) {
        return qobject_cast<QLineEdit*>(widget) || qobject_cast<QPlainTextEdit*>(widget);
    }
    if (kindName == kind::kCheck) {
        return qobject_cast<QCheckBox*>(widget);
    }
    if (kindName == kind::kRadio) {
        return qobject_cast<QRadioButton*>(widget);
    }
    if (kindName == kind::kButton) {
        return qobject_cast<QPushButton*>(widget);
    }
    if (kindName == kind::kLabel) {
        return qobject_cast<QLabel*>(widget);
    }
    if (kindName == kind::kGroup) {
        return qobject_cast<QGroupBox*>(widget);
    }
    if (kindName == kind::kTab) {
        return qobject_cast<QTabWidget*>(widget);
    }
    if (kindName == kind::kList) {
        return qobject_cast<QTreeWidget*>(widget);
    }
    if (kindName == kind::kProgress) {
        return qobject_cast<QProgressBar*>(widget);
    }
    return false;
}

TEST(QtWindow, FrameIsFixedWithMinimiseButNoMaximise) {
    TemporaryHome home;
    OpenedMainWindow window;
    QWidget* top = window->TopLevel();
    EXPECT_EQ(top->windowTitle(), QStringLiteral("青笺"));
    EXPECT_EQ(top->size(), QSize(1016, 738));
    EXPECT_EQ(top->minimumSize(), top->maximumSize());
    EXPECT_TRUE(top->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(top->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(top->windowFlags() & Qt::WindowCloseButtonHint);
    const QPoint screenCentre = top->screen()->availableGeometry().center();
    EXPECT_LE((top->geometry().center() - screenCentre).manhattanLength(), 40);
    auto* tab = window.Get<QTabWidget>(control::kTabMain);
    EXPECT_EQ(tab->currentIndex(), 1);
    EXPECT_EQ(tab->tabText(1), QStringLiteral("百度文心"));
}

TEST(QtWindow, EveryControlOfTheTableWithNameKindParentGeometryAndCaption) {
    TemporaryHome home;
    OpenedMainWindow window;
    auto* tab = window.Get<QTabWidget>(control::kTabMain);
    for (const ControlRow& row : MainWindowLayout().controls) {
        SCOPED_TRACE(AnsiToUtf8(row.name));
        QWidget* widget = window->Control(row.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->objectName(), ToQt(row.name));
        EXPECT_TRUE(HasQtClassOfKind(widget, row.kind));

        const Text parent = row.parent;
        if (parent.empty()) {
            EXPECT_EQ(widget->parentWidget(), window->TopLevel());
        } else if (parent == control::kTabMain) {
            EXPECT_EQ(widget->parentWidget(), tab->widget(row.page));
            window->SetCurrentTabPage(control::kTabMain, row.page);
        } else {
            EXPECT_EQ(widget->parentWidget(), window->Control(row.parent));
        }
        EXPECT_EQ(window->GeometryInParent(row.name), QRect(row.left, row.top, row.width, row.height));

        const Text kindName = row.kind;
        if (kindName == kind::kLabel && Text(row.name) != control::kLabelCurrentVersion) {
            EXPECT_EQ(window->GetText(row.name, kPropContent), CaptionOf(row));
        } else if (kindName == kind::kButton || kindName == kind::kCheck || kindName == kind::kRadio) {
            EXPECT_EQ(window->GetText(row.name, kPropCaption), CaptionOf(row));
        }
    }
    // Each control's place in the window is the sum of its parents' places.
    QWidget* list = window->Control(control::kListAdverts);
    window->SetCurrentTabPage(control::kTabMain, page::kBusiness);
    EXPECT_EQ(list->mapTo(window->TopLevel(), QPoint(0, 0)), QPoint(0 + 6 + 3, 0 + 25 + 48));
}

TEST(QtWindow, ColoursFontsAndMultiLineEdits) {
    TemporaryHome home;
    OpenedMainWindow window;
    EXPECT_EQ(window.Get<QLabel>(control::kLabelCredit)->palette().color(QPalette::WindowText), QColor(0, 0x80, 0));
    EXPECT_EQ(window.Get<QLabel>(control::kLabelKeywordHint)->palette().color(QPalette::WindowText),
              QColor(0, 0, 0xFF));
    EXPECT_EQ(window.Get<QLabel>(control::kLabelAdvertNotice)->palette().color(QPalette::WindowText),
              QColor(0xFF, 0x80, 0));
    EXPECT_EQ(window.Get<QLabel>(control::kLabelBlog)->palette().color(QPalette::WindowText), QColor(0xFF, 0, 0));
    for (const char* bold : {control::kLabelAdvertNotice, control::kLabelCurrentVersion}) {
        EXPECT_TRUE(window->Control(bold)->font().bold());
        EXPECT_EQ(window->Control(bold)->font().pixelSize(), 12);
    }
    EXPECT_FALSE(window->Control(control::kLabelApiKey)->font().bold());

    auto* log = window.Get<QPlainTextEdit>(control::kEditRunLog);
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->palette().color(QPalette::Text), QColor(0, 0, 0xFF));
    EXPECT_EQ(log->palette().color(QPalette::Base), QColor(Qt::white));
    EXPECT_EQ(log->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_NE(window.Get<QPlainTextEdit>(control::kEditLatestVersion), nullptr);
    EXPECT_NE(window.Get<QLineEdit>(control::kEditOpenAiKey), nullptr);
    EXPECT_TRUE(window.Get<QLabel>(control::kLabelUsage)->wordWrap());
    EXPECT_EQ(window.Get<QLabel>(control::kLabelUsage)->textFormat(), Qt::PlainText);

    // The window font is one that draws Chinese, 12 pixels high.
    const QFont font = window->TopLevel()->font();
    EXPECT_EQ(font.pixelSize(), 12);
    const QString family = QFontInfo(font).family();
    EXPECT_TRUE(QFontDatabase::families(QFontDatabase::SimplifiedChinese).contains(family)) << family.toStdString();
    EXPECT_TRUE(QFontMetrics(font).inFontUcs4(U'笺'));
}

// The lowest pixel row of a widget's picture that holds its text colour; -1 when none does.
int LowestInkRow(QWidget* widget, const QColor& ink) {
    const QImage picture = widget->grab().toImage();
    for (int y = picture.height() - 1; y >= 0; --y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QColor pixel = picture.pixelColor(x, y);
            if (pixel.blue() > 160 && pixel.red() < 140 && pixel.green() < 140 && ink.blue() == 255) {
                return y;
            }
        }
    }
    return -1;
}

TEST(QtWindow, TheUsageTextFitsItsBoxWhateverTheFontsLineSpacing) {
    TemporaryHome home;
    OpenedMainWindow window;
    window->SetCurrentTabPage(control::kTabMain, page::kChatGpt);
    QWidget* usage = window->Control(control::kLabelUsage);
    const int lowest = LowestInkRow(usage, QColor(0, 0, 0xFF));
    EXPECT_GT(lowest, usage->height() - 20);  // the last line is drawn near the bottom...
    EXPECT_LT(lowest, usage->height() - 1);   // ...and not cut by it
}

// The hint beside 导入 names three encodings: its last character is drawn inside the label.
TEST(QtWindow, TheKeywordHintFitsItsLabel) {
    TemporaryHome home;
    OpenedMainWindow window;
    window->SetCurrentTabPage(control::kTabMain, page::kChatGpt);
    QWidget* hint = window->Control(control::kLabelKeywordHint);
    const QImage picture = hint->grab().toImage();
    int rightmost = -1;
    for (int x = 0; x < picture.width(); ++x) {
        for (int y = 0; y < picture.height(); ++y) {
            const QColor pixel = picture.pixelColor(x, y);
            if (pixel.blue() > 160 && pixel.red() < 140 && pixel.green() < 140) {
                rightmost = x;
            }
        }
    }
    EXPECT_GT(rightmost, hint->width() / 2);
    EXPECT_LT(rightmost, hint->width() - 8) << "the text runs to the label's edge";
}

TEST(QtWindow, AdvertListHasTwoColumnsWithTheirHeaders) {
    TemporaryHome home;
    OpenedMainWindow window;
    auto* list = window.Get<QTreeWidget>(control::kListAdverts);
    ASSERT_EQ(list->columnCount(), 2);
    EXPECT_EQ(list->headerItem()->text(0), QStringLiteral("#"));
    EXPECT_EQ(list->columnWidth(0), 50);
    EXPECT_EQ(list->columnWidth(1), 940);
    const QString header = list->headerItem()->text(1);
    const QString phrase = QStringLiteral(">>>>>双击该栏广告，即可查看广告详情<<<<<");
    EXPECT_TRUE(header.startsWith(phrase + QStringLiteral("     【")));
    EXPECT_TRUE(header.endsWith(QStringLiteral("】     ") + phrase));
    EXPECT_EQ(list->headerItem()->textAlignment(1) & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_EQ(list->headerItem()->textAlignment(0) & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    EXPECT_FALSE(list->rootIsDecorated());

    const int row = window->ListAddRow(control::kListAdverts, "1");
    window->ListSetCellText(control::kListAdverts, row, 1, G("广告一"));
    window->ListSetCellColours(control::kListAdverts, row, 1, RgbColour(0xFF, 0, 0), RgbColour(0, 0, 0xFF));
    QTreeWidgetItem* item = list->topLevelItem(row);
    EXPECT_EQ(item->text(1), QStringLiteral("广告一"));
    EXPECT_EQ(item->foreground(1).color(), QColor(0xFF, 0, 0));
    EXPECT_EQ(item->background(1).color(), QColor(0, 0, 0xFF));
    EXPECT_EQ(item->textAlignment(1) & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    window->ListSetCellColours(control::kListAdverts, row, 1, std::nullopt, std::nullopt);
    EXPECT_EQ(item->data(1, Qt::ForegroundRole), QVariant());
}

// What the model's properties do to the widgets; the properties themselves are the window
// conformance suite's.
TEST(QtWindow, PropertiesByNumberShowOnTheWidgets) {
    TemporaryHome home;
    OpenedMainWindow window;
    window->SetNumber(control::kButtonStart, kPropDisabled, 1);
    EXPECT_FALSE(window.Get<QPushButton>(control::kButtonStart)->isEnabled());

    window->SetText(control::kButtonQueryCredit, kPropCaption, G("查询中.."));
    EXPECT_EQ(window.Get<QPushButton>(control::kButtonQueryCredit)->text(), QStringLiteral("查询中.."));

    // The radio boxes of a page form one group.
    window->SetNumber(control::kRadioInterfaceTwo, kPropChecked, 1);
    EXPECT_FALSE(window.Get<QRadioButton>(control::kRadioInterfaceOne)->isChecked());

    window->SetText(control::kEditLatestVersion, kPropContent, G("一\r\n二\r\n"));
    EXPECT_EQ(window.Get<QPlainTextEdit>(control::kEditLatestVersion)->toPlainText(), QStringLiteral("一\n二\n"));
}

TEST(QtWindow, AppendGoesToTheEndAndShowsIt) {
    TemporaryHome home;
    OpenedMainWindow window;
    auto* log = window.Get<QPlainTextEdit>(control::kEditRunLog);
    log->moveCursor(QTextCursor::Start);
    for (int i = 0; i < 100; ++i) {
        window->AppendText(control::kEditRunLog, G("第") + std::to_string(i) + G("行\r\n"));
    }
    EXPECT_TRUE(log->toPlainText().endsWith(QStringLiteral("第99行\n")));
    EXPECT_TRUE(log->textCursor().atEnd());
    EXPECT_GT(log->verticalScrollBar()->maximum(), 0);
    EXPECT_GT(log->verticalScrollBar()->value(), 0);
    EXPECT_TRUE(log->viewport()->rect().contains(log->cursorRect()));
}

// A key pasted with its line break must not reach a request header or split a settings line; the
// in-memory window of the batch mode must keep the same texts as the real one. (Texts the program
// sets and appends: the window conformance suite.)
TEST(QtWindow, SingleLineEditBoxesNeverHoldALineBreakHoweverTheTextArrives) {
    TemporaryHome home;
    // Written by hand or by an older version: the stored line break mark inside a key.
    const Text settings = ProgramPath(kSettingsFileTail);
    ASSERT_TRUE(WriteIniValue(settings, kind::kEdit, control::kEditOpenAiKey, "sk-x><br><y"));
    ASSERT_TRUE(WriteIniValue(settings, kind::kEdit, control::kEditInterfaceThreePrompt, "a><br><b"));
    OpenedMainWindow window;
    MemoryWindow memory(MainWindowLayout().controls);
    OnMainWindowCreated(memory);
    for (WindowModel* w : {static_cast<WindowModel*>(&*window), static_cast<WindowModel*>(&memory)}) {
        EXPECT_EQ(w->GetText(control::kEditOpenAiKey, kPropContent), "sk-xy");
        EXPECT_EQ(w->GetText(control::kEditInterfaceThreePrompt, kPropContent), "a\r\nb");
    }

    // Pasted by the user: the single-line box drops the breaks where they were, the prompt keeps them.
    auto* key = window.Get<QLineEdit>(control::kEditOpenAiKey);
    key->setText(QStringLiteral("sk-[]"));
    key->setCursorPosition(4);
    QGuiApplication::clipboard()->setText(QStringLiteral("abc\r\ndef\n"));
    QTest::keySequence(key, QKeySequence::Paste);
    EXPECT_EQ(key->text(), QStringLiteral("sk-[abcdef]"));
    EXPECT_EQ(key->cursorPosition(), 10);
    EXPECT_EQ(window->GetText(control::kEditOpenAiKey, kPropContent), "sk-[abcdef]");
    auto* prompt = window.Get<QPlainTextEdit>(control::kEditInterfaceThreePrompt);
    prompt->clear();
    QGuiApplication::clipboard()->setText(QStringLiteral("abc\ndef"));
    QTest::keySequence(prompt, QKeySequence::Paste);
    EXPECT_EQ(window->GetText(control::kEditInterfaceThreePrompt, kPropContent), "abc\r\ndef");
}

class RecordingEvents {
public:
    WindowEvents Events() {
        return WindowEvents{
            .clicked = [this](WindowModel&, const Text& name) { clicked.push_back(name); },
            .pageSwitched = [this](WindowModel&, const Text& name, int page) { pages.emplace_back(name, page); },
            .doubleClicked = [this](WindowModel&, const Text& name) { doubleClicked.push_back(name); },
        };
    }
    std::vector<Text> clicked;
    std::vector<std::pair<Text, int>> pages;
    std::vector<Text> doubleClicked;
};

TEST(QtWindow, UserActionsBecomeEventsButProgramChangesDoNot) {
    TemporaryHome home;
    RecordingEvents recorder;
    OpenedMainWindow window(recorder.Events());
    EXPECT_TRUE(recorder.pages.empty());  // opening on page 1 is no switch

    window.Click(control::kButtonStart);
    window.Click(control::kButtonQueryCredit);
    EXPECT_EQ(recorder.clicked, (std::vector<Text>{control::kButtonStart, control::kButtonQueryCredit}));
    EXPECT_TRUE(recorder.pages.empty());  // Click showed page 0 through the model

    auto* tab = window.Get<QTabWidget>(control::kTabMain);
    QTest::mouseClick(tab->tabBar(), Qt::LeftButton, Qt::NoModifier, tab->tabBar()->tabRect(3).center());
    ASSERT_EQ(recorder.pages.size(), 1u);
    EXPECT_EQ(recorder.pages[0], std::make_pair(Text(control::kTabMain), 3));
    EXPECT_EQ(window->CurrentTabPage(control::kTabMain), 3);

    auto* list = window.Get<QTreeWidget>(control::kListAdverts);
    window->ListAddRow(control::kListAdverts, "1");
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(30, 5));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(30, 300));  // below the rows
    EXPECT_EQ(recorder.doubleClicked, (std::vector<Text>(2, control::kListAdverts)));
    EXPECT_EQ(window->GetNumber(control::kListAdverts, kPropListSelection), 0);
}

TEST(QtWindow, CallsFromWorkersRunOnTheGuiThreadOneWholeLineAtATime) {
    TemporaryHome home;
    OpenedMainWindow window;
    const Text before = window->GetText(control::kEditRunLog, kPropContent);
    constexpr int kWorkers = 4;
    constexpr int kLines = 50;
    std::atomic<int> finished{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([w, &finished] {
            for (int i = 0; i < kLines; ++i) {
                RunLog(G("工人") + std::to_string(w) + G("第") + std::to_string(i) + G("行"));
            }
            ++finished;
        });
    }
    EXPECT_TRUE(WaitFor([&] { return finished == kWorkers; }));
    for (std::thread& worker : workers) {
        worker.join();
    }
    const Text after = window->GetText(control::kEditRunLog, kPropContent);
    ASSERT_EQ(after.substr(0, before.size()), before);
    const TextList lines = SplitText(after.substr(before.size()), "\r\n");
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kWorkers * kLines));
    for (const Text& line : lines) {
        EXPECT_EQ(line.rfind(G("【"), 0), 0u) << AnsiToUtf8(line);
        EXPECT_NE(line.find(G("】 > > >  工人")), Text::npos) << AnsiToUtf8(line);
    }
}

TEST(QtWindow, AMessageBoxFromAWorkerIsAnsweredByTheTest) {
    TemporaryHome home;
    OpenedMainWindow window;
    gui::QueueMessageBoxAnswer();
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        MainWindow()->MessageBox(G("来自工作线程"), G("信息："), MessageIcon::kWarning);
        returned = true;
    });
    EXPECT_TRUE(WaitFor([&] { return returned.load(); }));
    worker.join();
    const auto answered = gui::TakeAnsweredMessageBoxes();
    ASSERT_EQ(answered.size(), 1u);
    EXPECT_EQ(answered[0].text, QStringLiteral("来自工作线程"));
    EXPECT_EQ(answered[0].caption, QStringLiteral("信息："));
    EXPECT_EQ(answered[0].icon, MessageIcon::kWarning);
}

TEST(QtWindow, LongTextCollectionsLetTheGuiThreadHandleItsEvents) {
    bool ran = false;
    QMetaObject::invokeMethod(
        qApp, [&] { ran = true; }, Qt::QueuedConnection);
    TextList items;
    AllTextsBetween("<a>1</a>", "<a>", "</a>", items);
    EXPECT_TRUE(ran);
}

// A window with a combo box, which the main window lacks.
TEST(QtWindow, ComboBoxesRoundTripThroughTheSettingsStore) {
    TemporaryHome home;
    // The table is GBK: convert its UTF-8 names once.
    static const Text name = G("组合框_甲");
    static const ControlRow controls[] = {
        {.name = name.c_str(), .kind = kind::kCombo, .left = 10, .top = 10, .width = 200, .height = 24}};
    const WindowLayout layout{.title = "combo", .controls = controls};
    Text path = ProgramPath("combo.ini");
    {
        auto window = QtWindow::Create(layout, {});
        window->ComboAddItem(name, G("甲"), 5);
        window->ComboAddItem(name, "B", 7);
        window->SetNumber(name, kPropComboSelection, 1);
        EXPECT_EQ(window->GetText(name, kPropComboText), "B");
        window->SetText(name, kPropComboText, G("自己输入"));
        EXPECT_EQ(ComboValue(*window, name), G("甲<|>5<||>B<|>7<||>1<|>自己输入"));
        EXPECT_FALSE(SaveComboBoxes(*window, path).failure);
    }
    auto restored = QtWindow::Create(layout, {});
    RestoreComboBoxes(*restored, path);
    ASSERT_EQ(restored->ComboItemCount(name), 2);
    EXPECT_EQ(restored->ComboItemText(name, 0), G("甲"));
    EXPECT_EQ(restored->ComboItemData(name, 1), 7);
    EXPECT_EQ(restored->GetNumber(name, kPropComboSelection), 1);
    EXPECT_EQ(restored->GetText(name, kPropComboText), G("自己输入"));
}

TEST(QtWindow, ABrokenTableIsRefusedWithAReason) {
    const ControlRow orphan[] = {{.name = "a", .kind = kind::kButton, .parent = "nowhere"}};
    const ControlRow twice[] = {{.name = "a", .kind = kind::kButton}, {.name = "a", .kind = kind::kLabel}};
    const ControlRow unknownKind[] = {{.name = "a", .kind = "gadget"}};
    const char* pages[] = {"only"};
    const ControlRow badPage[] = {{.name = "t", .kind = kind::kTab, .pages = pages},
                                  {.name = "a", .kind = kind::kButton, .parent = "t", .page = 1}};
    for (ControlTable table :
         {ControlTable(orphan), ControlTable(twice), ControlTable(unknownKind), ControlTable(badPage)}) {
        Text error;
        EXPECT_EQ(QtWindow::Create(WindowLayout{.title = "x", .controls = table}, {}, &error), nullptr);
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
}  // namespace qj
