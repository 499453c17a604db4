#include "mainwindowform.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageLogContext>
#include <QMetaObject>
#include <QPushButton>
#include <QSizePolicy>
#include <QStackedWidget>
#include <QTabWidget>
#include <QWidget>

namespace {

const char *const Grey = "background-color: rgb(223, 223, 223);";
// Two declarations; the later one wins, so the status group is drawn on white.
const char *const White = "background-color: rgb(197, 197, 197);\n"
                          "background-color: rgb(255, 255, 255);";

// MainWindow's command slots whose buttons this form does not have. They stay for the commands
// behind them; Qt would name each one on standard error at every start.
const char *const SlotsWithoutButton[] = {
    "on_btnSetLdMode_clicked()",   "on_btnSetPluse_clicked()",
    "on_btnSetLdPower_clicked()",  "on_btnSetLdFrequare_clicked()",
    "on_btnSetTECOn_clicked()",    "on_btnSetTecOff_clicked()",
    "on_btnSetLdMaxPow_clicked()", "on_btnSetLdPlusCurrent_clicked()"};

QtMessageHandler handlerBefore = nullptr;

// Installed only while the slots are connected by name; everything but those warnings goes on to
// the handler that was there before.
void holdBackSlotsWithoutButton(QtMsgType type, const QMessageLogContext &context,
                                const QString &message)
{
    if (type == QtWarningMsg) {
        const QString noMatch =
            QStringLiteral("QMetaObject::connectSlotsByName: No matching signal for ");
        for (const char *name : SlotsWithoutButton)
            if (message == noMatch + QLatin1String(name))
                return;
    }
    // Null only in the instant between installing this handler and keeping the one before; a
    // message from another thread in that instant is lost.
    if (handlerBefore)
        handlerBefore(type, context, message);
}

QString tr(const char *source)
{
    return QCoreApplication::translate("MainWindow", source, nullptr, -1);
}

// The form's label shape: name, then geometry, font and style sheet.
QLabel *makeLabel(QWidget *parent, const char *name, const QRect &geometry, const QFont &font,
                  const char *styleSheet)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QString::fromUtf8(name));
    label->setGeometry(geometry);
    label->setFont(font);
    if (styleSheet)
        label->setStyleSheet(QString::fromUtf8(styleSheet));
    return label;
}

QPushButton *makeButton(QWidget *parent, const char *name, const QRect &geometry,
                        const char *styleSheet)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(QString::fromUtf8(name));
    button->setGeometry(geometry);
    if (styleSheet)
        button->setStyleSheet(QString::fromUtf8(styleSheet));
    return button;
}

QSizePolicy policyFor(QWidget *widget, QSizePolicy::Policy policy)
{
    QSizePolicy sizePolicy(policy, policy);
    sizePolicy.setHorizontalStretch(0);
    sizePolicy.setVerticalStretch(0);
    sizePolicy.setHeightForWidth(widget->sizePolicy().hasHeightForWidth());
    return sizePolicy;
}

} // namespace

void MainWindowForm::setupForm(QMainWindow *window)
{
    if (window->objectName().isEmpty())
        window->setObjectName(QString::fromUtf8("MainWindow"));
    window->resize(450, 614);
    window->setMinimumSize(QSize(400, 400));
    window->setMaximumSize(QSize(3840, 2160));
    window->setAutoFillBackground(true);
    window->setStyleSheet(QString());
    window->setTabShape(QTabWidget::Triangular);

    centralwidget = new QWidget(window);
    centralwidget->setObjectName(QString::fromUtf8("centralwidget"));
    centralwidget->setSizePolicy(policyFor(centralwidget, QSizePolicy::Fixed));
    gridLayout = new QGridLayout(centralwidget);
    gridLayout->setObjectName(QString::fromUtf8("gridLayout"));
    gridLayout_2 = new QGridLayout();
    gridLayout_2->setObjectName(QString::fromUtf8("gridLayout_2"));
    stackedWidget = new QStackedWidget(centralwidget);
    stackedWidget->setObjectName(QString::fromUtf8("stackedWidget"));
    stackedWidget->setSizePolicy(policyFor(stackedWidget, QSizePolicy::Preferred));
    stackedWidget->setStyleSheet(QString());

    QFont font;
    font.setPointSize(14);
    QFont font1;
    font1.setPointSize(12);
    font1.setBold(false);
    font1.setWeight(QFont::Normal);

    page_3 = new QWidget();
    page_3->setObjectName(QString::fromUtf8("page_3"));
    label_13 = makeLabel(page_3, "label_13", QRect(10, 0, 341, 31), font, "");

    groupBox_3 = new QGroupBox(page_3);
    groupBox_3->setObjectName(QString::fromUtf8("groupBox_3"));
    groupBox_3->setGeometry(QRect(0, 420, 411, 91));
    label_27 = makeLabel(groupBox_3, "label_27", QRect(30, 20, 101, 21), font, "");
    edLdSetCurrent = new QLineEdit(groupBox_3);
    edLdSetCurrent->setObjectName(QString::fromUtf8("edLdSetCurrent"));
    edLdSetCurrent->setGeometry(QRect(20, 50, 81, 31));
    edLdSetCurrent->setFont(font);
    edLdSetCurrent->setStyleSheet(QString::fromUtf8(Grey));
    btnSetLdCurrent = makeButton(groupBox_3, "btnSetLdCurrent", QRect(110, 50, 81, 31), Grey);
    btnSetLdOn = makeButton(groupBox_3, "btnSetLdOn", QRect(220, 50, 81, 31), Grey);
    btnSetLdOff = makeButton(groupBox_3, "btnSetLdOff", QRect(310, 50, 81, 31), Grey);
    label_29 = makeLabel(groupBox_3, "label_29", QRect(280, 20, 91, 31), font1, nullptr);

    groupBox_4 = new QGroupBox(page_3);
    groupBox_4->setObjectName(QString::fromUtf8("groupBox_4"));
    groupBox_4->setGeometry(QRect(20, 120, 391, 291));
    groupBox_4->setAutoFillBackground(false);
    groupBox_4->setStyleSheet(QString::fromUtf8(White));
    label_14 = makeLabel(groupBox_4, "label_14", QRect(250, 60, 31, 31), font, "");
    label_15 = makeLabel(groupBox_4, "label_15", QRect(250, 110, 41, 31), font, "");
    label_2 = makeLabel(groupBox_4, "label_2", QRect(20, 30, 91, 31), font, "");
    label_4 = makeLabel(groupBox_4, "label_4", QRect(20, 150, 91, 31), font, "");
    label_3 = makeLabel(groupBox_4, "label_3", QRect(20, 110, 101, 31), font, "");
    ldSetCurrent = makeLabel(groupBox_4, "ldSetCurrent", QRect(170, 110, 51, 31), font, "");
    ldState = makeLabel(groupBox_4, "ldState", QRect(170, 30, 51, 31), font, "");
    ldSetPower = makeLabel(groupBox_4, "ldSetPower", QRect(170, 150, 61, 31), font, "");
    label_11 = makeLabel(groupBox_4, "label_11", QRect(20, 70, 101, 31), font, "");
    tecRtTemp = makeLabel(groupBox_4, "tecRtTemp", QRect(170, 70, 51, 31), font, "");
    label_16 = makeLabel(groupBox_4, "label_16", QRect(250, 150, 41, 31), font, "");
    label_5 = makeLabel(groupBox_4, "label_5", QRect(20, 190, 131, 31), font, "");
    ldMaxCur = makeLabel(groupBox_4, "ldMaxCur", QRect(170, 190, 61, 31), font, "");
    label_17 = makeLabel(groupBox_4, "label_17", QRect(240, 190, 41, 31), font, "");

    groupBox_2 = new QGroupBox(page_3);
    groupBox_2->setObjectName(QString::fromUtf8("groupBox_2"));
    groupBox_2->setGeometry(QRect(10, 40, 401, 71));
    groupBox_2->setMaximumSize(QSize(16777215, 150));
    comb_comName = new QComboBox(groupBox_2);
    comb_comName->setObjectName(QString::fromUtf8("comb_comName"));
    comb_comName->setGeometry(QRect(10, 20, 81, 31));
    btn_comSet = makeButton(groupBox_2, "btn_comSet", QRect(100, 20, 71, 31), nullptr);

    label_28 = new QLabel(page_3);
    label_28->setObjectName(QString::fromUtf8("label_28"));
    label_28->setEnabled(true);
    label_28->setGeometry(QRect(20, 520, 181, 21));
    label_28->setFont(font);
    label_28->setStyleSheet(QString());
    edLdSetTemp = new QLineEdit(page_3);
    edLdSetTemp->setObjectName(QString::fromUtf8("edLdSetTemp"));
    edLdSetTemp->setEnabled(false);
    edLdSetTemp->setGeometry(QRect(20, 550, 81, 31));
    edLdSetTemp->setFont(font);
    edLdSetTemp->setStyleSheet(QString::fromUtf8(Grey));
    btnSetLdTemp = new QPushButton(page_3);
    btnSetLdTemp->setObjectName(QString::fromUtf8("btnSetLdTemp"));
    btnSetLdTemp->setEnabled(true);
    btnSetLdTemp->setGeometry(QRect(110, 550, 81, 31));
    btnSetLdTemp->setStyleSheet(QString::fromUtf8(Grey));

    stackedWidget->addWidget(page_3);
    groupBox_3->raise();
    groupBox_4->raise();
    label_13->raise();
    groupBox_2->raise();
    label_28->raise();
    edLdSetTemp->raise();
    btnSetLdTemp->raise();

    page_4 = new QWidget();
    page_4->setObjectName(QString::fromUtf8("page_4"));
    stackedWidget->addWidget(page_4);

    gridLayout_2->addWidget(stackedWidget, 0, 1, 1, 1);
    gridLayout->addLayout(gridLayout_2, 0, 0, 1, 1);
    window->setCentralWidget(centralwidget);

    retranslateForm(window);

    stackedWidget->setCurrentIndex(0);

    handlerBefore = qInstallMessageHandler(holdBackSlotsWithoutButton);
    QMetaObject::connectSlotsByName(window);
    qInstallMessageHandler(handlerBefore);
}

void MainWindowForm::retranslateForm(QMainWindow *window)
{
    window->setWindowTitle(tr("MainWindow"));
    label_13->setText(tr("Tarvo激光器驱动"));
    groupBox_3->setTitle(tr("设置"));
    label_27->setText(tr("LD电流"));
    btnSetLdCurrent->setText(tr("设置"));
    btnSetLdOn->setText(tr("开"));
    btnSetLdOff->setText(tr("关"));
    label_29->setText(tr("LD"));
    groupBox_4->setTitle(tr("状态"));
    label_14->setText(tr("℃"));
    label_15->setText(tr("mA"));
    label_2->setText(tr("LD状态"));
    label_4->setText(tr("LD功率"));
    label_3->setText(tr("LD电流"));
    ldSetCurrent->setText(tr("-"));
    ldState->setText(tr("-"));
    ldSetPower->setText(tr("-"));
    label_11->setText(tr("TEC温度"));
    tecRtTemp->setText(tr("-"));
    label_16->setText(tr("mW"));
    label_5->setText(tr("LD最大电流"));
    ldMaxCur->setText(tr("-"));
    label_17->setText(tr("mA"));
    groupBox_2->setTitle(tr("通讯设置"));
    btn_comSet->setText(tr("打开串口"));
    label_28->setText(tr("LD温度(15-35℃)"));
    btnSetLdTemp->setText(tr("设置"));
}
