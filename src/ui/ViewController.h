#pragma once

#include <QElapsedTimer>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QStringView>
#include <QWidget>

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ports.h"

class QCloseEvent;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

QT_BEGIN_NAMESPACE
namespace Ui {
class ViewController;
}
QT_END_NAMESPACE

namespace trident {

class WindowAccessibility;

// The one window. It owns the seven outlets of ViewController.ui and applies each visible state the
// engine asks for, in the order the views are changed in; it decides nothing about the update.
// Everything here runs on the GUI thread.
class ViewController final : public QWidget, public WindowPort {
  Q_OBJECT

 public:
  // Where the window hands work on. The application sets them before its event loop first turns.
  struct Hooks {
    std::function<void()> RegisterHID = nullptr;          // start-up's last step: the HID link
    std::function<void()> OnActionButtonClick = nullptr;  // ActionButton clicked: engine decides
    std::function<void(int64_t)> onVariantSelected = nullptr;  // the user picked a variant
    std::function<void()> alertDismissed = nullptr;            // the last open alert was dismissed
  };
  // Shows `message` modally and returns once the user has dismissed it.
  using AlertPresenter = std::function<void(ViewController& window, const QString& message)>;

  // Names of the progress pictures; entry i is the decimal text of i.
  static constexpr std::array<std::string_view, 21> progressImageNames{
      "0",  "1",  "2",  "3",  "4",  "5",  "6",  "7",  "8",  "9", "10",
      "11", "12", "13", "14", "15", "16", "17", "18", "19", "20"};

  // The application picture called `name` ("0".."20", "complete", "failed", "device", "loading");
  // a null pixmap for a name the application does not carry. On a screen whose `devicePixelRatio`
  // is above 1 it is the picture drawn with twice the pixels, marked so that it keeps its size on
  // the window; with `dark`, the variant drawn for a dark window where the picture has one.
  // Each is decoded once per process and handed out shared from then on.
  static QPixmap imageNamed(QStringView name, qreal devicePixelRatio = 1, bool dark = false);
  // The picture called `name` as this window shows it: for the screen it is on and its look.
  QPixmap pictureNamed(QStringView name) const;
  // The window wears its dark look: the application's palette is dark (light text on a dark
  // window), as a dark desktop gives it.
  bool darkLook() const { return darkLook_; }

  // The alert the application shows unless told otherwise: a QMessageBox run with exec().
  static void presentModalAlert(ViewController& window, const QString& message);

  // The question a close asks while the board is being programmed (in English; it is asked in the
  // window's language).
  static constexpr std::string_view kQuitQuestion = QT_TRANSLATE_NOOP(
      "trident::ViewController",
      "The board is being programmed. If you quit now it keeps its bootloader and needs updating "
      "again. Quit anyway?");
  // How long the action button ignores clicks after it changed its role (Update, Close): the
  // second click of a double click must not close the verdict the first one brought.
  static constexpr std::chrono::milliseconds kRoleChangeGuard{500};

  // Applies the Loading view at once and the connect prompt on the event loop's next turn, which
  // also removes `staleHexFile`, the run's firmware file, if it is there (none when empty).
  explicit ViewController(std::filesystem::path staleHexFile = {}, QWidget* parent = nullptr);
  ~ViewController() override;

  void setHooks(Hooks hooks);
  void setAlertPresenter(AlertPresenter presenter);
  // Clicks on the action button within `guard` of a change of its role are dropped. The
  // application sets kRoleChangeGuard; a window on its own takes every click.
  void setClickGuard(std::chrono::milliseconds guard) { clickGuard_ = guard; }

  // An alert is on screen (alertA has not returned yet).
  bool alertOpen() const { return alertsOpen_ > 0; }
  // The close question, while it is asked.
  QMessageBox* quitQuestion() const { return quitQuestion_; }

  // The outlets.
  QComboBox* popUpBtn() const;
  QLabel* Device_1_Image() const;
  QLabel* DownloadImage() const;
  QLabel* ResultImage() const;
  QLabel* VerMessage() const;
  QLabel* HintMessage1() const;
  QPushButton* ActionButton() const;
  // The firmware download's progress, shown only while it lasts.
  QProgressBar* DownloadProgress() const;

  // WindowPort
  void fillVariantPopUp(const std::vector<std::string>& titles) override;
  void showFetching() override;
  void showReady(std::string_view versionStr) override;
  void showDownloading() override;
  void showDownloadProgress(uint64_t received, uint64_t expected) override;
  void setUpUpdateHexUI() override;
  void showProgressPicture(int index, uint32_t sent, uint32_t total) override;
  void showUpdateResult(bool success) override;
  void showDeviceRemoved() override;
  void showServerError() override;
  void adjustToErrorUI() override;
  void alertA(std::string_view message) override;
  void terminate() override;

 protected:
  // While the board is being programmed, closing asks first; in any other state it closes.
  void closeEvent(QCloseEvent* event) override;
  // The desktop's palette and the screen's pixel ratio can change under a running window.
  bool event(QEvent* event) override;

 private:
  void viewDidLoad();
  void startUpBlock();
  void setHint(const char* text);  // English; shown translated
  void showCloseButton();
  void setActionTitle(const QString& title);
  void actionButtonClicked();
  void askBeforeQuitting();
  void programmingEnded();
  void setImage(QLabel* view, QStringView name);
  void followPalette();
  void showPicturesAgain();

  std::unique_ptr<Ui::ViewController> ui_;
  std::unique_ptr<WindowAccessibility> accessibility_;
  std::filesystem::path staleHexFile_;
  Hooks hooks_;
  AlertPresenter presentAlert_ = presentModalAlert;
  int alertsOpen_ = 0;
  bool programming_ = false;  // the Programming view is on: frames are being sent
  bool quitConfirmed_ = false;
  QPointer<QMessageBox> quitQuestion_;
  std::chrono::milliseconds clickGuard_{0};
  QElapsedTimer roleChanged_;
  QString lightStyleSheet_;  // the layout's own
  bool darkLook_ = false;
  // The picture each picture view shows, by name: set again when the look or the screen changes.
  std::vector<std::pair<QLabel*, QString>> pictures_;
};

}  // namespace trident
