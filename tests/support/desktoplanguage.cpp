#include "desktoplanguage.h"

#include <QLocale>
#include <QtGlobal>

#include <cstring>

namespace {

QString desktop()
{
    return qEnvironmentVariable("LDPANEL_TEST_DESKTOP");
}

// The texts the tests look for, as the panel gives them in either language.
const char *const Texts[][2] = {
    {"Work", "工作"},
    {"Stop", "停止"},
    {"ComOpen", "串口已打开"},
    {"ComClose", "串口关闭"},
    {"Device Not Online", "设备不在线!"},
    {"Device Not Online!", "设备不在线!"},
    {"ComDevice Not Open!", "没有打开设备串口!"},
    {"Command Not Confirmed!", "命令未确认!"},
    {"Record to file…", "记录到文件…"},
    {"Stop recording", "停止记录"},
};

} // namespace

QString DesktopLanguage::localeMismatch()
{
    const QString name = QLocale::system().name();
    if (desktop().isEmpty() || name == desktop())
        return QString();
    return QStringLiteral("LDPANEL_TEST_DESKTOP is %1, Qt reports %2").arg(desktop(), name);
}

bool DesktopLanguage::chinese()
{
    return desktop().startsWith(QLatin1String("zh"));
}

QString DesktopLanguage::shown(const char *english)
{
    if (!chinese())
        return QString::fromUtf8(english);
    for (const auto &pair : Texts)
        if (std::strcmp(pair[0], english) == 0)
            return QString::fromUtf8(pair[1]);
    return QStringLiteral("<no Chinese text for \"%1\">").arg(QString::fromUtf8(english));
}
