#include "gui/qt_window.h"

#include <algorithm>
#include <limits>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QEvent>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QTextLayout>
#include <QThread>
#include <QTreeWidget>
#include <QUrl>
#include <QValidator>

#include "gui/message_box.h"
#include "gui/qt_text.h"
#include "text/text_helpers.h"

namespace qj::gui {

namespace {

QColor ToQColor(Colour c) {
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

Colour FromQColor(const QColor& c) {
    return RgbColour(static_cast<unsigned>(c.red()), static_cast<unsigned>(c.green()), static_cast<unsigned>(c.blue()));
}

Qt::Alignment ToQtAlignment(Alignment a) {
    switch (a) {
        case Alignment::kCentre:
            return Qt::AlignHCenter | Qt::AlignVCenter;
        case Alignment::kRight:
            return Qt::AlignRight | Qt::AlignVCenter;
        case Alignment::kLeft:
            break;
    }
    return Qt::AlignLeft | Qt::AlignVCenter;
}

// A tab control whose page children are placed relative to the tab control as a whole, tab strip
// included: their place on the page is their table place less the page's offset in the control.
class TabControl : public QTabWidget {
public:
    using QTabWidget::QTabWidget;

    void AddPageChild(QWidget* child, const QRect& geometry) {
        children_.push_back({child, geometry});
        Place();
    }

    QPoint PageOffset() const {
        QWidget* page = currentWidget();
        QWidget* stack = page ? page->parentWidget() : nullptr;
        return stack ? stack->mapTo(this, QPoint(0, 0)) : QPoint(0, 0);
    }

protected:
    void showEvent(QShowEvent* event) override {
        QTabWidget::showEvent(event);
        Place();
    }
    void resizeEvent(QResizeEvent* event) override {
        QTabWidget::resizeEvent(event);
        Place();
    }
    void changeEvent(QEvent* event) override {
        QTabWidget::changeEvent(event);
        if (event->type() == QEvent::StyleChange || event->type() == QEvent::FontChange) {
            Place();
        }
    }

private:
    void Place() {
        const QPoint offset = PageOffset();
        for (auto& [child, geometry] : children_) {
            if (child) {
                child->setGeometry(geometry.translated(-offset));
            }
        }
    }

    std::vector<std::pair<QPointer<QWidget>, QRect>> children_;
};

// Reports every double-click on a list, on a row or not, as the list's own event.
class DoubleClickFilter : public QObject {
public:
    DoubleClickFilter(QObject* parent, std::function<void()> onDoubleClick)
        : QObject(parent), onDoubleClick_(std::move(onDoubleClick)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonDblClick && onDoubleClick_) {
            onDoubleClick_();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> onDoubleClick_;
};

// A label whose wrapped lines always fit its box: fonts that stand in for SimSun have a taller line
// spacing, so when the lines would run out of the box they are drawn closer, down to the font's
// pixel size, which is SimSun's own spacing.
class WrappingLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent*) override {
        const QFontMetricsF metrics(font());
        std::vector<std::unique_ptr<QTextLayout>> paragraphs;
        int lineCount = 0;
        QStringList texts = text().split(QLatin1Char('\n'));
        while (!texts.isEmpty() && texts.back().isEmpty()) {
            texts.pop_back();  // trailing line breaks draw nothing
        }
        for (const QString& paragraph : texts) {
            auto layout = std::make_unique<QTextLayout>(paragraph, font());
            QTextOption option;
            option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
            layout->setTextOption(option);
            layout->beginLayout();
            for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
                line.setLineWidth(width());
            }
            layout->endLayout();
            lineCount += std::max(1, layout->lineCount());
            paragraphs.push_back(std::move(layout));
        }
        qreal pitch = metrics.lineSpacing();
        if (lineCount > 1 && pitch * (lineCount - 1) + metrics.height() > height()) {
            pitch = std::max(static_cast<qreal>(font().pixelSize()),
                             (height() - metrics.height()) / static_cast<qreal>(lineCount - 1));
        }
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        qreal y = 0;
        for (const auto& layout : paragraphs) {
            if (layout->lineCount() == 0) {
                y += pitch;
                continue;
            }
            // Every line was laid out at the top; each is drawn at its own height.
            for (int i = 0; i < layout->lineCount(); ++i) {
                layout->lineAt(i).draw(&painter, QPointF(0, y));
                y += pitch;
            }
        }
    }
};

// Keeps a single-line edit box on one line: typing, pasting, dropping and input methods all pass
// their result through the validator, which may change it. Qt's own line edit keeps a pasted line
// break, which would end up in a request header or a settings line.
class OneLineValidator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int& position) const override {
        QString kept;
        kept.reserve(input.size());
        int keptPosition = position;
        for (int i = 0; i < input.size(); ++i) {
            if (input[i] == QLatin1Char('\r') || input[i] == QLatin1Char('\n')) {
                if (i < position) {
                    --keptPosition;
                }
            } else {
                kept += input[i];
            }
        }
        input = kept;
        position = keptPosition;
        return Acceptable;
    }
};

// The top-level window. The window's end (close box or event loop) is the owner's business.
class TopLevelWidget : public QWidget {
public:
    TopLevelWidget()
        : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                               Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {}
};

}  // namespace

void InstallPendingMessagesHook() {
    SetPendingMessagesHook([] {
        QCoreApplication* app = QCoreApplication::instance();
        if (app && QThread::currentThread() == app->thread()) {
            QCoreApplication::processEvents();
        }
    });
}

QFont WindowFont() {
    static const QStringList candidates = {"SimSun",
                                           "NSimSun",
                                           "WenQuanYi Micro Hei",
                                           "Noto Sans CJK SC",
                                           "Source Han Sans SC",
                                           "Droid Sans Fallback",
                                           "AR PL UMing CN"};
    QStringList installed;
    const QStringList families = QFontDatabase::families();
    for (const QString& family : candidates) {
        if (families.contains(family, Qt::CaseInsensitive)) {
            installed.push_back(family);
        }
    }
    QFont font;
    if (!installed.isEmpty()) {
        font.setFamilies(installed);
    }
    font.setPixelSize(12);
    font.setWeight(QFont::Normal);
    return font;
}

std::unique_ptr<QtWindow> QtWindow::Create(const WindowLayout& layout, WindowEvents events, Text* error) {
    std::unique_ptr<QtWindow> window(new QtWindow(layout, std::move(events)));
    Text reason;
    if (!window->Build(&reason)) {
        if (error) {
            *error = reason;
        }
        return nullptr;
    }
    return window;
}

QtWindow::QtWindow(const WindowLayout& layout, WindowEvents events) : ToolkitWindow(layout, std::move(events)) {}

QtWindow::~QtWindow() {
    Close();
}

bool QtWindow::Build(Text* error) {
    window_ = new TopLevelWidget;
    window_->setWindowTitle(ToQt(Layout().title));
    window_->setFont(WindowFont());
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, window_, [this] { BeginClosing(); });
    if (!BuildControls(error)) {
        Close();
        return false;
    }
    const ClientSize client = ClientSizeOf(Layout());
    window_->setFixedSize(client.width, client.height);
    return true;
}

bool QtWindow::BuildControl(const ControlRow& row, Text* error) {
    QWidget* parent = window_;
    TabControl* tabParent = nullptr;
    if (!std::string_view(row.parent).empty()) {
        QWidget* container = widgets_.at(row.parent);
        if ((tabParent = dynamic_cast<TabControl*>(container))) {
            parent = tabParent->widget(row.page);
        } else {
            parent = container;
        }
    }
    const Text name = row.name;
    const QString caption = ToQtLines(CaptionOf(row));
    QWidget* widget = nullptr;

    if (IsKind(row, kind::kEdit)) {
        if (row.multiLine) {
            auto* edit = new QPlainTextEdit(parent);
            edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
            edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            if (row.keptLines > 0) {
                // A block is a line; the one behind the last line break is the last, empty block.
                edit->setMaximumBlockCount(row.keptLines + 1);
            }
            edit->setPlainText(caption);
            widget = edit;
        } else {
            auto* edit = new QLineEdit(parent);
            edit->setValidator(new OneLineValidator(edit));
            // Qt's default of 32767 characters would cut a longer text (typed, pasted or restored
            // from the settings file) without a word.
            edit->setMaxLength(std::numeric_limits<int>::max());
            edit->setText(ToQt(WithoutLineBreaks(CaptionOf(row))));
            widget = edit;
        }
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Base, Qt::white);
        if (row.textColour) {
            palette.setColor(QPalette::Text, ToQColor(*row.textColour));
        }
        widget->setPalette(palette);
    } else if (IsKind(row, kind::kButton)) {
        auto* button = new QPushButton(caption, parent);
        button->setAutoDefault(false);
        QObject::connect(button, &QPushButton::clicked, button, [this, name] { RaiseClicked(name); });
        widget = button;
    } else if (IsKind(row, kind::kCheck) || IsKind(row, kind::kRadio)) {
        QAbstractButton* box = IsKind(row, kind::kCheck) ? static_cast<QAbstractButton*>(new QCheckBox(caption, parent))
                                                         : new QRadioButton(caption, parent);
        box->setChecked(row.checked);
        QObject::connect(box, &QAbstractButton::clicked, box, [this, name] { RaiseClicked(name); });
        widget = box;
    } else if (IsKind(row, kind::kCombo)) {
        auto* combo = new QComboBox(parent);
        combo->setEditable(true);
        combo->setEditText(caption);
        widget = combo;
    } else if (IsKind(row, kind::kLabel)) {
        auto* label = row.multiLine ? new WrappingLabel(parent) : new QLabel(parent);
        label->setTextFormat(Qt::PlainText);
        label->setText(caption);
        label->setWordWrap(row.multiLine);
        label->setAlignment(row.multiLine ? (Qt::AlignLeft | Qt::AlignTop) : (Qt::AlignLeft | Qt::AlignVCenter));
        widget = label;
    } else if (IsKind(row, kind::kGroup)) {
        widget = new QGroupBox(caption, parent);
    } else if (IsKind(row, kind::kTab)) {
        auto* tab = new TabControl(parent);
        for (const char* page : row.pages) {
            tab->addTab(new QWidget, ToQt(page));
        }
        tab->setCurrentIndex(row.shownPage);
        QObject::connect(tab, &QTabWidget::currentChanged, tab, [this, name](int index) {
            if (!suppressPageEvents_) {
                RaisePageSwitched(name, index);
            }
        });
        widget = tab;
    } else if (IsKind(row, kind::kProgress)) {
        auto* bar = new QProgressBar(parent);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        widget = bar;
    } else if (IsKind(row, kind::kList)) {
        auto* list = new QTreeWidget(parent);
        list->setRootIsDecorated(false);
        list->setItemsExpandable(false);
        list->setUniformRowHeights(true);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setSelectionBehavior(QAbstractItemView::SelectRows);
        list->setEditTriggers(QAbstractItemView::NoEditTriggers);
        list->setAllColumnsShowFocus(true);
        list->setColumnCount(static_cast<int>(row.columns.size()));
        list->header()->setStretchLastSection(false);
        list->header()->setSectionsMovable(false);
        auto* header = new QTreeWidgetItem;
        for (std::size_t i = 0; i < row.columns.size(); ++i) {
            const int column = static_cast<int>(i);
            header->setText(column, ToQt(row.columns[i].header));
            header->setTextAlignment(column, ToQtAlignment(row.columns[i].alignment));
        }
        list->setHeaderItem(header);
        for (std::size_t i = 0; i < row.columns.size(); ++i) {
            list->setColumnWidth(static_cast<int>(i), row.columns[i].width);
        }
        list->viewport()->installEventFilter(new DoubleClickFilter(list, [this, name] { RaiseDoubleClicked(name); }));
        widget = list;
    } else {
        *error = Text(row.name) + ": unknown kind " + row.kind;
        return false;
    }

    widget->setObjectName(ToQt(row.name));
    if (row.textColour && !IsKind(row, kind::kEdit)) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::WindowText, ToQColor(*row.textColour));
        palette.setColor(QPalette::ButtonText, ToQColor(*row.textColour));
        widget->setPalette(palette);
    }
    if (row.bold || row.fontPixels > 0) {
        QFont font = widget->font();
        font.setBold(row.bold);
        if (row.fontPixels > 0) {
            font.setPixelSize(row.fontPixels);
        }
        widget->setFont(font);
    }
    const QRect geometry(row.left, row.top, row.width, row.height);
    if (tabParent) {
        tabParent->AddPageChild(widget, geometry);
    } else {
        widget->setGeometry(geometry);
    }
    widgets_[row.name] = widget;
    return true;
}

QWidget* QtWindow::Control(const Text& name) const {
    auto it = window_ ? widgets_.find(name) : widgets_.end();
    return it == widgets_.end() ? nullptr : it->second;
}

QRect QtWindow::GeometryInParent(const Text& name) const {
    QWidget* widget = Control(name);
    if (!widget) {
        return {};
    }
    const Text parent = RowOf(name)->parent;
    QWidget* reference = parent.empty() ? window_.data() : Control(parent);
    return QRect(widget->mapTo(reference, QPoint(0, 0)), widget->size());
}

void QtWindow::ShowCentred() {
    if (!window_) {
        return;
    }
    if (QScreen* screen = window_->screen() ? window_->screen() : QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        window_->move(available.center() - QPoint(window_->width() / 2, window_->height() / 2));
    }
    window_->show();
}

int QtWindow::RunEventLoop() {
    return QApplication::exec();
}

void QtWindow::WakeWindowThread() {
    QMetaObject::invokeMethod(
        window_.data(), [this] { RunQueuedCalls(); }, Qt::QueuedConnection);
}

void QtWindow::DestroyWidgets() {
    widgets_.clear();
    delete window_.data();
}

Text QtWindow::GetText(const Text& name, int property) const {
    return OnWindowThread([&]() -> Text {
        if (name == kWindowItself) {
            return property == kPropCaption ? FromQt(window_->windowTitle()) : Text();
        }
        QWidget* w = Control(name);
        if (!w || (property != kPropContent && property != kPropComboText && property != kPropCaption)) {
            return {};
        }
        if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            return FromQt(edit->text());
        }
        if (auto* edit = qobject_cast<QPlainTextEdit*>(w)) {
            return FromQtLines(edit->toPlainText());
        }
        if (auto* label = qobject_cast<QLabel*>(w)) {
            return FromQtLines(label->text());
        }
        if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            return FromQt(button->text());
        }
        if (auto* combo = qobject_cast<QComboBox*>(w)) {
            return FromQt(combo->currentText());
        }
        if (auto* group = qobject_cast<QGroupBox*>(w)) {
            return FromQt(group->title());
        }
        return {};
    });
}

void QtWindow::SetText(const Text& name, int property, const Text& value) {
    OnWindowThread([&] {
        if (name == kWindowItself) {
            if (property == kPropCaption) {
                window_->setWindowTitle(ToQt(value));
            }
            return;
        }
        QWidget* w = Control(name);
        if (!w || (property != kPropContent && property != kPropComboText && property != kPropCaption)) {
            return;
        }
        if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            edit->setText(ToQt(WithoutLineBreaks(value)));
        } else if (auto* edit = qobject_cast<QPlainTextEdit*>(w)) {
            edit->setPlainText(ToQtLines(value));
        } else if (auto* label = qobject_cast<QLabel*>(w)) {
            label->setText(ToQtLines(value));
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            button->setText(ToQt(value));
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            combo->setEditText(ToQt(value));
        } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
            group->setTitle(ToQt(value));
        }
    });
}

long long QtWindow::GetNumber(const Text& name, int property) const {
    return OnWindowThread([&]() -> long long {
        QWidget* w = Control(name);
        if (!w) {
            return 0;
        }
        switch (property) {
            case kPropDisabled:
                return w->testAttribute(Qt::WA_ForceDisabled) ? 1 : 0;
            case kPropChecked:
                if (auto* box = qobject_cast<QAbstractButton*>(w); box && box->isCheckable()) {
                    return box->isChecked() ? 1 : 0;
                }
                return 0;
            case kPropComboSelection:
                if (auto* combo = qobject_cast<QComboBox*>(w)) {
                    return combo->currentIndex();
                }
                return 0;
            case kPropListSelection:
                if (auto* list = qobject_cast<QTreeWidget*>(w)) {
                    QTreeWidgetItem* item = list->currentItem();
                    return item && item->isSelected() ? list->indexOfTopLevelItem(item) : -1;
                }
                return 0;
            case kPropProgressValue:
                if (auto* bar = qobject_cast<QProgressBar*>(w)) {
                    return bar->value();
                }
                return 0;
            case kPropProgressMaximum:
                if (auto* bar = qobject_cast<QProgressBar*>(w)) {
                    return bar->maximum();
                }
                return 0;
            default:
                return 0;
        }
    });
}

void QtWindow::SetNumber(const Text& name, int property, long long value) {
    OnWindowThread([&] {
        QWidget* w = Control(name);
        if (!w) {
            return;
        }
        switch (property) {
            case kPropDisabled:
                w->setEnabled(value == 0);
                break;
            case kPropChecked:
                if (auto* radio = qobject_cast<QRadioButton*>(w); radio && value == 0 && radio->isChecked()) {
                    // An exclusive radio box refuses to be unchecked; the window model allows it.
                    radio->setAutoExclusive(false);
                    radio->setChecked(false);
                    radio->setAutoExclusive(true);
                } else if (auto* box = qobject_cast<QAbstractButton*>(w); box && box->isCheckable()) {
                    box->setChecked(value != 0);
                }
                break;
            case kPropComboSelection:
                if (auto* combo = qobject_cast<QComboBox*>(w)) {
                    combo->setCurrentIndex(value >= 0 && value < combo->count() ? static_cast<int>(value) : -1);
                }
                break;
            case kPropListSelection:
                if (auto* list = qobject_cast<QTreeWidget*>(w)) {
                    if (value >= 0 && value < list->topLevelItemCount()) {
                        list->setCurrentItem(list->topLevelItem(static_cast<int>(value)));
                    } else {
                        list->clearSelection();
                        list->setCurrentItem(nullptr);
                    }
                }
                break;
            case kPropProgressValue:
                if (auto* bar = qobject_cast<QProgressBar*>(w)) {
                    bar->setValue(static_cast<int>(std::clamp<long long>(value, bar->minimum(), bar->maximum())));
                }
                break;
            case kPropProgressMaximum:
                if (auto* bar = qobject_cast<QProgressBar*>(w)) {
                    bar->setMaximum(static_cast<int>(std::clamp<long long>(value, 0, 1 << 30)));
                }
                break;
            default:
                break;
        }
    });
}

void QtWindow::AppendText(const Text& name, const Text& text) {
    OnWindowThread([&] {
        QWidget* w = Control(name);
        if (auto* edit = qobject_cast<QPlainTextEdit*>(w)) {
            edit->moveCursor(QTextCursor::End);
            edit->insertPlainText(ToQtLines(text));
            edit->ensureCursorVisible();
        } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            edit->end(false);
            edit->insert(ToQt(WithoutLineBreaks(text)));
        }
    });
}

int QtWindow::CurrentTabPage(const Text& name) const {
    return OnWindowThread([&] {
        auto* tab = qobject_cast<QTabWidget*>(Control(name));
        return tab ? tab->currentIndex() : -1;
    });
}

void QtWindow::SetCurrentTabPage(const Text& name, int page) {
    OnWindowThread([&] {
        auto* tab = qobject_cast<QTabWidget*>(Control(name));
        if (tab && page >= 0 && page < tab->count()) {
            suppressPageEvents_ = true;
            tab->setCurrentIndex(page);
            suppressPageEvents_ = false;
        }
    });
}

int QtWindow::ComboItemCount(const Text& name) const {
    return OnWindowThread([&] {
        auto* combo = qobject_cast<QComboBox*>(Control(name));
        return combo ? combo->count() : 0;
    });
}

Text QtWindow::ComboItemText(const Text& name, int index) const {
    return OnWindowThread([&]() -> Text {
        auto* combo = qobject_cast<QComboBox*>(Control(name));
        return combo && index >= 0 && index < combo->count() ? FromQt(combo->itemText(index)) : Text();
    });
}

long long QtWindow::ComboItemData(const Text& name, int index) const {
    return OnWindowThread([&]() -> long long {
        auto* combo = qobject_cast<QComboBox*>(Control(name));
        return combo && index >= 0 && index < combo->count() ? combo->itemData(index).toLongLong() : 0;
    });
}

void QtWindow::ComboClear(const Text& name) {
    OnWindowThread([&] {
        if (auto* combo = qobject_cast<QComboBox*>(Control(name))) {
            combo->clear();
        }
    });
}

void QtWindow::ComboAddItem(const Text& name, const Text& text, long long data) {
    OnWindowThread([&] {
        if (auto* combo = qobject_cast<QComboBox*>(Control(name))) {
            // Adding an item changes neither the selection nor the edit text.
            const int selection = combo->currentIndex();
            const QString edit = combo->currentText();
            combo->addItem(ToQt(text), QVariant::fromValue<qlonglong>(data));
            combo->setCurrentIndex(selection);
            combo->setEditText(edit);
        }
    });
}

int QtWindow::ListRowCount(const Text& name) const {
    return OnWindowThread([&] {
        auto* list = qobject_cast<QTreeWidget*>(Control(name));
        return list ? list->topLevelItemCount() : 0;
    });
}

void QtWindow::ListClear(const Text& name) {
    OnWindowThread([&] {
        if (auto* list = qobject_cast<QTreeWidget*>(Control(name))) {
            list->clear();
        }
    });
}

int QtWindow::ListAddRow(const Text& name, const Text& firstCell) {
    return OnWindowThread([&] {
        auto* list = qobject_cast<QTreeWidget*>(Control(name));
        if (!list) {
            return -1;
        }
        auto* item = new QTreeWidgetItem(list);
        const ControlRow* row = RowOf(name);
        for (std::size_t i = 0; i < row->columns.size(); ++i) {
            item->setTextAlignment(static_cast<int>(i), ToQtAlignment(row->columns[i].alignment));
        }
        item->setText(0, ToQt(firstCell));
        return list->indexOfTopLevelItem(item);
    });
}

Text QtWindow::ListCellText(const Text& name, int row, int column) const {
    return OnWindowThread([&]() -> Text {
        auto* list = qobject_cast<QTreeWidget*>(Control(name));
        QTreeWidgetItem* item = list && row >= 0 ? list->topLevelItem(row) : nullptr;
        return item && column >= 0 ? FromQt(item->text(column)) : Text();
    });
}

void QtWindow::ListSetCellText(const Text& name, int row, int column, const Text& text) {
    OnWindowThread([&] {
        auto* list = qobject_cast<QTreeWidget*>(Control(name));
        QTreeWidgetItem* item = list && row >= 0 ? list->topLevelItem(row) : nullptr;
        if (item && column >= 0 && column < 64) {
            item->setText(column, ToQt(text));
        }
    });
}

void QtWindow::ListSetCellColours(const Text& name, int row, int column, std::optional<Colour> text,
                                  std::optional<Colour> background) {
    OnWindowThread([&] {
        auto* list = qobject_cast<QTreeWidget*>(Control(name));
        QTreeWidgetItem* item = list && row >= 0 ? list->topLevelItem(row) : nullptr;
        if (!item || column < 0) {
            return;
        }
        item->setData(column, Qt::ForegroundRole, text ? QVariant(QBrush(ToQColor(*text))) : QVariant());
        item->setData(column, Qt::BackgroundRole, background ? QVariant(QBrush(ToQColor(*background))) : QVariant());
    });
}

Colour QtWindow::ListTextColour(const Text& name) const {
    return OnWindowThread([&]() -> Colour {
        QWidget* list = Control(name);
        return list ? FromQColor(list->palette().color(QPalette::Text)) : 0;
    });
}

Colour QtWindow::ListBackgroundColour(const Text& name) const {
    return OnWindowThread([&]() -> Colour {
        QWidget* list = Control(name);
        return list ? FromQColor(list->palette().color(QPalette::Base)) : 0;
    });
}

void QtWindow::MessageBox(const Text& text, const Text& caption, MessageIcon icon) {
    OnWindowThread([&] { ShowMessageBox(ToQtLines(text), ToQt(caption), icon); });
}

void QtWindow::ShellOpen(const Text& target) {
    OnWindowThread([&] {
        const QString address = ToQt(target);
        const QUrl url = address.contains(QStringLiteral("://")) ? QUrl(address) : QUrl::fromLocalFile(address);
        QDesktopServices::openUrl(url);
    });
}

void QtWindow::ProcessPendingMessages() {
    if (OnOwnThread()) {
        QCoreApplication::processEvents();
    }
}

}  // namespace qj::gui
