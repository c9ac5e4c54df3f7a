#include "ui/window_accessibility.h"

#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QEvent>
#include <QFocusFrame>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>

namespace trident {

namespace {

// The property by which the progress picture leads its accessible interface to its progress.
constexpr const char* kProgressProperty = "tridentProgrammingProgress";

// The focus rings are drawn in the colour of the window's text, which stands out from the window as
// its text does, on a light palette and on a dark one, and from the button's blue (4:1 and more).
// The button's takes the place of its padding, so nothing moves when the focus comes; the pop-up's
// is a frame around it, as a style sheet of its own would change its whole look.
constexpr const char* kActionFocusRing =
    "QPushButton#ActionButton:focus { border: 3px solid palette(window-text); padding: 6px 33px; }";
constexpr const char* kVariantsFocusRing =
    "QFocusFrame { border: 2px solid palette(window-text); border-radius: 4px; }";

// The progress picture as assistive technology reads it: a progress bar with its percentage while
// the board is being programmed, a picture with its name otherwise.
class ProgressPictureInterface final : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  ProgressPictureInterface(QLabel* picture, ProgrammingProgress* progress)
      : QAccessibleWidget(picture, QAccessible::Graphic), progress_(progress) {}

  QAccessible::Role role() const override {
    return programming() ? QAccessible::ProgressBar : QAccessible::Graphic;
  }
  QString text(QAccessible::Text type) const override {
    if (!programming() || (type != QAccessible::Name && type != QAccessible::Description))
      return QAccessibleWidget::text(type);
    // The connect prompt's description is over.
    if (type == QAccessible::Description) return {};
    return ProgrammingProgress::tr("Programming the board: %1 %").arg(progress_->percent());
  }
  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::ValueInterface && programming())
      return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }

  QVariant currentValue() const override { return progress_ ? progress_->percent() : 0; }
  void setCurrentValue(const QVariant&) override {}  // read only
  QVariant maximumValue() const override { return 100; }
  QVariant minimumValue() const override { return 0; }
  QVariant minimumStepSize() const override { return 1; }

 private:
  bool programming() const { return progress_ && progress_->programming(); }

  QPointer<ProgrammingProgress> progress_;  // gone before the picture when the window closes
};

// The window is a window to assistive technology, as a main window is; the progress picture is
// read with its progress.
QAccessibleInterface* windowFactory(const QString& className, QObject* object) {
  if (className == QLatin1String("trident::ViewController"))
    return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
  if (className != QLatin1String("QLabel")) return nullptr;
  auto* progress =
      qobject_cast<ProgrammingProgress*>(object->property(kProgressProperty).value<QObject*>());
  return progress ? new ProgressPictureInterface(static_cast<QLabel*>(object), progress) : nullptr;
}

void tell(QObject* object, QAccessible::Event type) {
  QAccessibleEvent event(object, type);
  QAccessible::updateAccessibility(&event);
}

}  // namespace

ProgrammingProgress::ProgrammingProgress(QLabel& picture) : picture_(picture) {
  picture.setProperty(kProgressProperty, QVariant::fromValue<QObject*>(this));
  held_.setSingleShot(true);
  held_.setTimerType(Qt::PreciseTimer);  // a coarse timer may fire a little early
  connect(&held_, &QTimer::timeout, this, [this] {
    if (programming_ && figure_ != announced_) announce();
  });
}

void ProgrammingProgress::started() {
  programming_ = true;
  sent_ = total_ = 0;
  figure_ = announced_ = -1;
  held_.stop();
  sinceAnnounced_.invalidate();
  if (QAccessible::isActive()) figureChanged(0);
}

void ProgrammingProgress::figureChanged(int figure) {
  figure_ = figure;
  const auto interval = static_cast<qint64>(kAnnounceInterval.count());
  if (figure == 100 || !sinceAnnounced_.isValid() || sinceAnnounced_.elapsed() >= interval) {
    announce();
  } else if (!held_.isActive()) {
    held_.start(static_cast<int>(interval - sinceAnnounced_.elapsed()));
  }
}

void ProgrammingProgress::announce() {
  announced_ = figure_;
  sinceAnnounced_.start();
  held_.stop();
  QAccessibleValueChangeEvent value(&picture_, figure_);
  QAccessible::updateAccessibility(&value);
  tell(&picture_, QAccessible::NameChanged);
}

void ProgrammingProgress::ended() {
  if (!programming_) return;
  programming_ = false;
  held_.stop();
  if (QAccessible::isActive()) tell(&picture_, QAccessible::NameChanged);
}

WindowAccessibility::WindowAccessibility(Parts parts)
    : parts_(parts),
      progress_(parts.progressPicture),
      variantsLabel_(tr("Firmware variant"), parts.variants.parentWidget()),
      variantsRing_(parts.variants.parentWidget()) {
  static const bool installed = (QAccessible::installFactory(windowFactory), true);
  static_cast<void>(installed);
  // An interface made before this factory could make it (a screen reader may ask while the
  // layout is built) is made anew at the next question.
  for (QObject* object : {static_cast<QObject*>(parts_.action.window()),
                          static_cast<QObject*>(&parts_.progressPicture)}) {
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(object))
      QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
  }
  parts_.variants.setAccessibleName(tr("Firmware variant"));
  parts_.variants.setAccessibleDescription(tr("The firmware to put on the board"));
  parts_.progressPicture.setAccessibleName(tr("Board with the button to hold"));
  parts_.progressPicture.setAccessibleDescription(
      tr("Hold the button the arrow points at while you plug in the board's USB cable."));
  parts_.loadingPicture.setAccessibleName(tr("Loading"));
  // The version line and the hint are named by their text, as every label is.
  parts_.version.setAccessibleDescription(tr("The newest firmware on the update server"));
  parts_.hint.setAccessibleDescription(tr("Status"));
  parts_.download.setAccessibleDescription(tr("How much of the firmware has been downloaded"));

  QWidget::setTabOrder(&parts_.variants, &parts_.action);
  parts_.action.setStyleSheet(QString::fromLatin1(kActionFocusRing));
  variantsRing_.setStyleSheet(QString::fromLatin1(kVariantsFocusRing));
  parts_.action.installEventFilter(this);
  parts_.variants.installEventFilter(this);
  // On Linux, Qt names a pop-up by its selection, and its label by a relation to a label whose
  // buddy it is. The window has no room to show one.
  variantsLabel_.setBuddy(&parts_.variants);
  variantsLabel_.hide();
  settleFocusSoon();
}

void WindowAccessibility::hintChanged() {
  parts_.action.setAccessibleDescription(parts_.hint.text());
}

void WindowAccessibility::resultShown(QStringView name) {
  parts_.resultPicture.setAccessibleName(name == u"complete" ? tr("Update complete")
                                                             : tr("Update failed"));
}

bool WindowAccessibility::eventFilter(QObject* watched, QEvent* event) {
  const auto type = event->type();
  if (watched == &parts_.variants && (type == QEvent::FocusIn || type == QEvent::FocusOut))
    variantsRing_.setWidget(type == QEvent::FocusIn ? &parts_.variants : nullptr);
  if (watched == &parts_.action &&
      (type == QEvent::Show || type == QEvent::Hide || type == QEvent::EnabledChange)) {
    settleFocusSoon();
  }
  return QObject::eventFilter(watched, event);
}

void WindowAccessibility::settleFocusSoon() {
  // Settled once the window has applied its whole view: the hint, which the focus brings to the
  // screen reader, is then the view's own.
  if (focusSettling_) return;
  focusSettling_ = true;
  QMetaObject::invokeMethod(this, &WindowAccessibility::settleFocus, Qt::QueuedConnection);
}

void WindowAccessibility::settleFocus() {
  focusSettling_ = false;
  QPushButton& action = parts_.action;
  const QWidget* focus = action.window()->focusWidget();
  if (!action.isHidden() && action.isEnabled()) {
    // Keyboard users choosing a variant in the pop-up keep their place there while its release is
    // fetched again; everyone else finds Enter and Space on the button.
    if (focus != &parts_.variants) action.setFocus(Qt::OtherFocusReason);
  } else if (!focus || focus->isHidden() || !focus->isEnabled()) {
    // Nothing to press: the focus goes to the hint (outside the Tab order), so that a screen
    // reader reads what the window is doing instead of a part that went away.
    parts_.hint.setFocus(Qt::OtherFocusReason);
  }
}

}  // namespace trident
