#include "app/core/SignaturePlacement.h"

#include <algorithm>
#include <cmath>

#include "app/core/SignerErrors.h"
#include "toolkit/common/CvStream.h"
#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDF_SignaturePlacement.h"

namespace tavra {

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// A decimal integer within [low, high], an optional minus sign first.
bool ParseBoundedInt(std::string_view text, int32_t low, int32_t high, int32_t& value) {
  text = Trimmed(text);
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  if (text.empty() || text.size() > 9) return false;
  int64_t magnitude = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    magnitude = magnitude * 10 + (c - '0');
  }
  const int64_t signedValue = negative ? -magnitude : magnitude;
  if (signedValue < low || signedValue > high) return false;
  value = static_cast<int32_t>(signedValue);
  return true;
}

std::string Number(double value) {
  return std::to_string(static_cast<long long>(std::llround(value)));
}

}  // namespace

bool ParsePageText(std::string_view text, int32_t& page, std::string& error) {
  text = Trimmed(text);
  if (text.empty()) {
    page = 0;
    return true;
  }
  if (text == "last") {
    page = kLastPage;
    return true;
  }
  int32_t value = 0;
  if (!ParseBoundedInt(text, 1, kMaxPageNumber, value)) {
    error = "a page is a number from 1, or last";
    return false;
  }
  page = value;
  return true;
}

std::string PageText(int32_t page) {
  if (page == kLastPage) return "last";
  return page > 0 ? std::to_string(page) : std::string();
}

bool ParseRectText(std::string_view text, TSignatureRect& rect, std::string& error) {
  int32_t v[4] = {};
  size_t start = 0;
  bool ok = true;
  for (int i = 0; i < 4 && ok; ++i) {
    const size_t comma = text.find(',', start);
    if ((i < 3) != (comma != std::string_view::npos)) ok = false;
    const std::string_view part = text.substr(
        start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    ok = ok && ParseBoundedInt(part, -kMaxCoordinate, kMaxCoordinate, v[i]);
    start = comma + 1;
  }
  if (!ok) {
    error = "a rectangle is X1,Y1,X2,Y2 in whole points";
    return false;
  }
  if (v[2] <= v[0] || v[3] <= v[1]) {
    error = "a rectangle needs X1 < X2 and Y1 < Y2";
    return false;
  }
  rect = {v[0], v[1], v[2], v[3]};
  return true;
}

std::string RectText(const TSignatureRect& rect) {
  return std::to_string(rect.X1) + "," + std::to_string(rect.Y1) + "," + std::to_string(rect.X2) +
         "," + std::to_string(rect.Y2);
}

bool PlacementOfTexts(const std::string& page, const std::string& rect, const std::string& field,
                      TSignaturePlacement& placement, std::string& error) {
  TSignaturePlacement result;
  std::string why;
  if (!ParsePageText(page, result.Page, why)) {
    error = "--page '" + page + "': " + why;
    return false;
  }
  if (!Trimmed(rect).empty()) {
    TSignatureRect value;
    if (!ParseRectText(rect, value, why)) {
      error = "--rect '" + rect + "': " + why;
      return false;
    }
    result.Rect = value;
  }
  result.Field = field;
  if (!result.Field.empty() && (result.Page != 0 || result.Rect)) {
    error = "--field goes with neither --page nor --rect: the field keeps its own place";
    return false;
  }
  placement = result;
  return true;
}

void ApplyPlacement(corvane::TOvPDFDocument& document, corvane::TOvPDFSignature& entry,
                    const TSignaturePlacement& placement) {
  // Nothing asked: not even the page tree is read.
  if (placement == TSignaturePlacement{}) return;
  if (!placement.Field.empty()) {
    for (const corvane::TOvPDFSignatureInfo& info : document.EmptySignatureFields()) {
      if (info.FieldName == placement.Field) {
        corvane::UseEmptySignatureField(document, entry, info);
        return;
      }
    }
    const std::string quoted = "\"" + placement.Field + "\"";
    for (size_t i = 0; i < document.SignatureCount(); ++i) {
      const corvane::TOvPDFSignature* other = document.Signatures(i);
      if (other->Written() && other->SignatureName() == placement.Field)
        throw ESignerError("Pole podpisu " + quoted + " je již podepsáno");
    }
    const std::vector<std::string>& names = document.UsedFieldNames();
    if (std::find(names.begin(), names.end(), placement.Field) != names.end())
      throw ESignerError("Pole " + quoted + " není pole pro podpis");
    throw ESignerError("Pole podpisu " + quoted + " v dokumentu není");
  }

  const size_t count = document.PageCount();
  if (count == 0) return;  // the toolkit names a document without pages itself
  size_t index = 0;
  if (placement.Page == kLastPage) {
    index = count - 1;
  } else if (placement.Page > 0) {
    if (static_cast<size_t>(placement.Page) > count) {
      throw ESignerError("Dokument nemá stránku " + std::to_string(placement.Page) +
                         " (počet stránek: " + std::to_string(count) + ")");
    }
    index = static_cast<size_t>(placement.Page) - 1;
  }
  entry.SetPage(static_cast<int32_t>(index));
  if (!placement.Rect || entry.Invisible()) return;

  const TSignatureRect& rect = *placement.Rect;
  const std::string pageName = "stránku " + std::to_string(index + 1);
  corvane::TCvPageBox box;
  if (!corvane::PageBoxOf(document.PageInfo(index).Dictionary(), box))
    throw ESignerError("Rozměr stránky " + std::to_string(index + 1) + " nelze zjistit");
  if (rect.X1 < box.X1 || rect.Y1 < box.Y1 || rect.X2 > box.X2 || rect.Y2 > box.Y2) {
    throw ESignerError("Obdélník podpisu " + RectText(rect) + " přesahuje " + pageName + " (" +
                       Number(box.X1) + "," + Number(box.Y1) + "," + Number(box.X2) + "," +
                       Number(box.Y2) + ")");
  }
  corvane::TOvPDFSignatureWidgetProps& props = entry.WidgetProps();
  props.AutoSize = false;
  props.AutoPos = false;
  props.OffsetX = rect.X1;
  props.OffsetY = rect.Y1;
  props.Width = rect.Width();
  props.Height = rect.Height();
}

bool ReadPreviewPage(const std::string& path, int32_t page, TPreviewPage& preview) {
  try {
    corvane::TOvFileStream stream(path, corvane::TFileMode::fmOpenRead);
    corvane::TOvPDFDocument document;
    document.Open(stream);
    const size_t count = std::min<size_t>(document.PageCount(), kMaxPageNumber);
    if (count == 0) return false;
    size_t index = 0;
    if (page == kLastPage) index = count - 1;
    if (page > 0) index = std::min<size_t>(static_cast<size_t>(page), count) - 1;
    corvane::TCvPageBox box;
    if (!corvane::PageBoxOf(document.PageInfo(index).Dictionary(), box)) return false;
    preview.PageCount = static_cast<int32_t>(count);
    preview.PageIndex = static_cast<int32_t>(index);
    preview.Geometry = {box.X1, box.Y1, box.X2 - box.X1, box.Y2 - box.Y1, 1};
    document.Close(false);
    return preview.Geometry.PageWidth > 0 && preview.Geometry.PageHeight > 0;
  } catch (const std::exception&) {
    return false;
  }
}

TPixelRect RectToPixels(const TPreviewGeometry& g, const TSignatureRect& rect) {
  TPixelRect pixels;
  pixels.Left = (rect.X1 - g.OriginX) * g.Scale;
  pixels.Top = (g.OriginY + g.PageHeight - rect.Y2) * g.Scale;
  pixels.Width = rect.Width() * g.Scale;
  pixels.Height = rect.Height() * g.Scale;
  return pixels;
}

TSignatureRect DragRect(const TPreviewGeometry& g, const TSignatureRect& rect, double dx,
                        double dy) {
  if (g.Scale <= 0) return rect;
  // Whole points, and the box never leaves the page (a box larger than the
  // page keeps its lower-left corner on the page's).
  const double minX = std::ceil(g.OriginX), minY = std::ceil(g.OriginY);
  const double maxX = std::floor(g.OriginX + g.PageWidth) - rect.Width();
  const double maxY = std::floor(g.OriginY + g.PageHeight) - rect.Height();
  const double x = std::clamp(std::round(rect.X1 + dx / g.Scale), minX, std::max(minX, maxX));
  const double y = std::clamp(std::round(rect.Y1 - dy / g.Scale), minY, std::max(minY, maxY));
  TSignatureRect moved;
  moved.X1 = static_cast<int32_t>(x);
  moved.Y1 = static_cast<int32_t>(y);
  moved.X2 = moved.X1 + rect.Width();
  moved.Y2 = moved.Y1 + rect.Height();
  return moved;
}

TSignatureRect DefaultRect(const TPreviewGeometry& g) {
  constexpr double kSide = 70;
  const double llx = std::floor(g.OriginX), lly = std::floor(g.OriginY);
  TSignatureRect rect;
  rect.X1 = static_cast<int32_t>(llx + std::max(0.0, std::floor(g.PageWidth) - kSide - 55));
  rect.Y1 = static_cast<int32_t>(lly + std::max(0.0, std::floor(g.PageHeight) - kSide - 45));
  rect.X2 = rect.X1 + static_cast<int32_t>(kSide);
  rect.Y2 = rect.Y1 + static_cast<int32_t>(kSide);
  return rect;
}

}  // namespace tavra
