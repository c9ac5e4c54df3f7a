// Says which language the window would speak in this process's environment: the language tests
// start it with LANGUAGE, LC_ALL, LC_MESSAGES or LANG set, as a user's session sets them.
#include <QCoreApplication>
#include <QLocale>

#include <cstdio>

#include "ui/window_language.h"

int main(int argc, char** argv) {
  const QCoreApplication app(argc, argv);
  const trident::WindowLanguage language(QLocale::system().uiLanguages());
  std::printf("language: %s\n", qPrintable(language.code()));
}
