// The "Vzhled podpisu" section of the main window: the page of a visible
// signature, an optional background picture and a preview of that page on which the user drags the
// box to where the signature goes. The texts it keeps are the settings keys'; the geometry is
// app/core's (SignaturePlacement).
#pragma once

#include <QGroupBox>
#include <QImage>
#include <QWidget>
#include <optional>
#include <string>

#include "app/core/SignaturePlacement.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace tavra {

class IFileDialogs;

// A page rendered by poppler (only to look at) with the signature's box on it.
class TPagePreview : public QWidget {
  Q_OBJECT

 public:
  explicit TPagePreview(QWidget* parent);

  // Shows the page of the file; an empty picture when it cannot be read.
  void ShowPage(const QString& path, int32_t page);
  bool HasPage() const { return !image_.isNull(); }
  const TPreviewPage& Page() const { return page_; }

  // The box as asked (none: the default place, drawn dashed).
  void SetRect(const std::optional<TSignatureRect>& rect);
  const std::optional<TSignatureRect>& Rect() const { return rect_; }
  // The box as drawn: the one asked, else the default place.
  TSignatureRect ShownRect() const;

  QSize sizeHint() const override;

 signals:
  // The user moved the box.
  void rectDragged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QImage image_;
  TPreviewPage page_;
  std::optional<TSignatureRect> rect_;
  // Where a drag started and the box it started with.
  std::optional<QPointF> dragFrom_;
  TSignatureRect dragStart_;
};

class TAppearanceBox : public QGroupBox {
  Q_OBJECT

 public:
  // The picture is chosen through the window's dialogs (not owned).
  TAppearanceBox(IFileDialogs* dialogs, QWidget* parent);

  // The settings texts in and out (page, rectangle, field).
  void SetPlacement(const std::string& page, const std::string& rect, const std::string& field);
  void GetPlacement(std::string& page, std::string& rect, std::string& field) const;
  // The file whose page the preview shows.
  void SetDocument(const QString& path);
  // The background picture's path as the settings keep it; empty for none.
  void SetImageFile(const std::string& path);
  std::string ImageFile() const;

  QCheckBox* cbLastPage;
  QSpinBox* sePage;
  QPushButton* btnDefaultPlace;
  QLabel* lblPlace;
  TPagePreview* Preview;
  QLineEdit* edImage;
  QPushButton* btnImage;
  QPushButton* btnNoImage;

 private:
  // The label; with render also the preview of the page.
  void Refresh(bool render = true);
  void PageChanged();
  void RectDragged();
  void DefaultPlaceClick();
  void ImageClick();
  int32_t PageValue() const;

  IFileDialogs* dialogs_;
  QString path_;
  std::string field_;
  bool updating_ = false;
};

}  // namespace tavra
