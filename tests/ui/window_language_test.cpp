// The window in the languages it speaks: the translations complete and current, the real window
// offscreen in each language (kept as screenshots ready-<code>.png), the alerts it translates and
// the ones it shows as they came, and the language picked from the environment as a user's
// session sets it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <map>
#include <regex>

#include "engine/hex_loader.h"
#include "qt_wait.h"
#include "records/release_text.h"
#include "support/process.h"
#include "ui/ViewController.h"
#include "ui/window_language.h"

namespace trident::testing {
namespace {

// A .ts file's messages as lupdate writes them: "context|source" to what follows "<translation",
// its type attribute (unfinished, vanished, obsolete) if any, then ">" and the text.
std::map<std::string, std::string> readTs(const std::filesystem::path& file) {
  std::map<std::string, std::string> messages;
  const std::string text = readFile(file);
  const std::regex context("<name>(.*)</name>([\\s\\S]*?)</context>");
  const std::regex message("<source>(.*)</source>\\s*<translation(.*)</translation>");
  for (std::sregex_iterator c(text.begin(), text.end(), context), end; c != end; ++c) {
    const std::string body = (*c)[2];
    for (std::sregex_iterator m(body.begin(), body.end(), message); m != end; ++m)
      messages[(*c)[1].str() + "|" + (*m)[1].str()] = (*m)[2];
  }
  return messages;
}

std::vector<std::string> placeholders(const std::string& text) {
  const std::regex number("%\\d");
  std::vector<std::string> found(std::sregex_token_iterator(text.begin(), text.end(), number), {});
  std::sort(found.begin(), found.end());
  return found;
}

// Every .ts file holds exactly the texts lupdate finds in the window's sources now, each one
// translated, with the same placeholders as its English.
TEST(Translations, EveryLanguageIsCompleteAndCurrent) {
  TempDir dir;
  ChildProcess lupdate({TRIDENT_LUPDATE, TRIDENT_SOURCE_DIR "/src/ui", "-I",
                        TRIDENT_SOURCE_DIR "/src", "-no-obsolete", "-locations", "none", "-ts",
                        (dir / "fresh.ts").string()});
  ASSERT_EQ(lupdate.wait(), 0) << lupdate.output();
  const auto keys = [](const std::map<std::string, std::string>& messages) {
    std::vector<std::string> all;
    for (const auto& [key, unused] : messages)
      all.push_back(key);
    return all;
  };
  const auto fresh = readTs(dir / "fresh.ts");
  ASSERT_GE(fresh.size(), 30u);
  for (const std::string code : {"ja", "es", "fr"}) {
    const auto ts = readTs(TRIDENT_SOURCE_DIR "/src/ui/translations/trident_" + code + ".ts");
    EXPECT_EQ(keys(ts), keys(fresh)) << code;
    for (const auto& [key, translation] : ts) {
      EXPECT_TRUE(translation.starts_with(">") && translation.size() > 1) << key << translation;
      EXPECT_EQ(placeholders(translation), placeholders(key)) << code << ": " << translation;
    }
  }
}

struct Language {
  const char* code;
  const char* ready;   // the Ready view's hint
  const char* update;  // its button
  const char* alert;   // "Error: Please check your network"
  const char* cancel;  // Qt's own button in the close question
};

void PrintTo(const Language& language, std::ostream* out) {
  *out << language.code;
}

class WindowLanguages : public ::testing::TestWithParam<Language> {};

// The real window in the language: its Ready view, the Server error view with an alert the engine
// sends, and Qt's own buttons. Variant titles are product names and stay as they are.
TEST_P(WindowLanguages, TheWindowSpeaksIt) {
  const Language& l = GetParam();
  const WindowLanguage language({QString::fromLatin1(l.code)});
  ASSERT_EQ(language.code(), l.code);
  ViewController window;
  bool registered = false;
  QStringList alerts;
  window.setHooks({.RegisterHID = [&] { registered = true; }});
  window.setAlertPresenter([&](ViewController&, const QString& message) { alerts << message; });
  window.show();
  ASSERT_TRUE(waitUntil([&] { return registered; }));
  window.fillVariantPopUp({"Tournament(No Turbo & Remap)", "Standard"});
  window.showReady("V2.1.0");
  EXPECT_EQ(window.HintMessage1()->text(), QString::fromUtf8(l.ready));
  EXPECT_EQ(window.ActionButton()->text(), QString::fromUtf8(l.update));
  EXPECT_EQ(window.popUpBtn()->itemText(0), "Tournament(No Turbo & Remap)");
  saveScreenshot(window.grab(), std::string("ready-") + l.code);
  window.showServerError();
  window.alertA("Error: Please check your network");
  EXPECT_EQ(alerts, QStringList{QString::fromUtf8(l.alert)});
  saveScreenshot(window.grab(), std::string("server-error-") + l.code);
  window.setUpUpdateHexUI();
  window.close();
  ASSERT_TRUE(window.quitQuestion());
  EXPECT_EQ(window.quitQuestion()->button(QMessageBox::Cancel)->text(),
            QString::fromUtf8(l.cancel));
  window.quitQuestion()->reject();
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Languages, WindowLanguages, ::testing::Values(
    Language{"ja", "ボタンをクリックすると更新を開始します", "更新",
             "エラー: ネットワーク接続を確認してください", "キャンセル"},
    Language{"es", "Haga clic en el botón para iniciar la actualización", "Actualizar",
             "Error: compruebe su conexión de red", "Cancelar"},
    Language{"fr", "Cliquez sur le bouton pour lancer la mise à jour", "Mettre à jour",
             "Erreur : vérifiez votre connexion réseau", "Annuler"}),
    [](const auto& info) { return std::string(info.param.code); });
// clang-format on

// The alerts' texts as the engine and the update client make them: translated with what fills
// them kept; a text from outside shown as it came.
TEST(WindowLanguage, AlertsAreTranslatedWhereKnown) {
  const WindowLanguage french({"fr"});
  HexImage damaged;
  damaged.damagedLine = Error{"record checksum", 7};
  const std::vector<std::pair<std::string, QString>> cases = {
      {imageRefusal(damaged)->alert, "Erreur : le fichier du firmware est endommagé (ligne 7)"},
      {*readReleaseText("V1", "ftp://h/r.txt", "ftp://h").refusal,
       "Impossible de lire le fichier de description de la version"},
      {"Cannot write the firmware file /a: %2/tmp.hex: Permission denied",
       "Impossible d'écrire le fichier du firmware /a: %2/tmp.hex : Permission denied"},
      {"The server has not answered for 30 s", "Le serveur ne répond plus depuis 30 s"},
      {"Failed to connect to 127.0.0.1 port 2121: Connection refused",
       "Failed to connect to 127.0.0.1 port 2121: Connection refused"},
      {"Parse txt file error, said the server", "Parse txt file error, said the server"},
  };
  for (const auto& [message, shown] : cases)
    EXPECT_EQ(translatedAlert(QString::fromStdString(message)), shown) << message;
}

// The program's own choice, from a session's environment alone, as glibc orders it: LANGUAGE (a
// list), then LC_ALL, LC_MESSAGES, LANG. The first language the window speaks wins, a region
// falls back to its language, and English before it, or none it speaks, keeps English.
TEST(WindowLanguage, ComesFromTheEnvironment) {
  // clang-format off
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"LANGUAGE=fr"}, "fr"}, {{"LC_ALL=ja_JP.UTF-8"}, "ja"}, {{"LANGUAGE=de:xx:fr"}, "fr"},
      {{"LANG=es_MX.UTF-8"}, "es"}, {{"LANGUAGE=fr", "LC_ALL=ja_JP.UTF-8"}, "fr"},
      {{"LC_MESSAGES=ja_JP.UTF-8", "LANG=es_ES.UTF-8"}, "ja"}, {{"LANGUAGE=en:fr"}, "en"},
      {{"LANG=de_DE.UTF-8"}, "en"}, {{"LANG=C"}, "en"}, {{}, "en"}};
  // clang-format on
  for (const auto& [environment, code] : cases) {
    std::vector<std::string> argv{"/usr/bin/env", "-i"};
    argv.insert(argv.end(), environment.begin(), environment.end());
    argv.push_back(TRIDENT_BINARY_DIR "/tests/ui/trident_language_probe");
    ChildProcess probe(argv);
    EXPECT_EQ(probe.wait(), 0);
    // Qt may warn first, on standard error, of a locale this machine lacks.
    std::string out("\n"), line("\nlanguage: ");  // (GCC 12's -O3 misreads "x" + std::string)
    out += probe.output();
    line += code + "\n";
    EXPECT_THAT(out, ::testing::HasSubstr(line));
  }
}

}  // namespace
}  // namespace trident::testing
