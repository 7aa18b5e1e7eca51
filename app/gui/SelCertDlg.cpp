#include "app/gui/SelCertDlg.h"

#include <QAction>
#include <QDate>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "app/core/LowStuff.h"
#include "app/gui/ShowCertDlg.h"
#include "platform/PlatformFiles.h"

namespace tavra {

namespace {

constexpr int kCertificateRole = Qt::UserRole + 1;

// A 16 x 16 key: a ring and a bit.
QIcon KeyIcon() {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(0x8a, 0x6d, 0x00), 2));
  painter.drawEllipse(QRectF(1.5, 4.5, 6, 6));
  painter.drawLine(QPointF(7.5, 7.5), QPointF(14.5, 7.5));
  painter.drawLine(QPointF(12.5, 7.5), QPointF(12.5, 11));
  painter.drawLine(QPointF(14.5, 7.5), QPointF(14.5, 10));
  return QIcon(pixmap);
}

QString ShortDate(double validTo) {
  const QDate date = QDate(1899, 12, 30).addDays(static_cast<qint64>(std::floor(validTo)));
  return QLocale().toString(date, QLocale::ShortFormat);
}

}  // namespace

TSelectCertDialog::TSelectCertDialog(std::unique_ptr<ICertificateStore> store,
                                     ICertificateViewer& viewer, ISignerReporter& reporter,
                                     QWidget* parent)
    : QDialog(parent), store_(std::move(store)), viewer_(viewer), reporter_(reporter) {
  setObjectName(QStringLiteral("SelectCertDialog"));
  setWindowTitle(QStringLiteral("Vyberte certifikát"));

  ListView1 = new QTreeWidget(this);
  ListView1->setObjectName(QStringLiteral("ListView1"));
  ListView1->setColumnCount(3);
  ListView1->setHeaderLabels(
      {QStringLiteral("Vydáno pro"), QStringLiteral("Vydavatel"), QStringLiteral("Platnost do")});
  ListView1->headerItem()->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
  ListView1->setColumnWidth(0, 150);
  ListView1->setColumnWidth(1, 200);
  ListView1->setColumnWidth(2, 80);
  ListView1->setRootIsDecorated(false);
  ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
  ListView1->setIconSize(QSize(16, 16));
  ListView1->setSortingEnabled(false);  // the header clicks sort, by our comparison
  ListView1->header()->setSectionsClickable(true);
  ListView1->header()->setSortIndicatorShown(false);
  connect(ListView1->header(), &QHeaderView::sectionClicked, this,
          [this](int column) { RunGuarded(reporter_, [&] { ColumnClick(column); }); });
  connect(ListView1, &QTreeWidget::itemDoubleClicked, this, [this] { accept(); });
  connect(ListView1, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateActions(); });

  StatusLine = new QLabel(this);
  StatusLine->setObjectName(QStringLiteral("StatusLine"));
  StatusLine->setTextFormat(Qt::PlainText);
  StatusLine->setText(QStringLiteral("Databáze certifikátů: ") + FromStd(store_->DatabaseText()));

  Panel1 = new QWidget(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFixedHeight(38);
  Button1 = new QPushButton(QStringLiteral("OK"), Panel1);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setDefault(true);
  Button1->setAutoDefault(true);
  Button2 = new QPushButton(QStringLiteral("Storno"), Panel1);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setAutoDefault(false);
  Button3 = new QPushButton(QStringLiteral("Zobrazit vybraný"), Panel1);
  Button3->setObjectName(QStringLiteral("Button3"));
  Button3->setAutoDefault(false);
  act_ShowSelected = new QAction(QStringLiteral("Zobrazit"), this);
  act_ShowSelected->setObjectName(QStringLiteral("act_ShowSelected"));
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
  connect(Button3, &QPushButton::clicked, act_ShowSelected, &QAction::trigger);
  connect(act_ShowSelected, &QAction::triggered, this, [this] { ShowSelected(); });
  connect(act_ShowSelected, &QAction::changed, this,
          [this] { Button3->setEnabled(act_ShowSelected->isEnabled()); });

  auto* buttons = new QHBoxLayout(Panel1);
  buttons->setContentsMargins(6, 4, 6, 4);
  buttons->addWidget(Button3);
  buttons->addStretch(1);
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(ListView1, 1);
  layout->addWidget(StatusLine);
  layout->addWidget(Panel1);
  resize(460, 300);

  FillList();
  ColumnClick(0);
  if (ListView1->topLevelItemCount() > 0) ListView1->setCurrentItem(ListView1->topLevelItem(0));
  UpdateActions();
  ListView1->setFocus();
}

TSelectCertDialog::~TSelectCertDialog() {
  // The items refer to the store's certificates.
  ListView1->clear();
}

void TSelectCertDialog::FillList() {
  ListView1->setUpdatesEnabled(false);
  ListView1->clear();
  const QIcon key = KeyIcon();
  for (size_t i = 0; i < store_->Count(); ++i) {
    const IChoosableCertificate& certificate = store_->Certificate(i);
    if (!CertificateListed(certificate)) continue;
    auto* item = new QTreeWidgetItem(ListView1);
    item->setText(0, FromStd(FromUtf8Text(certificate.SubjectCommonName())));
    item->setText(1, FromStd(FromUtf8Text(certificate.IssuerCommonName())));
    item->setText(2, ShortDate(certificate.ValidTo()));
    item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    item->setIcon(0, key);
    item->setData(0, kCertificateRole, QVariant::fromValue<qulonglong>(i));
  }
  ListView1->setUpdatesEnabled(true);
}

void TSelectCertDialog::ColumnClick(int column) {
  sort_state_ = NextSortState(sort_state_, column);
  SortList();
  ListView1->header()->setSortIndicatorShown(true);
  ListView1->header()->setSortIndicator(column,
                                        sort_state_ > 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void TSelectCertDialog::SortList() {
  QTreeWidgetItem* current = ListView1->currentItem();
  std::vector<QTreeWidgetItem*> items;
  while (ListView1->topLevelItemCount() > 0) items.push_back(ListView1->takeTopLevelItem(0));
  auto certificateOf = [this](const QTreeWidgetItem* item) -> const IChoosableCertificate& {
    return store_->Certificate(item->data(0, kCertificateRole).toULongLong());
  };
  std::stable_sort(items.begin(), items.end(), [&](const auto* a, const auto* b) {
    return CompareCertificates(certificateOf(a), certificateOf(b), sort_state_) < 0;
  });
  for (QTreeWidgetItem* item : items) ListView1->addTopLevelItem(item);
  if (current != nullptr) ListView1->setCurrentItem(current);
}

const IChoosableCertificate* TSelectCertDialog::SelectedCertificate() const {
  const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
  if (selected.isEmpty()) return nullptr;
  return &store_->Certificate(selected.front()->data(0, kCertificateRole).toULongLong());
}

void TSelectCertDialog::Preselect(const std::string& issuerText, const std::string& serialText) {
  for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = ListView1->topLevelItem(i);
    if (MatchesIdentity(store_->Certificate(item->data(0, kCertificateRole).toULongLong()),
                        issuerText, serialText)) {
      ListView1->setCurrentItem(item);
      ListView1->scrollToItem(item);
      return;
    }
  }
}

std::unique_ptr<ISignerCertificate> TSelectCertDialog::Result(int dialogResult) const {
  const IChoosableCertificate* selected = SelectedCertificate();
  if (dialogResult != QDialog::Accepted || selected == nullptr) return nullptr;
  return selected->Copy();
}

std::unique_ptr<ISignerCertificate> TSelectCertDialog::Execute() { return Result(exec()); }

void TSelectCertDialog::UpdateActions() {
  act_ShowSelected->setEnabled(SelectedCertificate() != nullptr);
}

void TSelectCertDialog::ShowSelected() {
  RunGuarded(reporter_, [this] {
    const IChoosableCertificate* selected = SelectedCertificate();
    if (selected == nullptr) return;
    viewer_.ViewCertificate(this, FromStd(FromUtf8Text(selected->SubjectCommonName())),
                            selected->CertContextHandle());
  });
}

std::unique_ptr<ISignerCertificate> TDialogCertificateSelector::SelectCertificate(
    QWidget* parent, const std::string& issuerText, const std::string& serialText) {
  TGuiReporter reporter(boxes_, ApplicationTitle(platform::ExecutablePath()));
  TSelectCertDialog dialog(OpenPersonalStore(), viewer_, reporter, parent);
  dialog.Preselect(issuerText, serialText);
  return dialog.Execute();
}

}  // namespace tavra
