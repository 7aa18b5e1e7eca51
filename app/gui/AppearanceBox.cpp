#include "app/gui/AppearanceBox.h"

#include <poppler-qt6.h>

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "app/core/SignerForm.h"
#include "app/gui/GuiServices.h"

namespace tavra {

namespace {

// The preview fits this box, in pixels.
constexpr double kPreviewWidth = 220;
constexpr double kPreviewHeight = 300;

QRectF PixelsOf(const TPreviewGeometry& geometry, const TSignatureRect& rect) {
  const TPixelRect pixels = RectToPixels(geometry, rect);
  return {pixels.Left, pixels.Top, pixels.Width, pixels.Height};
}

}  // namespace

TPagePreview::TPagePreview(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Preview"));
  // A damaged page is drawn as far as it goes, without lines on stderr.
  Poppler::setDebugErrorFunction([](const QString&, const QVariant&) {}, QVariant());
  setMinimumSize(static_cast<int>(kPreviewWidth), static_cast<int>(kPreviewHeight));
}

QSize TPagePreview::sizeHint() const {
  return {static_cast<int>(kPreviewWidth), static_cast<int>(kPreviewHeight)};
}

void TPagePreview::ShowPage(const QString& path, int32_t page) {
  image_ = QImage();
  page_ = TPreviewPage{};
  dragFrom_.reset();
  // The box comes from our own reading of the file; poppler only paints.
  TPreviewPage read;
  if (!path.isEmpty() && ReadPreviewPage(ToStd(path), page, read)) {
    const std::unique_ptr<Poppler::Document> document = Poppler::Document::load(path);
    std::unique_ptr<Poppler::Page> shown;
    if (document && !document->isLocked()) shown = document->page(read.PageIndex);
    if (shown) {
      const TPreviewGeometry& g = read.Geometry;
      const double scale = std::min(kPreviewWidth / g.PageWidth, kPreviewHeight / g.PageHeight);
      image_ = shown->renderToImage(72.0 * scale, 72.0 * scale);
      read.Geometry.Scale = scale;
      if (!image_.isNull()) page_ = read;
    }
  }
  update();
}

void TPagePreview::SetRect(const std::optional<TSignatureRect>& rect) {
  rect_ = rect;
  update();
}

TSignatureRect TPagePreview::ShownRect() const {
  return rect_ ? *rect_ : DefaultRect(page_.Geometry);
}

void TPagePreview::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().window());
  if (image_.isNull()) {
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap,
                     QStringLiteral("Náhled stránky není k dispozici"));
    return;
  }
  painter.drawImage(QPointF(0, 0), image_);
  painter.setPen(QPen(QColor(0, 90, 200), 2, rect_ ? Qt::SolidLine : Qt::DashLine));
  painter.setBrush(QColor(0, 90, 200, 50));
  painter.drawRect(PixelsOf(page_.Geometry, ShownRect()));
}

void TPagePreview::mousePressEvent(QMouseEvent* event) {
  if (image_.isNull() || event->button() != Qt::LeftButton) return;
  const TSignatureRect start = ShownRect();
  if (!PixelsOf(page_.Geometry, start).contains(event->position())) return;
  dragFrom_ = event->position();
  dragStart_ = start;
}

void TPagePreview::mouseMoveEvent(QMouseEvent* event) {
  if (!dragFrom_) return;
  const QPointF delta = event->position() - *dragFrom_;
  rect_ = DragRect(page_.Geometry, dragStart_, delta.x(), delta.y());
  update();
  emit rectDragged();
}

void TPagePreview::mouseReleaseEvent(QMouseEvent* event) {
  if (dragFrom_) mouseMoveEvent(event);
  dragFrom_.reset();
}

TAppearanceBox::TAppearanceBox(IFileDialogs* dialogs, QWidget* parent)
    : QGroupBox(QStringLiteral("Vzhled podpisu"), parent), dialogs_(dialogs) {
  setObjectName(QStringLiteral("gbAppearance"));
  auto* pageLabel = new QLabel(QStringLiteral("Stránka"), this);
  pageLabel->setTextFormat(Qt::PlainText);
  sePage = new QSpinBox(this);
  sePage->setObjectName(QStringLiteral("sePage"));
  sePage->setRange(1, kMaxPageNumber);
  pageLabel->setBuddy(sePage);
  cbLastPage = new QCheckBox(QStringLiteral("poslední"), this);
  cbLastPage->setObjectName(QStringLiteral("cbLastPage"));
  btnDefaultPlace = new QPushButton(QStringLiteral("Výchozí umístění"), this);
  btnDefaultPlace->setObjectName(QStringLiteral("btnDefaultPlace"));
  btnDefaultPlace->setAutoDefault(false);
  lblPlace = new QLabel(this);
  lblPlace->setObjectName(QStringLiteral("lblPlace"));
  lblPlace->setTextFormat(Qt::PlainText);
  Preview = new TPagePreview(this);
  auto* imageLabel = new QLabel(QStringLiteral("Obrázek"), this);
  imageLabel->setTextFormat(Qt::PlainText);
  edImage = new QLineEdit(this);
  edImage->setObjectName(QStringLiteral("edImage"));
  edImage->setReadOnly(true);
  edImage->setPlaceholderText(QStringLiteral("bez obrázku"));
  imageLabel->setBuddy(edImage);
  btnImage = new QPushButton(QStringLiteral("Obrázek…"), this);
  btnImage->setObjectName(QStringLiteral("btnImage"));
  btnImage->setAutoDefault(false);
  btnNoImage = new QPushButton(QStringLiteral("Bez obrázku"), this);
  btnNoImage->setObjectName(QStringLiteral("btnNoImage"));
  btnNoImage->setAutoDefault(false);

  auto* row = new QHBoxLayout;
  row->addWidget(pageLabel);
  row->addWidget(sePage);
  row->addWidget(cbLastPage);
  row->addStretch();
  row->addWidget(btnDefaultPlace);
  auto* imageRow = new QHBoxLayout;
  imageRow->addWidget(imageLabel);
  imageRow->addWidget(edImage, 1);
  imageRow->addWidget(btnImage);
  imageRow->addWidget(btnNoImage);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addLayout(imageRow);
  layout->addWidget(Preview, 0, Qt::AlignHCenter);
  layout->addWidget(lblPlace);

  connect(sePage, &QSpinBox::valueChanged, this, &TAppearanceBox::PageChanged);
  connect(cbLastPage, &QCheckBox::toggled, this, &TAppearanceBox::PageChanged);
  connect(btnDefaultPlace, &QPushButton::clicked, this, &TAppearanceBox::DefaultPlaceClick);
  connect(Preview, &TPagePreview::rectDragged, this, &TAppearanceBox::RectDragged);
  connect(btnImage, &QPushButton::clicked, this, &TAppearanceBox::ImageClick);
  connect(btnNoImage, &QPushButton::clicked, this, [this] { SetImageFile({}); });
  SetImageFile({});
  Refresh();
}

int32_t TAppearanceBox::PageValue() const {
  return cbLastPage->isChecked() ? kLastPage : sePage->value();
}

void TAppearanceBox::SetPlacement(const std::string& page, const std::string& rect,
                                  const std::string& field) {
  std::string ignored;
  int32_t pageValue = 0;
  if (!ParsePageText(page, pageValue, ignored)) pageValue = 0;
  TSignatureRect rectValue;
  std::optional<TSignatureRect> asked;
  if (!rect.empty() && ParseRectText(rect, rectValue, ignored)) asked = rectValue;
  {
    updating_ = true;
    cbLastPage->setChecked(pageValue == kLastPage);
    sePage->setValue(pageValue > 0 ? pageValue : 1);
    updating_ = false;
  }
  field_ = field;
  Preview->SetRect(asked);
  Refresh();
}

void TAppearanceBox::GetPlacement(std::string& page, std::string& rect, std::string& field) const {
  const int32_t value = PageValue();
  page = value == 1 ? std::string() : PageText(value);
  rect = Preview->Rect() ? RectText(*Preview->Rect()) : std::string();
  field = field_;
}

void TAppearanceBox::SetDocument(const QString& path) {
  if (path == path_) return;
  path_ = path;
  Refresh();
}

void TAppearanceBox::SetImageFile(const std::string& path) {
  edImage->setText(FromStd(path));
  btnNoImage->setEnabled(!path.empty());
}

std::string TAppearanceBox::ImageFile() const { return ToStd(edImage->text()); }

void TAppearanceBox::ImageClick() {
  if (dialogs_ == nullptr) return;
  const QString start = FromStd(ImageDialogStartFolder(ImageFile(), ToStd(path_)));
  QString name;
  if (dialogs_->OpenImageFileName(this, start, name)) SetImageFile(ToStd(name));
}

void TAppearanceBox::Refresh(bool render) {
  sePage->setEnabled(!cbLastPage->isChecked());
  if (render) Preview->ShowPage(path_, PageValue());
  QString place;
  if (!field_.empty()) {
    place = QStringLiteral("Do pole podpisu: ") + FromStd(field_);
  } else if (Preview->Rect()) {
    place = QStringLiteral("Umístění (body): ") + FromStd(RectText(*Preview->Rect()));
  } else {
    place = QStringLiteral("Umístění: vpravo nahoře");
  }
  lblPlace->setText(place);
}

void TAppearanceBox::PageChanged() {
  if (updating_) return;
  field_.clear();  // a page chosen here replaces a field of the settings
  Refresh();
}

void TAppearanceBox::RectDragged() {
  field_.clear();
  Refresh(false);
}

void TAppearanceBox::DefaultPlaceClick() {
  field_.clear();
  Preview->SetRect(std::nullopt);
  Refresh(false);
}

}  // namespace tavra
