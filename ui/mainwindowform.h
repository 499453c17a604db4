#ifndef MAINWINDOWFORM_H
#define MAINWINDOWFORM_H

class QComboBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMainWindow;
class QPushButton;
class QStackedWidget;
class QWidget;

// The widgets of the main window, in creation order. The record owns none of them: they hang
// from the window's widget tree.
class MainWindowForm
{
public:
    void setupForm(QMainWindow *window);
    void retranslateForm(QMainWindow *window);

    QWidget *centralwidget = nullptr;
    QGridLayout *gridLayout = nullptr;
    QGridLayout *gridLayout_2 = nullptr;
    QStackedWidget *stackedWidget = nullptr;
    QWidget *page_3 = nullptr;
    QLabel *label_13 = nullptr;
    QGroupBox *groupBox_3 = nullptr;
    QLabel *label_27 = nullptr;
    QLineEdit *edLdSetCurrent = nullptr;
    QPushButton *btnSetLdCurrent = nullptr;
    QPushButton *btnSetLdOn = nullptr;
    QPushButton *btnSetLdOff = nullptr;
    QLabel *label_29 = nullptr;
    QGroupBox *groupBox_4 = nullptr;
    QLabel *label_14 = nullptr;
    QLabel *label_15 = nullptr;
    QLabel *label_2 = nullptr;
    QLabel *label_4 = nullptr;
    QLabel *label_3 = nullptr;
    QLabel *ldSetCurrent = nullptr;
    QLabel *ldState = nullptr;
    QLabel *ldSetPower = nullptr;
    QLabel *label_11 = nullptr;
    QLabel *tecRtTemp = nullptr;
    QLabel *label_16 = nullptr;
    QLabel *label_5 = nullptr;
    QLabel *ldMaxCur = nullptr;
    QLabel *label_17 = nullptr;
    QGroupBox *groupBox_2 = nullptr;
    QComboBox *comb_comName = nullptr;
    QPushButton *btn_comSet = nullptr;
    QLabel *label_28 = nullptr;
    QLineEdit *edLdSetTemp = nullptr;
    QPushButton *btnSetLdTemp = nullptr;
    QWidget *page_4 = nullptr;
};

#endif // MAINWINDOWFORM_H
