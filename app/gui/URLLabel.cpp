#include "app/gui/URLLabel.h"

#include <QMouseEvent>

#include "app/core/XdgHandlers.h"
#include "app/gui/GuiServices.h"

namespace tavra {

TURLLabel::TURLLabel(QWidget* parent, IHandlerDetector* detector, IShellOpener* opener)
    : QLabel(parent), opener_(opener) {
  // Plain text: no rich text and no accelerator characters.
  setTextFormat(Qt::PlainText);
  passive_font_ = font();
  link_font_ = font();
  link_font_.setUnderline(true);
  link_color_ = QColor(Qt::blue);
  if (detector != nullptr) {
    web_openable_ = detector->WebLinksOpenable();
    mail_openable_ = detector->MailLinksOpenable();
  }
  ApplyAppearance();
}

void TURLLabel::SetInetAddr(const QString& address) {
  inet_addr_ = address;
  ApplyAppearance();
}

void TURLLabel::SetLabelType(TUrlLabelType type) {
  label_type_ = type;
  ApplyAppearance();
}

void TURLLabel::SetHidePassive(bool hide) {
  hide_passive_ = hide;
  ApplyAppearance();
}

void TURLLabel::SetLinkFont(const QFont& font, const QColor& color) {
  link_font_ = font;
  link_color_ = color;
  ApplyAppearance();
}

void TURLLabel::SetPassiveFont(const QFont& font, const QColor& color) {
  passive_font_ = font;
  passive_color_ = color;
  ApplyAppearance();
}

TUrlLabelType TURLLabel::EffectiveType() const {
  return EffectiveUrlLabelType(label_type_, ToStd(inet_addr_));
}

bool TURLLabel::IsActiveLink() const {
  return UrlLabelIsActiveLink(EffectiveType(), ToStd(inet_addr_), web_openable_, mail_openable_);
}

QString TURLLabel::Target() const {
  return FromStd(UrlLabelTarget(EffectiveType(), ToStd(inet_addr_)));
}

void TURLLabel::ApplyAppearance() {
  const bool active = IsActiveLink();
  setFont(active ? link_font_ : passive_font_);
  const QColor color = active ? link_color_ : passive_color_;
  QPalette pal = parentWidget() != nullptr ? parentWidget()->palette() : QPalette();
  if (color.isValid()) pal.setColor(QPalette::WindowText, color);
  setPalette(pal);
  if (active) {
    setCursor(Qt::PointingHandCursor);
  } else {
    unsetCursor();
  }
  // A label without a parent would become a window of its own if shown here.
  if (parentWidget() != nullptr) setVisible(active || !hide_passive_);
}

void TURLLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint())) return;
  emit clicked();
  if (!isHidden() && IsActiveLink() && opener_ != nullptr) opener_->OpenUrl(ToStd(Target()));
}

}  // namespace tavra
