// A label that is a web or mail link when the desktop can open such links,
// and plain text otherwise.
#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>

#include "app/core/URLLinks.h"

namespace tavra {

class IHandlerDetector;
class IShellOpener;

class TURLLabel : public QLabel {
  Q_OBJECT

 public:
  // The detector is asked once, now (the label is "loaded"); both pointers may
  // be null: no handler is then known and clicks open nothing.
  TURLLabel(QWidget* parent, IHandlerDetector* detector, IShellOpener* opener);

  const QString& InetAddr() const { return inet_addr_; }
  void SetInetAddr(const QString& address);
  TUrlLabelType labelType() const { return label_type_; }
  void SetLabelType(TUrlLabelType type);
  bool HidePassive() const { return hide_passive_; }
  void SetHidePassive(bool hide);
  // Font and text colour while the label is an active link (blue, underlined).
  const QFont& LinkFont() const { return link_font_; }
  void SetLinkFont(const QFont& font, const QColor& color);
  // Font and colour otherwise; an invalid colour keeps the palette's.
  const QFont& PassiveFont() const { return passive_font_; }
  void SetPassiveFont(const QFont& font, const QColor& color = QColor());

  bool WebLinksOpenable() const { return web_openable_; }
  bool MailLinksOpenable() const { return mail_openable_; }
  TUrlLabelType EffectiveType() const;
  bool IsActiveLink() const;
  // What a click hands to the opener.
  QString Target() const;

 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void ApplyAppearance();

  IShellOpener* opener_;
  QString inet_addr_;
  TUrlLabelType label_type_ = TUrlLabelType::ultHTML;
  bool hide_passive_ = false;
  QFont link_font_, passive_font_;
  QColor link_color_, passive_color_;
  bool web_openable_ = false;
  bool mail_openable_ = false;
};

}  // namespace tavra
