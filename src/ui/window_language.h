#pragma once

#include <QString>
#include <QStringList>
#include <QTranslator>

#include <memory>

namespace trident {

// The window's language, for as long as this object lives: the window's own translation
// (trident_xx.qm, built from src/ui/translations and carried among the resources) and Qt's
// (qtbase_xx.qm: the "OK" and "Cancel" of its message boxes), both for the first of `uiLanguages`
// the window speaks. The list is the user's order of preference, as QLocale::system().uiLanguages()
// reads it on Linux from LANGUAGE, LC_ALL, LC_MESSAGES and LANG. English, or no language the
// window speaks, leaves every text as written. Made before the window, which reads its texts once.
class WindowLanguage {
 public:
  explicit WindowLanguage(const QStringList& uiLanguages);
  ~WindowLanguage();
  WindowLanguage(const WindowLanguage&) = delete;
  WindowLanguage& operator=(const WindowLanguage&) = delete;

  // The chosen language's code ("ja", "es", "fr"); "en" when the window stays in English.
  const QString& code() const { return code_; }

 private:
  QString code_ = QStringLiteral("en");
  std::unique_ptr<QTranslator> window_;
  std::unique_ptr<QTranslator> qt_;
};

// An alert's message in the window's language. The engine and the update client say what went
// wrong in fixed English texts, some with a number or a path in them; those are translated here.
// Anything else (a server's own reason, a network library's error) is shown as it came.
QString translatedAlert(const QString& message);

}  // namespace trident
