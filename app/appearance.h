#ifndef APPEARANCE_H
#define APPEARANCE_H

#include <QString>

// The panel's look on every platform: the Fusion style and one narrow typeface. The form's
// rectangles are fixed in pixels, so the texts fit them only in a font chosen for them; the
// platform's own font cuts several labels off.
namespace Appearance {

// Debian installs it from fonts-paratype; without a system copy it is loaded from the fonts
// folder beside the executable.
inline QString family()
{
    return QStringLiteral("PT Sans Narrow");
}
// For the widgets that set no size of their own: the buttons and the port list.
constexpr int DefaultPointSize = 9;

// Call before the application object exists: high-DPI scaling by the screen's own factor, not a
// rounded one, and raster widgets.
void prepare();

// Call after the application object exists and before any widget is made. Returns false when the
// family cannot be had; the panel then runs in the platform's font.
bool apply();

} // namespace Appearance

#endif
