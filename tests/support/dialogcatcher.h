#ifndef DIALOGCATCHER_H
#define DIALOGCATCHER_H

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QTimer>

// Records every modal message box that opens while it lives, and dismisses it with OK, so a
// test can call a slot that warns without blocking.
class DialogCatcher : public QObject
{
    Q_OBJECT
public:
    struct Seen
    {
        QString title;
        QString text;
        QString informativeText;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        bool hasDefaultButton = false;
        QWidget *parent = nullptr;
    };

    DialogCatcher();

    QList<Seen> seen;
    // The texts of all dialogs seen, in order.
    QStringList texts() const;

private:
    void poll();
    QTimer timer;
};

#endif // DIALOGCATCHER_H
