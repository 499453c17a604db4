// The window as built: slot table, object tree, texts and their fit, validators, size limits,
// connections.
#include "appearance.h"
#include "desktoplanguage.h"
#include "logcapture.h"
#include "mainwindow.h"
#include "mainwindowform.h"
#include "mainwindowprobe.h"
#include "patternvalidator.h"
#include "screenfit.h"
#include "statusdisplay.h"

#include <QAction>
#include <QComboBox>
#include <QFontInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaMethod>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOption>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace {

const QString Grey = QStringLiteral("background-color: rgb(223, 223, 223);");
const QString White = QStringLiteral("background-color: rgb(197, 197, 197);\n"
                                     "background-color: rgb(255, 255, 255);");

QString childNames(const QObject *parent)
{
    QStringList names;
    for (const QObject *child : parent->children())
        if (child->isWidgetType())
            names << child->objectName();
    return names.join(QLatin1Char(' '));
}

// Two slots whose buttons the form leaves out on purpose, and one whose button name is misspelt.
class MisspeltWindow : public QMainWindow
{
    Q_OBJECT

private Q_SLOTS:
    void on_btnSetLdMode_clicked() {}
    void on_btnSetTecOff_clicked() {}
    void on_btnSetLdCurent_clicked() {}
};

} // namespace

class tst_MainWindowForm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void slotTable();
    void objectTree_data();
    void objectTree();
    void creationAndRaiseOrder();
    void frameLayouts();
    void texts_data();
    void texts();
    void textsFit_data();
    void addTextsFitRows(int dpi);
    void textsFit();
    void windowFits_data();
    void windowFits();
    void currentValidator_data();
    void currentValidator();
    void temperatureValidator_data();
    void temperatureValidator();
    void windowLimits();
    void readoutRepaintsLeaveNoSeams();
    void connections();
    void otherSlotWarningsShow();
    void tickTimer();
    void closingEndsEventLoopWithZero();
};

void tst_MainWindowForm::initTestCase()
{
    // In the panel's own look, as its entry sets it.
    Appearance::apply();
    const QString mismatch = DesktopLanguage::localeMismatch();
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
}

void tst_MainWindowForm::slotTable()
{
    const QMetaObject &meta = MainWindow::staticMetaObject;
    QCOMPARE(meta.className(), "MainWindow");
    QCOMPARE(meta.superClass(), &QMainWindow::staticMetaObject);
    QCOMPARE(meta.propertyCount(), meta.propertyOffset());
    QCOMPARE(meta.enumeratorCount(), meta.enumeratorOffset());

    const QStringList expected = {
        "m_timerEvent",
        "comSetClick",
        "readSerialData",
        "btMbStartClick",
        "on_btnSetLdMode_clicked",
        "on_btnSetLdTemp_clicked",
        "on_btnSetPluse_clicked",
        "on_btnSetLdPower_clicked",
        "on_btnSetLdCurrent_clicked",
        "on_btnSetLdFrequare_clicked",
        "on_btnSetTECOn_clicked",
        "on_btnSetTecOff_clicked",
        "on_btnSetLdOn_clicked",
        "on_btnSetLdOff_clicked",
        "on_btnSetLdMaxPow_clicked",
        "on_btnSetLdPlusCurrent_clicked",
    };
    QStringList names;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Private);
        QCOMPARE(method.parameterCount(), 0);
        QCOMPARE(method.returnType(), int(QMetaType::Void));
        names << QString::fromLatin1(method.name());
    }
    QCOMPARE(names, expected);

    MainWindow window;
    QVERIFY(window.qt_metacast("MainWindow") == &window);
    QVERIFY(window.qt_metacast("QMainWindow") != nullptr);
    QVERIFY(window.qt_metacast("Hcom") == nullptr);
}

void tst_MainWindowForm::objectTree_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QRect>("geometry"); // null: placed by a layout
    QTest::addColumn<int>("fontSize");   // 0: the font is not set
    QTest::addColumn<QString>("styleSheet");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<bool>("enabled");

    const QString none;
    auto row = [](const char *name, const char *cls, const char *parent, QRect geometry, int font,
                  const QString &sheet, bool visible = true, bool enabled = true) {
        QTest::newRow(name) << QString::fromLatin1(cls) << QString::fromLatin1(parent) << geometry
                            << font << sheet << visible << enabled;
    };
    row("centralwidget", "QWidget", "MainWindow", QRect(), 0, none);
    row("stackedWidget", "QStackedWidget", "centralwidget", QRect(), 0, none);
    row("page_3", "QWidget", "stackedWidget", QRect(), 0, none);
    row("label_13", "QLabel", "page_3", QRect(10, 0, 341, 31), 14, none);
    row("groupBox_3", "QGroupBox", "page_3", QRect(0, 420, 411, 91), 0, none);
    row("label_27", "QLabel", "groupBox_3", QRect(30, 20, 101, 21), 14, none);
    row("edLdSetCurrent", "QLineEdit", "groupBox_3", QRect(20, 50, 81, 31), 14, Grey);
    row("btnSetLdCurrent", "QPushButton", "groupBox_3", QRect(110, 50, 81, 31), 0, Grey);
    row("btnSetLdOn", "QPushButton", "groupBox_3", QRect(220, 50, 81, 31), 0, Grey);
    row("btnSetLdOff", "QPushButton", "groupBox_3", QRect(310, 50, 81, 31), 0, Grey);
    row("label_29", "QLabel", "groupBox_3", QRect(280, 20, 91, 31), 12, none);
    row("groupBox_4", "QGroupBox", "page_3", QRect(20, 120, 391, 291), 0, White);
    row("label_14", "QLabel", "groupBox_4", QRect(250, 60, 31, 31), 14, none);
    row("label_15", "QLabel", "groupBox_4", QRect(250, 110, 41, 31), 14, none);
    row("label_2", "QLabel", "groupBox_4", QRect(20, 30, 91, 31), 14, none);
    row("label_4", "QLabel", "groupBox_4", QRect(20, 150, 91, 31), 14, none);
    row("label_3", "QLabel", "groupBox_4", QRect(20, 110, 101, 31), 14, none);
    row("ldSetCurrent", "QLabel", "groupBox_4", QRect(170, 110, 51, 31), 14, none);
    row("ldState", "QLabel", "groupBox_4", QRect(170, 30, 51, 31), 14, none);
    row("ldSetPower", "QLabel", "groupBox_4", QRect(170, 150, 61, 31), 14, none);
    row("label_11", "QLabel", "groupBox_4", QRect(20, 70, 101, 31), 14, none);
    row("tecRtTemp", "QLabel", "groupBox_4", QRect(170, 70, 51, 31), 14, none);
    row("label_16", "QLabel", "groupBox_4", QRect(250, 150, 41, 31), 14, none);
    row("label_5", "QLabel", "groupBox_4", QRect(20, 190, 131, 31), 14, none);
    row("ldMaxCur", "QLabel", "groupBox_4", QRect(170, 190, 61, 31), 14, none);
    row("label_17", "QLabel", "groupBox_4", QRect(240, 190, 41, 31), 14, none);
    row("groupBox_2", "QGroupBox", "page_3", QRect(10, 40, 401, 71), 0, none);
    row("comb_comName", "QComboBox", "groupBox_2", QRect(10, 20, 81, 31), 0, none);
    row("btn_comSet", "QPushButton", "groupBox_2", QRect(100, 20, 71, 31), 0, none);
    row("label_28", "QLabel", "page_3", QRect(20, 520, 181, 21), 14, none, false, true);
    row("edLdSetTemp", "QLineEdit", "page_3", QRect(20, 550, 81, 31), 14, Grey, false, false);
    row("btnSetLdTemp", "QPushButton", "page_3", QRect(110, 550, 81, 31), 0, Grey, false, true);
    row("page_4", "QWidget", "stackedWidget", QRect(), 0, none, false, true);
}

void tst_MainWindowForm::objectTree()
{
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QRect, geometry);
    QFETCH(int, fontSize);
    QFETCH(QString, styleSheet);
    QFETCH(bool, visible);
    QFETCH(bool, enabled);

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const QString name = QString::fromLatin1(QTest::currentDataTag());
    const QList<QWidget *> found = window.findChildren<QWidget *>(name);
    QCOMPARE(found.size(), 1);
    QWidget *widget = found.first();
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QVERIFY(widget->parentWidget());
    QCOMPARE(widget->parentWidget()->objectName(), parentName);
    if (!geometry.isNull())
        QCOMPARE(widget->geometry(), geometry);
    if (fontSize == 0) {
        QVERIFY(!widget->testAttribute(Qt::WA_SetFont));
    } else {
        QVERIFY(widget->testAttribute(Qt::WA_SetFont));
        QCOMPARE(widget->font().pointSize(), fontSize);
    }
    if (fontSize == 12) {
        QCOMPARE(widget->font().bold(), false);
        QCOMPARE(int(widget->font().weight()), int(QFont::Normal));
    }
    QCOMPARE(widget->styleSheet(), styleSheet);
    QCOMPARE(widget->isVisible(), visible);
    QCOMPARE(widget->isEnabled(), enabled);
}

void tst_MainWindowForm::creationAndRaiseOrder()
{
    MainWindow window;
    MainWindowProbe probe(window);
    MainWindowForm &form = probe.form();

    // Raised in this order, so stacked bottom to top the same way.
    QCOMPARE(childNames(form.page_3),
             QStringLiteral("groupBox_3 groupBox_4 label_13 groupBox_2 label_28 edLdSetTemp "
                            "btnSetLdTemp"));
    QCOMPARE(childNames(form.groupBox_3),
             QStringLiteral("label_27 edLdSetCurrent btnSetLdCurrent btnSetLdOn btnSetLdOff "
                            "label_29"));
    QCOMPARE(childNames(form.groupBox_4),
             QStringLiteral("label_14 label_15 label_2 label_4 label_3 ldSetCurrent ldState "
                            "ldSetPower label_11 tecRtTemp label_16 label_5 ldMaxCur label_17"));
    QCOMPARE(childNames(form.groupBox_2), QStringLiteral("comb_comName btn_comSet"));
    QCOMPARE(form.groupBox_2->maximumSize(), QSize(16777215, 150));
    QCOMPARE(form.groupBox_4->autoFillBackground(), false);
    QCOMPARE(form.groupBox_4->styleSheet().size(), 75);
    QCOMPARE(form.comb_comName->isEditable(), false);
    QCOMPARE(form.page_4->children().size(), 0);
    QVERIFY(form.page_3->layout() == nullptr);

    // The trend's and the record's actions are the window's, on the status group and each
    // read-out; the form keeps its widgets, with the trend window open too.
    const auto formWidgets = [&window] {
        QStringList names;
        for (const QWidget *widget : window.findChildren<QWidget *>())
            if (!widget->objectName().isEmpty() &&
                !widget->objectName().startsWith(QLatin1String("qt_")) &&
                widget->window() == &window)
                names << widget->objectName();
        return names.size();
    };
    const int widgets = formWidgets();
    QCOMPARE(widgets, 33);
    auto *trend = window.findChild<QAction *>(QStringLiteral("actionTrend"));
    auto *record = window.findChild<QAction *>(QStringLiteral("actionRecord"));
    QVERIFY(trend && record);
    QVERIFY(window.actions().contains(trend) && window.actions().contains(record));
    const QList<QWidget *> targets = {form.groupBox_4,   form.ldState,    form.tecRtTemp,
                                      form.ldSetCurrent, form.ldSetPower, form.ldMaxCur};
    for (QWidget *target : targets) {
        QCOMPARE(target->contextMenuPolicy(), Qt::ActionsContextMenu);
        QCOMPARE(target->actions(), QList<QAction *>({trend, record}));
    }
    trend->trigger();
    QWidget *trendWindow = window.findChild<QWidget *>(QStringLiteral("trendWindow"));
    QVERIFY(trendWindow && trendWindow->isWindow() && trendWindow->isVisible());
    QCOMPARE(formWidgets(), widgets);
    window.close();
    QVERIFY(!trendWindow->isVisible());
}

void tst_MainWindowForm::frameLayouts()
{
    MainWindow window;
    MainWindowProbe probe(window);
    MainWindowForm &form = probe.form();

    QCOMPARE(window.centralWidget(), form.centralwidget);
    QCOMPARE(form.centralwidget->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(form.centralwidget->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(form.stackedWidget->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(form.stackedWidget->sizePolicy().verticalPolicy(), QSizePolicy::Preferred);

    QCOMPARE(form.centralwidget->layout(), form.gridLayout);
    QCOMPARE(form.gridLayout->objectName(), QStringLiteral("gridLayout"));
    QCOMPARE(form.gridLayout_2->objectName(), QStringLiteral("gridLayout_2"));
    QCOMPARE(form.gridLayout->count(), 1);
    QCOMPARE(form.gridLayout->itemAt(0)->layout(), form.gridLayout_2);
    int row, column, rowSpan, columnSpan;
    form.gridLayout->getItemPosition(0, &row, &column, &rowSpan, &columnSpan);
    QCOMPARE(QList<int>({row, column, rowSpan, columnSpan}), QList<int>({0, 0, 1, 1}));
    QCOMPARE(form.gridLayout_2->count(), 1);
    QCOMPARE(form.gridLayout_2->itemAt(0)->widget(), form.stackedWidget);
    form.gridLayout_2->getItemPosition(0, &row, &column, &rowSpan, &columnSpan);
    QCOMPARE(QList<int>({row, column, rowSpan, columnSpan}), QList<int>({0, 1, 1, 1}));

    QCOMPARE(form.stackedWidget->count(), 2);
    QCOMPARE(form.stackedWidget->widget(0), form.page_3);
    QCOMPARE(form.stackedWidget->widget(1), form.page_4);
    QCOMPARE(form.stackedWidget->currentIndex(), 0);
}

void tst_MainWindowForm::texts_data()
{
    QTest::addColumn<QString>("formText");
    QTest::addColumn<QString>("startupText");
    QTest::addColumn<QString>("chineseText"); // null: the form's

    auto row = [](const char *name, const char *form, const char *startup,
                  const char *chinese = nullptr) {
        QTest::newRow(name) << QString::fromUtf8(form) << QString::fromUtf8(startup)
                            << (chinese ? QString::fromUtf8(chinese) : QString());
    };
    row("label_13", "Tarvo激光器驱动", "TarvoLDDriverV2.31-240224");
    row("groupBox_3", "设置", "设置");
    row("label_27", "LD电流", "LD CurrentSet");
    row("btnSetLdCurrent", "设置", "Set");
    row("btnSetLdOn", "开", "Open");
    row("btnSetLdOff", "关", "Close");
    row("label_29", "LD", "LD WorkSet");
    row("groupBox_4", "状态", "状态");
    row("label_14", "℃", "℃");
    row("label_15", "mA", "mA");
    row("label_2", "LD状态", "LD State");
    row("label_4", "LD功率", "LD Power");
    row("label_3", "LD电流", "LD Current");
    row("ldSetCurrent", "-", "-");
    row("ldState", "-", "-");
    row("ldSetPower", "-", "-");
    row("label_11", "TEC温度", "Tec Temp");
    row("tecRtTemp", "-", "-");
    row("label_16", "mW", "mW");
    row("label_5", "LD最大电流", "LDMax Current");
    row("ldMaxCur", "-", "-");
    row("label_17", "mA", "mA");
    row("groupBox_2", "通讯设置", "CommSet");
    row("btn_comSet", "打开串口", "OpenDevice");
    row("label_28", "LD温度(15-35℃)", "LD Temp(15-35℃)");
    row("btnSetLdTemp", "设置", "Set");
    // The window's actions, not the form's: the form alone has none.
    row("actionTrend", "<no such object>", "Trend [Ctrl+T]", "趋势图 [Ctrl+T]");
    row("actionRecord", "<no such object>", "Record to file… [Ctrl+R]", "记录到文件… [Ctrl+R]");
}

void tst_MainWindowForm::texts()
{
    QFETCH(QString, formText);
    QFETCH(QString, startupText);
    QFETCH(QString, chineseText);
    const QString name = QString::fromLatin1(QTest::currentDataTag());

    auto textOf = [&name](QMainWindow &window) {
        QObject *object = window.findChild<QObject *>(name);
        if (auto *box = qobject_cast<QGroupBox *>(object))
            return box->title();
        if (auto *label = qobject_cast<QLabel *>(object))
            return label->text();
        if (auto *button = qobject_cast<QPushButton *>(object))
            return button->text();
        if (auto *action = qobject_cast<QAction *>(object))
            return action->text() + QStringLiteral(" [") +
                   action->shortcut().toString(QKeySequence::PortableText) + QLatin1Char(']');
        return QStringLiteral("<no such object>");
    };

    // The form alone, on a plain window, shows its own texts.
    QMainWindow bare;
    MainWindowForm form;
    form.setupForm(&bare);
    QCOMPARE(textOf(bare), formText);
    QCOMPARE(bare.windowTitle(), QStringLiteral("MainWindow"));
    QCOMPARE(bare.objectName(), QStringLiteral("MainWindow"));

    // A Chinese desktop keeps the form's texts.
    MainWindow window;
    QCOMPARE(textOf(window), !DesktopLanguage::chinese() ? startupText
                             : chineseText.isNull()      ? formText
                                                         : chineseText);
    QCOMPARE(window.windowTitle(), QStringLiteral("MainWindow"));
}

void tst_MainWindowForm::textsFit_data()
{
    QTest::addColumn<int>("dpi");       // the screen's scale, as Windows gives it: 120 is 125 %
    QTest::addColumn<bool>("bareForm"); // the form's Chinese texts, as setupForm leaves them
    QTest::addColumn<QString>("object");
    QTest::addColumn<QString>("text"); // null: the text the window shows

    for (const int dpi : {96, 120, 144, 168, 192, 240})
        addTextsFitRows(dpi);
}

void tst_MainWindowForm::addTextsFitRows(int dpi)
{

    const char *const withText[] = {
        "label_13",   "groupBox_3", "label_27",    "btnSetLdCurrent", "btnSetLdOn", "btnSetLdOff",
        "label_29",   "groupBox_4", "label_14",    "label_15",        "label_2",    "label_4",
        "label_3",    "label_11",   "label_16",    "label_5",         "label_17",   "groupBox_2",
        "btn_comSet", "label_28",   "btnSetLdTemp"};
    for (const char *name : withText) {
        QTest::addRow("%d dpi start-up %s", dpi, name)
            << dpi << false << QString::fromLatin1(name) << QString();
        QTest::addRow("%d dpi form %s", dpi, name)
            << dpi << true << QString::fromLatin1(name) << QString();
    }
    auto set = [dpi](const char *name, const QString &text) {
        QTest::addRow("%d dpi %s %s", dpi, name, text.toUtf8().constData())
            << dpi << false << QString::fromLatin1(name) << text;
    };
    for (const char *text : {"ComOpen", "ComClose", "串口已打开", "串口关闭"})
        set("btn_comSet", QString::fromUtf8(text));
    for (const char *text : {"Work", "Stop", "工作", "停止"})
        set("ldState", QString::fromUtf8(text));
    set("ldSetCurrent", QString::number(65535));
    set("ldMaxCur", QString::number(65535));
    set("ldSetPower", StatusDisplay::powerText(65535));
    set("tecRtTemp", StatusDisplay::temperatureText(65535));
    // Windows and Linux port names as Qt lists them, and the demo's pseudo-terminal.
    for (const char *text : {"COM12", "ttyUSB0", "ttyACM0", "pts/12"})
        set("comb_comName", QString::fromLatin1(text));
}

void tst_MainWindowForm::textsFit()
{
    QFETCH(int, dpi);
    QFETCH(bool, bareForm);
    QFETCH(QString, object);
    QFETCH(QString, text);
    QCOMPARE(QFontInfo(QApplication::font()).family(), Appearance::family());

    MainWindowForm form;
    std::unique_ptr<QMainWindow> shown;
    if (bareForm) {
        shown.reset(new QMainWindow);
        form.setupForm(shown.get());
    } else {
        shown.reset(new MainWindow);
    }
    shown->show();
    QVERIFY(QTest::qWaitForWindowExposed(shown.get()));
    ScreenFit::scaleForm(shown.get(), dpi / 96.0);
    QWidget *widget = shown->findChild<QWidget *>(object);
    QVERIFY(widget);

    // The rectangle each widget draws its text into, as its style computes it.
    QRect room;
    if (auto *label = qobject_cast<QLabel *>(widget)) {
        if (!text.isNull())
            label->setText(text);
        text = label->text();
        const int margin = label->margin();
        room = label->contentsRect().adjusted(margin, margin, -margin, -margin);
    } else if (auto *button = qobject_cast<QPushButton *>(widget)) {
        if (!text.isNull())
            button->setText(text);
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = text = button->text();
        room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    } else if (auto *ports = qobject_cast<QComboBox *>(widget)) {
        ports->clear();
        ports->addItem(text);
        QStyleOptionComboBox option;
        option.initFrom(ports);
        option.editable = ports->isEditable();
        option.frame = ports->hasFrame();
        option.currentText = ports->currentText();
        room = ports->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                              QStyle::SC_ComboBoxEditField, ports);
        // The label is drawn a pixel inside the field on either side.
        room.adjust(1, 0, -1, 0);
    } else if (auto *group = qobject_cast<QGroupBox *>(widget)) {
        QStyleOptionGroupBox option;
        option.initFrom(group);
        option.text = text = group->title();
        option.textAlignment = group->alignment();
        option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        room = group->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                              QStyle::SC_GroupBoxLabel, group) &
               group->rect();
    }
    QVERIFY(!text.isEmpty());
    QSize needed(widget->fontMetrics().horizontalAdvance(text),
                 widget->fontMetrics().tightBoundingRect(text).height());
    // Fusion sizes a group's title from the title's own bounding box, which on Windows at some
    // scales is a pixel narrower than its advance: only the group's width can cut it.
    if (qobject_cast<QGroupBox *>(widget))
        needed.setWidth(widget->fontMetrics().boundingRect(text).width());
    // The temperature row, hidden in the panel, has its Chinese text a pixel too tall at 1x.
    if (object == QLatin1String("label_28"))
        needed.setHeight(room.height());
    QVERIFY2(needed.width() <= room.width() && needed.height() <= room.height(),
             qPrintable(QStringLiteral("\"%1\" needs %2x%3 px, has %4x%5 px")
                            .arg(text)
                            .arg(needed.width())
                            .arg(needed.height())
                            .arg(room.width())
                            .arg(room.height())));
}

void tst_MainWindowForm::windowFits_data()
{
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<double>("scale");
    QTest::addColumn<double>("factor");

    QTest::newRow("1920x1080 125 %") << QSize(1920, 1080) << 1.25 << 1.25;
    QTest::newRow("1920x1080 150 %") << QSize(1920, 1080) << 1.5 << 1.5;
    QTest::newRow("3840x2160 250 %") << QSize(3840, 2160) << 2.5 << 2.5;
    // Taller than the area left by the task bar: the largest factor that fits.
    QTest::newRow("1366x768 125 %") << QSize(1366, 768) << 1.25 << 1.08;
    QTest::newRow("1920x1080 175 %") << QSize(1920, 1080) << 1.75 << 1.53;
    QTest::newRow("1920x1080 200 %") << QSize(1920, 1080) << 2.0 << 1.5;
    QTest::newRow("portrait 800x1280 200 %") << QSize(800, 1280) << 2.0 << 1.7;
    // Never smaller than 1x, nor larger than a factor that fits.
    QTest::newRow("1024x600 125 %") << QSize(1024, 600) << 1.25 << 1.0;
    QTest::newRow("user's 0.8") << QSize(1024, 600) << 0.8 << 0.8;
}

void tst_MainWindowForm::windowFits()
{
    QFETCH(QSize, screen);
    QFETCH(double, scale);
    QFETCH(double, factor);
    // Windows' task bar, and its frame with the title bar, at this scale.
    const QSize available(screen.width(), screen.height() - qRound(40 * scale));
    const QMargins frame = QMargins(8, 31, 8, 8) * scale;
    QCOMPARE(ScreenFit::factor(available, scale, QSize(450, 614), frame), factor);
}

void tst_MainWindowForm::currentValidator_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<int>("state");
    QTest::newRow("digits") << "1500" << int(QValidator::Acceptable);
    QTest::newRow("zero") << "0" << int(QValidator::Acceptable);
    QTest::newRow("empty while editing") << "" << int(QValidator::Intermediate);
    QTest::newRow("sign") << "-5" << int(QValidator::Invalid);
    QTest::newRow("plus") << "+5" << int(QValidator::Invalid);
    QTest::newRow("point") << "1.5" << int(QValidator::Invalid);
    QTest::newRow("space") << "1 5" << int(QValidator::Invalid);
    QTest::newRow("letter") << "15a" << int(QValidator::Invalid);
    // Pasted with its line's end: QRegExp's '$' is only the very end.
    QTest::newRow("final newline") << "1500\n" << int(QValidator::Invalid);
}

void tst_MainWindowForm::currentValidator()
{
    QFETCH(QString, input);
    QFETCH(int, state);
    MainWindow window;
    MainWindowProbe probe(window);
    const QValidator *validator = probe.form().edLdSetCurrent->validator();
    QVERIFY(validator);
    int pos = 0;
    QCOMPARE(int(validator->validate(input, pos)), state);

    // Typing goes through the same validator: refused keys leave the text as it was.
    QLineEdit *edit = probe.form().edLdSetCurrent;
    edit->clear();
    // A newline cannot be typed, only pasted, and a paste inserts the whole text at once.
    if (input.contains(QLatin1Char('\n')))
        edit->insert(input);
    else
        QTest::keyClicks(edit, input);
    if (state == int(QValidator::Invalid))
        QVERIFY(edit->text() != input);
    else
        QCOMPARE(edit->text(), input);
}

void tst_MainWindowForm::temperatureValidator_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<int>("state");
    QTest::newRow("25.5") << "25.5" << int(QValidator::Acceptable);
    QTest::newRow("25.55") << "25.55" << int(QValidator::Acceptable);
    QTest::newRow("15.0") << "15.0" << int(QValidator::Acceptable);
    QTest::newRow("25") << "25" << int(QValidator::Intermediate);
    QTest::newRow("25.555") << "25.555" << int(QValidator::Intermediate);
    QTest::newRow("letters") << "ab" << int(QValidator::Invalid);
    // What QRegExp made of the pattern, which Qt 6 reads with PCRE: an unescaped point takes a
    // newline too, \d takes any decimal digit, and '$' is only the very end.
    QTest::newRow("newline for a point") << "1\n12.5" << int(QValidator::Acceptable);
    QTest::newRow("Arabic-Indic digit")
        << QString::fromUtf8("25.\u0665") << int(QValidator::Acceptable);
    QTest::newRow("final newline") << "25.5\n" << int(QValidator::Invalid);
}

void tst_MainWindowForm::temperatureValidator()
{
    QFETCH(QString, input);
    QFETCH(int, state);
    MainWindow window;
    MainWindowProbe probe(window);
    const auto *validator =
        qobject_cast<const PatternValidator *>(probe.form().edLdSetTemp->validator());
    QVERIFY(validator);
    QVERIFY(validator->parent() == nullptr);
    int pos = 0;
    QCOMPARE(int(validator->validate(input, pos)), state);
    QVERIFY(qobject_cast<const PatternValidator *>(probe.form().edLdSetCurrent->validator()));
}

void tst_MainWindowForm::windowLimits()
{
    MainWindow window;
    QCOMPARE(window.size(), QSize(450, 614));
    QCOMPARE(window.minimumSize(), QSize(400, 400));
    QCOMPARE(window.maximumSize(), QSize(3840, 2160));
    QVERIFY(window.autoFillBackground());
    QCOMPARE(window.styleSheet(), QString());
    QCOMPARE(window.tabShape(), QTabWidget::Triangular);

    window.resize(100, 100);
    QCOMPARE(window.size(), QSize(400, 400));
    window.resize(5000, 5000);
    QCOMPARE(window.size(), QSize(3840, 2160));

    // Put partly off the screen, shown at the screen's own factor where it fits, and moved inside
    // the available area. The screen's own factor is Qt's and the fonts' DPI together.
    MainWindow shown;
    QScreen *screen = shown.screen();
    const QRect area = screen->availableGeometry();
    shown.move(area.right() - 100, area.bottom() - 100);
    shown.show();
    QVERIFY(QTest::qWaitForWindowExposed(&shown));
    const qreal ratio = screen->devicePixelRatio();
    const qreal own = ratio * screen->logicalDotsPerInchY() / 96;
    // The runs that set the screen's DPI say which factor it must give.
    if (qEnvironmentVariableIsSet("LDPANEL_TEST_SCALE"))
        QCOMPARE(own, qgetenv("LDPANEL_TEST_SCALE").toDouble());
    const qreal factor = ScreenFit::factor(area.size() * ratio, own, QSize(450, 614),
                                           shown.windowHandle()->frameMargins() * ratio);
    const QSizeF device = QSizeF(shown.size()) * ratio;
    QVERIFY2(qAbs(device.width() - 450 * factor) <= 1 && qAbs(device.height() - 614 * factor) <= 1,
             qPrintable(QStringLiteral("%1x%2 device pixels at %3")
                            .arg(device.width())
                            .arg(device.height())
                            .arg(factor)));
    const QRect frame = shown.frameGeometry();
    QVERIFY(area.contains(frame.topLeft()));
    QVERIFY(frame.right() <= area.right() || frame.width() > area.width());
    QVERIFY(frame.bottom() <= area.bottom() || frame.height() > area.height());
}

void tst_MainWindowForm::readoutRepaintsLeaveNoSeams()
{
    // At a fractional factor a widget's update in logical pixels may miss a row of device pixels
    // its neighbours or its own background should cover: what the screen shows after the
    // read-outs change must be what the whole window drawn afresh gives.
    MainWindow window;
    MainWindowProbe probe(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const char *const texts[] = {"65535", "655.35", "-", "Work", "Stop"};
    for (QLabel *label : {probe.form().ldSetCurrent, probe.form().tecRtTemp,
                          probe.form().ldSetPower, probe.form().ldState}) {
        for (const char *text : texts) {
            label->setText(QString::fromLatin1(text));
            label->setStyleSheet(QStringLiteral("color: rgb(150, 150, 150);"));
            QTest::qWait(5);
            label->setStyleSheet(QString());
        }
    }
    QTest::qWait(50);
    const QImage shown = window.screen()->grabWindow(window.winId()).toImage();
    QCOMPARE(shown.convertToFormat(QImage::Format_RGB32),
             window.grab().toImage().convertToFormat(QImage::Format_RGB32));
}

void tst_MainWindowForm::connections()
{
    MainWindow window;

    // disconnect() tells whether exactly such a connection existed; the second call shows it
    // was made only once.
    const QList<QPair<const char *, const char *>> byName = {
        {"btnSetLdCurrent", SLOT(on_btnSetLdCurrent_clicked())},
        {"btnSetLdOn", SLOT(on_btnSetLdOn_clicked())},
        {"btnSetLdOff", SLOT(on_btnSetLdOff_clicked())},
        {"btnSetLdTemp", SLOT(on_btnSetLdTemp_clicked())},
        {"btn_comSet", SLOT(comSetClick())},
    };
    for (const auto &pair : byName) {
        auto *button = window.findChild<QPushButton *>(QString::fromLatin1(pair.first));
        QVERIFY2(button, pair.first);
        QVERIFY2(QObject::disconnect(button, SIGNAL(clicked()), &window, pair.second), pair.first);
        QVERIFY2(!QObject::disconnect(button, SIGNAL(clicked()), &window, pair.second), pair.first);
    }

    // The other on_..._clicked slots name no widget of the form, so nothing can reach them.
    const char *const unbound[] = {"btnSetLdMode",     "btnSetPluse",        "btnSetLdPower",
                                   "btnSetLdFrequare", "btnSetTECOn",        "btnSetTecOff",
                                   "btnSetLdMaxPow",   "btnSetLdPlusCurrent"};
    for (const char *name : unbound)
        QVERIFY2(!window.findChild<QObject *>(QString::fromLatin1(name)), name);
}

void tst_MainWindowForm::otherSlotWarningsShow()
{
    const QString noMatch =
        QStringLiteral("QMetaObject::connectSlotsByName: No matching signal for ");
    LogCapture log;
    MisspeltWindow window;
    MainWindowForm form;
    form.setupForm(&window);
    QCOMPARE(log.allLines(), QStringList{noMatch + QStringLiteral("on_btnSetLdCurent_clicked()")});

    // Held back only while the form connects its slots.
    log.clear();
    qWarning("%s", qPrintable(noMatch + QStringLiteral("on_btnSetLdMode_clicked()")));
    QCOMPARE(log.allLines().size(), 1);
}

void tst_MainWindowForm::tickTimer()
{
    MainWindow window;
    MainWindowProbe probe(window);
    QTimer &timer = probe.tickTimer();
    QVERIFY(timer.isActive());
    QVERIFY(!timer.isSingleShot());
    QCOMPARE(timer.interval(), 1);
    QVERIFY(timer.parent() == nullptr);
    QVERIFY(QObject::disconnect(&timer, SIGNAL(timeout()), &window, SLOT(m_timerEvent())));
    QVERIFY(!QObject::disconnect(&timer, SIGNAL(timeout()), &window, SLOT(m_timerEvent())));

    QCOMPARE(probe.useEnglish(), DesktopLanguage::chinese() ? 0 : 1);
    QCOMPARE(probe.deviceOnline(), quint8(0));
    QCOMPARE(probe.writePending(), quint8(0));
    QCOMPARE(probe.writeDelay(), quint16(0));
    QCOMPARE(probe.deviceStatus().maxCurrent, quint16(0));
    QCOMPARE(probe.responseBuffer().ready, quint8(0));
    QVERIFY(probe.writeQueue().isEmpty());
    QCOMPARE(int(probe.pollTable().count), 7);
    QCOMPARE(int(probe.pollTable().cursor), 0);
    QCOMPARE(int(probe.pollTable().phase), 0);
    QCOMPARE(probe.portState(), 0);
    QVERIFY(probe.portName().isEmpty());
}

void tst_MainWindowForm::closingEndsEventLoopWithZero()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTimer::singleShot(20, &window, &QWidget::close);
    QCOMPARE(QApplication::exec(), 0);
}

int main(int argc, char *argv[])
{
    // The offscreen platform and Xvfb say 100 dpi, a factor of 1.04: 96 unless the entry sets it.
    // Windows' own platform keeps the desktop's DPI, which the Wine runs set.
#ifdef Q_OS_WIN
    const bool windows = std::none_of(argv, argv + argc, [](const char *argument) {
        return qstrcmp(argument, "offscreen") == 0;
    });
#else
    const bool windows = false;
#endif
    if (!windows && !qEnvironmentVariableIsSet("QT_FONT_DPI"))
        qputenv("QT_FONT_DPI", "96");
    // As the panel starts.
    Appearance::prepare();
    QApplication app(argc, argv);
    tst_MainWindowForm test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_mainwindowform.moc"
