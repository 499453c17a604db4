#ifndef PATTERNVALIDATOR_H
#define PATTERNVALIDATOR_H

#include <QString>
#include <QtGlobal>

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QRegularExpressionValidator>
// Qt 6 has no QRegExp: PCRE reads the pattern, with QRegExp's meaning of '.', '\d' and '$'.
using PatternValidator = QRegularExpressionValidator;
#else
#include <QRegExpValidator>
using PatternValidator = QRegExpValidator;
#endif

// A validator without a parent for a QRegExp pattern; on Qt 5 and Qt 6 alike it finds the same
// inputs acceptable, intermediate and invalid (the owner deletes it).
inline PatternValidator *newPatternValidator(const QString &pattern)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    // '.' takes a newline and '\d' any decimal digit there; a final '$' is the very end, where
    // PCRE's '$' also matches before a final newline. Only a character outside the BMP differs:
    // QRegExp's '.' takes half of it, PCRE's the whole.
    QString spelled = pattern;
    int backslashes = 0;
    for (int i = spelled.size() - 2; i >= 0 && spelled.at(i) == QLatin1Char('\\'); --i)
        ++backslashes;
    if (spelled.endsWith(QLatin1Char('$')) && backslashes % 2 == 0)
        spelled.replace(spelled.size() - 1, 1, QStringLiteral("\\z"));
    return new QRegularExpressionValidator(
        QRegularExpression(spelled, QRegularExpression::DotMatchesEverythingOption |
                                        QRegularExpression::UseUnicodePropertiesOption));
#else
    return new QRegExpValidator(QRegExp(pattern));
#endif
}

#endif
