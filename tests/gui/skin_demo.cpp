// Draws a sample of the program's kinds of controls with the built-in skin and saves the picture:
// qj_skin_demo out.png [hue saturation]
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <cstdio>

#include "gui/skin_gui.h"
#include "skin/builtin_skin.h"
#include "skin/skin_engine.h"

namespace {

QLabel* ColouredLabel(const QString& text, QColor colour, QWidget* parent, bool bold = false) {
    auto* label = new QLabel(text, parent);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    if (bold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    return label;
}

template <typename T>
T* Place(T* widget, int x, int y, int width, int height) {
    widget->setGeometry(x, y, width, height);
    return widget;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: qj_skin_demo out.png [hue saturation]\n");
        return 2;
    }
    if (argc >= 4) {
        static qj::StyleSheetSkinEngine engine([](const std::string& sheet) {
            qApp->setStyleSheet(QString::fromUtf8(sheet.data(), static_cast<qsizetype>(sheet.size())));
        });
        qj::ApplySkin(engine, qj::BuiltInSkin(), std::atoi(argv[2]), std::atoi(argv[3]));
    } else {
        qj::ApplyBuiltInSkin();
    }

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("青笺"));
    auto* client = new QWidget;
    window.setCentralWidget(client);
    window.resize(700, 470);

    auto* tabs = Place(new QTabWidget(client), 4, 4, 692, 290);
    auto* page = new QWidget;
    tabs->addTab(page, QStringLiteral("OpenAI"));
    tabs->addTab(new QWidget, QStringLiteral("百度文心"));
    tabs->addTab(new QWidget, QStringLiteral("商务服务"));
    tabs->addTab(new QWidget, QStringLiteral("在线升级"));

    auto* group = Place(new QGroupBox(QStringLiteral("接口设置"), page), 8, 6, 330, 140);
    Place(new QLabel(QStringLiteral("API秘钥："), group), 10, 22, 70, 22);
    auto* key = Place(new QLineEdit(QStringLiteral("sk-...."), group), 80, 22, 160, 22);
    QPalette white = key->palette();
    white.setColor(QPalette::Base, Qt::white);
    key->setPalette(white);
    Place(new QPushButton(QStringLiteral("查询余额"), group), 248, 21, 72, 24);
    Place(ColouredLabel(QStringLiteral("可用余额：$12.34"), QColor(0x00, 0x80, 0x00), group), 10, 50, 200, 22);
    Place(new QRadioButton(QStringLiteral("接口一"), group), 10, 78, 80, 22)->setChecked(true);
    Place(new QRadioButton(QStringLiteral("接口二"), group), 90, 78, 80, 22);
    Place(new QCheckBox(QStringLiteral("预览生成内容"), group), 10, 104, 120, 22)->setChecked(true);
    Place(new QComboBox(group), 150, 104, 120, 22)->addItems({QStringLiteral("text-davinci-003")});

    auto* keywords = Place(new QGroupBox(QStringLiteral("关键词"), page), 346, 6, 334, 140);
    Place(ColouredLabel(QStringLiteral("一行一条，文本编码必须为ANSI格式，否则会乱码！"), QColor(0, 0, 0xFF), keywords),
          10, 22, 314, 22);
    Place(new QPushButton(QStringLiteral("导入"), keywords), 10, 52, 70, 26);
    Place(new QPushButton(QStringLiteral("开始"), keywords), 90, 52, 70, 26);
    Place(new QPushButton(QStringLiteral("结束"), keywords), 170, 52, 70, 26)->setEnabled(false);
    Place(ColouredLabel(QStringLiteral("岚舟博客：https://qingjian.example"), QColor(0xFF, 0, 0), keywords), 10, 90,
          300, 22);

    Place(ColouredLabel(QStringLiteral("友情提示：以下广告均为广告商投放，真假自行辨别。"), QColor(0xFF, 0x80, 0x00),
                        page, true),
          8, 150, 500, 22);
    auto* adverts = Place(new QTreeWidget(page), 8, 174, 672, 80);
    adverts->setHeaderLabels({QStringLiteral("广告内容"), QStringLiteral("联系方式")});
    adverts->header()->resizeSection(0, 420);
    const QColor rows[] = {QColor(0xFF, 0xE0, 0xE0), QColor(0xE0, 0xFF, 0xE0), QColor(0xFF, 0xFF, 0xFF)};
    for (int i = 0; i < 3; ++i) {
        auto* item =
            new QTreeWidgetItem(adverts, {QStringLiteral("广告位 %1").arg(i + 1), QStringLiteral("QQ 1234567")});
        item->setBackground(0, rows[i]);
        item->setBackground(1, rows[i]);
    }

    auto* log = Place(new QPlainTextEdit(client), 4, 300, 692, 160);
    QPalette blue = log->palette();
    blue.setColor(QPalette::Text, QColor(0, 0, 0xFF));
    log->setPalette(blue);
    log->setPlainText(
        QStringLiteral("【2023年2月11日9时5分7秒】 > > >  青笺 1.0\n【2023年2月11日9时5分8秒】 > > >  "
                       "开始生成关键词【青笺】相关内容"));

    window.show();
    if (!window.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "qj_skin_demo: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
