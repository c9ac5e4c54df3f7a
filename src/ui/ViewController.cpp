#include "ui/ViewController.h"

#include "common/diagnostics.h"
#include "ui/window_language.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSizePolicy>

#include <algorithm>
#include <system_error>

#include "ui/window_accessibility.h"
#include "ui_ViewController.h"

namespace trident {

namespace {

// The hints, in the window's language (tr() in setHint); English is what the code says.
constexpr const char* kLoadingHint =
    QT_TRANSLATE_NOOP("trident::ViewController", "Download Update File From FTP , Please wait");
// The prompt was written for one platform; elsewhere the board goes into a computer.
#ifdef Q_OS_MACOS
constexpr const char* kConnectHint = QT_TRANSLATE_NOOP(
    "trident::ViewController", "Press and hold the button, then connect it to the MAC.");
#else
constexpr const char* kConnectHint = QT_TRANSLATE_NOOP(
    "trident::ViewController", "Press and hold the button, then connect it to the computer.");
#endif
constexpr const char* kReadyHint =
    QT_TRANSLATE_NOOP("trident::ViewController", "Click Button to start update");
constexpr const char* kBusyHint =
    QT_TRANSLATE_NOOP("trident::ViewController", "DO NOT Remove the Controller");
constexpr const char* kUpdatedHint =
    QT_TRANSLATE_NOOP("trident::ViewController", "Firmware successfully updated.");
constexpr const char* kInterruptedHint =
    QT_TRANSLATE_NOOP("trident::ViewController", "The Setup didn't finish and will restart.");
constexpr const char* kServerErrorHint =
    QT_TRANSLATE_NOOP("trident::ViewController", "Something wrong , Can't Download File From FTP");

QString fromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

void ViewController::presentModalAlert(ViewController& window, const QString& message) {
  QMessageBox alert(&window);
  alert.setWindowTitle(window.windowTitle());
  alert.setIconPixmap(window.windowIcon().pixmap(QSize(64, 64), window.devicePixelRatioF()));
  // Messages come from network libraries and servers; they are shown as written, never as markup.
  alert.setTextFormat(Qt::PlainText);
  alert.setText(message);
  alert.setStandardButtons(QMessageBox::Ok);
  alert.setDefaultButton(QMessageBox::Ok);
  alert.exec();
}

ViewController::ViewController(std::filesystem::path staleHexFile, QWidget* parent)
    : QWidget(parent),
      ui_(std::make_unique<Ui::ViewController>()),
      staleHexFile_(std::move(staleHexFile)) {
  imageNamed(u"device");  // the layout's icon comes from the same resources
  ui_->setupUi(this);
  // First: every picture and hint set from here on is told to it.
  accessibility_ = std::make_unique<WindowAccessibility>(WindowAccessibility::Parts{
      *ui_->popUpBtn, *ui_->Device_1_Image, *ui_->DownloadImage, *ui_->ResultImage,
      *ui_->VerMessage, *ui_->HintMessage1, *ui_->DownloadProgress, *ui_->ActionButton});
  setAttribute(Qt::WA_StyledBackground);
  lightStyleSheet_ = styleSheet();
  followPalette();
  // The layout's pictures, chosen here for the screen and the look.
  setImage(ui_->DownloadImage, u"loading");
  setImage(ui_->Device_1_Image, u"device");
  // The window has a fixed size; views that come and go keep their room, so nothing jumps.
  for (QWidget* view :
       std::initializer_list<QWidget*>{ui_->popUpBtn, ui_->VerMessage, ui_->HintMessage1,
                                       ui_->DownloadProgress, ui_->ActionButton}) {
    QSizePolicy policy = view->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    view->setSizePolicy(policy);
  }

  // The version comes from the server: markup in it is shown as it stands, never rendered.
  ui_->VerMessage->setTextFormat(Qt::PlainText);
  ui_->HintMessage1->setTextFormat(Qt::PlainText);

  connect(ui_->ActionButton, &QPushButton::clicked, this, &ViewController::actionButtonClicked);
  // `activated` fires for the user's choices only, so filling the pop-up starts no fetch.
  connect(ui_->popUpBtn, &QComboBox::activated, this, [this](int index) {
    if (hooks_.onVariantSelected) hooks_.onVariantSelected(index);
  });

  viewDidLoad();
}

ViewController::~ViewController() = default;

void ViewController::setHooks(Hooks hooks) {
  hooks_ = std::move(hooks);
}

void ViewController::setAlertPresenter(AlertPresenter presenter) {
  presentAlert_ = presenter ? std::move(presenter) : presentModalAlert;
}

QComboBox* ViewController::popUpBtn() const {
  return ui_->popUpBtn;
}
QLabel* ViewController::Device_1_Image() const {
  return ui_->Device_1_Image;
}
QLabel* ViewController::DownloadImage() const {
  return ui_->DownloadImage;
}
QLabel* ViewController::ResultImage() const {
  return ui_->ResultImage;
}
QLabel* ViewController::VerMessage() const {
  return ui_->VerMessage;
}
QLabel* ViewController::HintMessage1() const {
  return ui_->HintMessage1;
}
QPushButton* ViewController::ActionButton() const {
  return ui_->ActionButton;
}
QProgressBar* ViewController::DownloadProgress() const {
  return ui_->DownloadProgress;
}

void ViewController::viewDidLoad() {
  ui_->DownloadProgress->hide();
  ui_->VerMessage->hide();
  ui_->ResultImage->hide();
  ui_->Device_1_Image->hide();
  setHint(kLoadingHint);
  ui_->ActionButton->hide();
  ui_->popUpBtn->hide();
  // Queued, so the loading picture and its hint are on screen for one turn of the event loop
  // before the connect prompt replaces them.
  QMetaObject::invokeMethod(this, &ViewController::startUpBlock, Qt::QueuedConnection);
}

void ViewController::startUpBlock() {
  // A file that cannot be removed is left alone: the next download replaces it anyway.
  std::error_code ignored;
  if (!staleHexFile_.empty()) std::filesystem::remove(staleHexFile_, ignored);
  ui_->DownloadImage->hide();
  ui_->Device_1_Image->show();
  setHint(kConnectHint);
  if (hooks_.RegisterHID) hooks_.RegisterHID();
}

void ViewController::setHint(const char* text) {
  ui_->HintMessage1->setText(tr(text));
  accessibility_->hintChanged();
}

void ViewController::showCloseButton() {
  ui_->ActionButton->show();
  ui_->ActionButton->setEnabled(true);
  setActionTitle(tr("Close"));
}

void ViewController::setActionTitle(const QString& title) {
  if (ui_->ActionButton->text() == title) return;
  ui_->ActionButton->setText(title);
  roleChanged_.start();
}

void ViewController::actionButtonClicked() {
  if (roleChanged_.isValid() && roleChanged_.elapsed() < clickGuard_.count()) return;
  if (hooks_.OnActionButtonClick) hooks_.OnActionButtonClick();
}

void ViewController::closeEvent(QCloseEvent* event) {
  if (!programming_ || quitConfirmed_) {
    event->accept();
    return;
  }
  event->ignore();
  askBeforeQuitting();
}

void ViewController::askBeforeQuitting() {
  if (quitQuestion_) {
    quitQuestion_->raise();
    return;
  }
  // Asked beside the running update, not in a loop of its own: the board's replies keep coming
  // while the user thinks, and the question goes once the update ends by itself.
  auto* box = new QMessageBox(this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowTitle(windowTitle());
  box->setIcon(QMessageBox::Warning);
  box->setTextFormat(Qt::PlainText);
  box->setText(tr(kQuitQuestion.data()));
  QPushButton* quit = box->addButton(tr("Quit"), QMessageBox::DestructiveRole);
  box->addButton(QMessageBox::Cancel);
  box->setDefaultButton(QMessageBox::Cancel);
  box->setEscapeButton(QMessageBox::Cancel);
  connect(box, &QMessageBox::finished, this, [this, box, quit] {
    quitQuestion_.clear();
    if (box->clickedButton() != quit) return;
    quitConfirmed_ = true;
    close();
  });
  quitQuestion_ = box;
  box->open();
}

void ViewController::programmingEnded() {
  ui_->DownloadProgress->hide();
  programming_ = false;
  accessibility_->programmingEnded();
  if (quitQuestion_) quitQuestion_->reject();
}

void ViewController::fillVariantPopUp(const std::vector<std::string>& titles) {
  ui_->popUpBtn->clear();
  for (const auto& title : titles)
    ui_->popUpBtn->addItem(fromUtf8(title));
}

void ViewController::showFetching() {
  ui_->VerMessage->hide();
  ui_->ActionButton->hide();
}

void ViewController::showReady(std::string_view versionStr) {
  ui_->popUpBtn->show();
  ui_->VerMessage->show();
  // Server text: a direction override or a line separator in it would show another version, or
  // a verdict, than it holds.
  ui_->VerMessage->setText(
      tr("The lastest version: %1").arg(fromUtf8(printSafe(versionStr, false))));
  ui_->ActionButton->show();
  setActionTitle(tr("Update"));
  setHint(kReadyHint);
}

void ViewController::showDownloading() {
  // Disabled before anything else, so a second click cannot start a second download. The
  // variant is fixed from here on: the download uses the release chosen at the click.
  ui_->ActionButton->setEnabled(false);
  setHint(kBusyHint);
  ui_->popUpBtn->setEnabled(false);
}

void ViewController::showDownloadProgress(uint64_t received, uint64_t expected) {
  QProgressBar& bar = *ui_->DownloadProgress;
  const double kib = static_cast<double>(received) / 1024;
  if (expected == 0) {
    // The server did not say how much: the bar stays empty and the count grows. (A busy bar
    // would hide the count.)
    bar.setRange(0, 1);
    bar.setValue(0);
    bar.setFormat(tr("Downloading: %1 KB").arg(kib, 0, 'f', 0));
  } else {
    // In thousandths, so that a file of any size fits the bar's int range.
    bar.setRange(0, 1000);
    bar.setValue(static_cast<int>(std::min<uint64_t>(received, expected) * 1000 / expected));
    bar.setFormat(tr("Downloading: %1 of %2 KB")
                      .arg(kib, 0, 'f', 0)
                      .arg(static_cast<double>(expected) / 1024, 0, 'f', 0));
  }
  bar.show();
}

void ViewController::setUpUpdateHexUI() {
  ui_->DownloadProgress->hide();
  ui_->popUpBtn->hide();
  ui_->DownloadImage->hide();
  ui_->ResultImage->hide();
  ui_->Device_1_Image->show();
  setImage(ui_->Device_1_Image, fromUtf8(progressImageNames.front()));
  ui_->HintMessage1->show();
  setHint(kBusyHint);
  ui_->VerMessage->hide();
  ui_->ActionButton->hide();
  programming_ = true;
  accessibility_->programmingStarted();
}

void ViewController::showProgressPicture(int index, uint32_t sent, uint32_t total) {
  const auto last = static_cast<int>(progressImageNames.size()) - 1;
  ui_->Device_1_Image->show();
  setImage(ui_->Device_1_Image, fromUtf8(progressImageNames[std::clamp(index, 0, last)]));
  accessibility_->programmingProgress(sent, total);
}

void ViewController::showUpdateResult(bool success) {
  programmingEnded();
  ui_->Device_1_Image->hide();
  ui_->ActionButton->setEnabled(true);
  setActionTitle(tr("Close"));
  ui_->popUpBtn->hide();
  ui_->VerMessage->hide();
  ui_->ResultImage->show();
  setImage(ui_->ResultImage, success ? u"complete" : u"failed");
  setHint(success ? kUpdatedHint : kInterruptedHint);
  ui_->ActionButton->show();
}

void ViewController::showDeviceRemoved() {
  programmingEnded();
  setHint(kInterruptedHint);
  ui_->Device_1_Image->hide();
  showCloseButton();
  ui_->popUpBtn->hide();
  ui_->VerMessage->hide();
  ui_->ResultImage->show();
  setImage(ui_->ResultImage, u"failed");
}

void ViewController::showServerError() {
  programmingEnded();
  ui_->DownloadImage->hide();
  ui_->ResultImage->show();
  setHint(kServerErrorHint);
  setImage(ui_->ResultImage, u"failed");
  showCloseButton();
  ui_->popUpBtn->hide();
  ui_->VerMessage->hide();
}

void ViewController::adjustToErrorUI() {
  programmingEnded();
  ui_->Device_1_Image->hide();
  showCloseButton();
  ui_->ResultImage->show();
  setImage(ui_->ResultImage, u"failed");
  setHint(kInterruptedHint);
}

void ViewController::alertA(std::string_view message) {
  ++alertsOpen_;
  // May carry a server's reason, which is shown as it came; the known texts are translated.
  presentAlert_(*this, translatedAlert(fromUtf8(printSafe(message, true))));
  if (--alertsOpen_ == 0 && hooks_.alertDismissed) hooks_.alertDismissed();
}

void ViewController::terminate() {
  close();
  QCoreApplication::quit();
}

}  // namespace trident
