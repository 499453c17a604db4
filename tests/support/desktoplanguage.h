#ifndef DESKTOPLANGUAGE_H
#define DESKTOPLANGUAGE_H

#include <QString>

// The language a test expects the panel to start in. CTest runs some tests once more with the
// system locale set to another desktop's, and names that locale in LDPANEL_TEST_DESKTOP
// ("zh_CN", "de_DE"); without it the locale is C.UTF-8 and the panel English.
namespace DesktopLanguage {

// Empty when Qt reports the locale the entry set, else what it reports instead: a test under a
// locale Qt did not take would prove nothing.
QString localeMismatch();
bool chinese();
// One of the panel's English texts, or on a Chinese desktop its Chinese counterpart.
QString shown(const char *english);

} // namespace DesktopLanguage

#endif // DESKTOPLANGUAGE_H
