#include "ui/window_language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QRegularExpression>

namespace trident {

namespace {

// What the engine and the update client put in an alert, as they write it. %1 and %2 stand for
// what each failure fills in (a line number, a size, a path, a library's reason), which goes into
// the translation unchanged.
constexpr const char* kAlertTexts[] = {
    QT_TRANSLATE_NOOP("Alert",
                      "Error: The board stopped answering. Unplug it, hold its button and plug it "
                      "in again."),
    QT_TRANSLATE_NOOP("Alert", "Error: Please check your network"),
    QT_TRANSLATE_NOOP("Alert", "Error: The firmware file is damaged (line %1)"),
    QT_TRANSLATE_NOOP("Alert", "Error: The firmware file is too large for this board"),
    QT_TRANSLATE_NOOP("Alert", "Error: The firmware file holds no firmware data"),
    QT_TRANSLATE_NOOP("Alert", "Parse txt file error"),
    QT_TRANSLATE_NOOP("Alert", "checkSumStr error"),
    QT_TRANSLATE_NOOP("Alert", "The release is not signed by its publisher."),
    QT_TRANSLATE_NOOP("Alert", "The firmware does not match its release."),
    QT_TRANSLATE_NOOP("Alert", "No firmware release has been read from the update server"),
    QT_TRANSLATE_NOOP("Alert", "The firmware file has no valid address on the update server %1"),
    QT_TRANSLATE_NOOP("Alert", "Cannot write the firmware file %1: %2"),
    QT_TRANSLATE_NOOP("Alert", "Cannot start a network transfer"),
    QT_TRANSLATE_NOOP("Alert", "Cannot set up the network transfer: %1"),
    QT_TRANSLATE_NOOP("Alert", "The server sent more than %1 bytes"),
    QT_TRANSLATE_NOOP("Alert", "The server announced %1 bytes, more than %2"),
    QT_TRANSLATE_NOOP("Alert", "The server has not answered for %1 s"),
};

// A text with placeholders as a pattern that takes what fills them. Greedy: a path may hold ": ",
// a library's reason after it does not.
QRegularExpression alertPattern(const QString& text) {
  QString pattern = QRegularExpression::escape(text);
  pattern.replace(QStringLiteral("\\%1"), QStringLiteral("(.*)"));
  pattern.replace(QStringLiteral("\\%2"), QStringLiteral("(.*)"));
  return QRegularExpression(QRegularExpression::anchoredPattern(pattern),
                            QRegularExpression::DotMatchesEverythingOption);
}

}  // namespace

WindowLanguage::WindowLanguage(const QStringList& uiLanguages) {
  for (const QString& name : uiLanguages) {
    const QLocale locale(name);
    // The user prefers English to anything after it.
    if (locale.language() == QLocale::English) return;
    // A name Qt does not know, or C and POSIX, which Qt also puts after each name it does not
    // know ("xx:fr" reads as xx, C, fr): the user's next choice counts.
    if (locale.language() == QLocale::C) continue;
    const QString code = QLocale::languageToCode(locale.language());
    auto window = std::make_unique<QTranslator>();
    if (!window->load(QStringLiteral(":/i18n/trident_") + code)) continue;
    window_ = std::move(window);
    QCoreApplication::installTranslator(window_.get());
    // Without Qt's own translation its buttons stay in English; the window is still translated.
    qt_ = std::make_unique<QTranslator>();
    if (qt_->load(QStringLiteral("qtbase_") + code,
                  QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
      QCoreApplication::installTranslator(qt_.get());
    }
    code_ = code;
    return;
  }
}

WindowLanguage::~WindowLanguage() {
  for (QTranslator* translator : {window_.get(), qt_.get()})
    if (translator) QCoreApplication::removeTranslator(translator);
}

QString translatedAlert(const QString& message) {
  for (const char* source : kAlertTexts) {
    const QString english = QString::fromUtf8(source);
    if (!english.contains(u'%')) {
      if (message == english) return QCoreApplication::translate("Alert", source);
      continue;
    }
    const QRegularExpressionMatch match = alertPattern(english).match(message);
    if (!match.hasMatch()) continue;
    const QString text = QCoreApplication::translate("Alert", source);
    // Both at once, so that a path holding "%2" is not filled in again.
    return match.lastCapturedIndex() == 1 ? text.arg(match.captured(1))
                                          : text.arg(match.captured(1), match.captured(2));
  }
  return message;
}

}  // namespace trident
