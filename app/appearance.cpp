#include "appearance.h"

#include <algorithm>

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QStringList>
#include <QStyleFactory>

namespace {

// PT Sans Narrow as ParaType ships it; the licence beside it in the same folder.
const char *const FontFiles[] = {"PTN57F.ttf"};

bool isFamily(const QString &name)
{
    // A family offered by several foundries is listed as "Family [Foundry]".
    return name.compare(Appearance::family(), Qt::CaseInsensitive) == 0 ||
           name.startsWith(Appearance::family() + QStringLiteral(" ["), Qt::CaseInsensitive);
}

} // namespace

void Appearance::prepare()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 always scales and has deprecated the attribute.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
#endif
    // The screen's own factor, 1.25 or 1.5 as well: a rounded one left the rest to the fonts, 25 %
    // too large for their rectangles at 1.25, and at 1.5 made the window taller than a 1080-pixel
    // screen. QT_SCALE_FACTOR_ROUNDING_POLICY still overrides it.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    // No OpenGL in this window: without this the xcb platform loads the GL stack for every
    // top-level widget, some 50 MiB resident and a slower start.
    QCoreApplication::setAttribute(Qt::AA_ForceRasterWidgets, true);
}

bool Appearance::apply()
{
    // Fusion is built into Qt everywhere; a platform style would give the buttons other margins
    // than the ones the texts were fitted to.
    if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);

    // Asked through the database: a QFont resolved now would stay cached with the substitute.
    const QStringList installed = QFontDatabase().families();
    bool found = std::any_of(installed.begin(), installed.end(), isFamily);
    if (!found) {
        // No system copy (Windows, Linux without fonts-paratype): every build and the Windows
        // install put the files beside the program.
        const QDir fonts(QCoreApplication::applicationDirPath() + QStringLiteral("/fonts"));
        for (const char *file : FontFiles) {
            const int id =
                QFontDatabase::addApplicationFont(fonts.filePath(QString::fromLatin1(file)));
            const QStringList loaded = QFontDatabase::applicationFontFamilies(id);
            found = found || std::any_of(loaded.begin(), loaded.end(), isFamily);
        }
        if (!found)
            return false;
    }
    // Only the family and the size: Chinese texts fall back to a CJK font of the system.
    QFont font = QApplication::font();
    font.setFamily(family());
    font.setPointSize(DefaultPointSize);
    QApplication::setFont(font);
    return true;
}
