#include "dialogcatcher.h"

#include <QApplication>
#include <QPushButton>

DialogCatcher::DialogCatcher()
{
    connect(&timer, &QTimer::timeout, this, &DialogCatcher::poll);
    timer.start(2);
}

QStringList DialogCatcher::texts() const
{
    QStringList out;
    for (const Seen &s : seen)
        out << s.text;
    return out;
}

void DialogCatcher::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    Seen s;
    s.title = box->windowTitle();
    s.text = box->text();
    s.informativeText = box->informativeText();
    s.icon = box->icon();
    s.buttons = box->standardButtons();
    s.hasDefaultButton = box->defaultButton() != nullptr;
    s.parent = box->parentWidget();
    seen << s;
    if (QAbstractButton *ok = box->button(QMessageBox::Ok))
        ok->click();
    else
        box->reject();
}
