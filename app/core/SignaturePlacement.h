// Where a signature goes when the user says so: a page, a rectangle in
// points, or an empty signature field the document already has. The texts
// are those of the command line and of the settings file; the window's
// preview maps the rectangle to and from its picture of the page.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {
class TOvPDFDocument;
class TOvPDFSignature;
}  // namespace corvane

namespace tavra {

// Page value of the last page.
inline constexpr int32_t kLastPage = -1;
// The largest page number and coordinate accepted: far beyond any real
// document, small enough that no sum of them overflows.
inline constexpr int32_t kMaxPageNumber = 1000000;
inline constexpr int32_t kMaxCoordinate = 1000000;

// A rectangle in whole points, default user space: X1 < X2 and Y1 < Y2.
struct TSignatureRect {
  int32_t X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
  int32_t Width() const { return X2 - X1; }
  int32_t Height() const { return Y2 - Y1; }
  bool operator==(const TSignatureRect&) const = default;
};

struct TSignaturePlacement {
  // 1-based; 0 the default (the first page); kLastPage the last one.
  int32_t Page = 0;
  // Unset: the signature's size and place are computed as always.
  std::optional<TSignatureRect> Rect;
  // An existing empty signature field to sign into; empty for a new field.
  std::string Field;
  bool operator==(const TSignaturePlacement&) const = default;
};

// "3" or "last" (an empty text is the default page). False with a message.
bool ParsePageText(std::string_view text, int32_t& page, std::string& error);
// "" for the default page, "last", or the number.
std::string PageText(int32_t page);
// "X1,Y1,X2,Y2" in whole points, blanks allowed around the numbers.
bool ParseRectText(std::string_view text, TSignatureRect& rect, std::string& error);
std::string RectText(const TSignatureRect& rect);

// The placement of the three texts (each may be empty): a field keeps its
// own place, so it goes with neither a page nor a rectangle. The message
// names the option (the settings keys "page", "rect" and "field" mirror them).
bool PlacementOfTexts(const std::string& page, const std::string& rect, const std::string& field,
                      TSignaturePlacement& placement, std::string& error);

// Puts a new entry of an open document where the placement says, checking
// what only the document can tell: that the page exists, that the rectangle
// lies within the page's box, that the field is an empty signature field.
// Raises ESignerError with a Czech text otherwise. Call after the entry's
// visibility is set.
void ApplyPlacement(corvane::TOvPDFDocument& document, corvane::TOvPDFSignature& entry,
                    const TSignaturePlacement& placement);

// The window's preview: a page of PageWidth x PageHeight points (its box
// starting at OriginX, OriginY) drawn into a picture of Scale pixels per
// point, y growing downwards.
struct TPreviewGeometry {
  double OriginX = 0, OriginY = 0;
  double PageWidth = 0, PageHeight = 0;
  double Scale = 1;
};

// The page a placement names in a file, for the preview: the number of
// pages, the page taken (0-based) and its box (Scale left at 1). False when
// the file cannot be read as a PDF with pages.
struct TPreviewPage {
  int32_t PageCount = 0;
  int32_t PageIndex = 0;
  TPreviewGeometry Geometry;
};
bool ReadPreviewPage(const std::string& path, int32_t page, TPreviewPage& preview);

// The rectangle as the picture's pixels: left, top, width, height.
struct TPixelRect {
  double Left = 0, Top = 0, Width = 0, Height = 0;
};

TPixelRect RectToPixels(const TPreviewGeometry& geometry, const TSignatureRect& rect);
// The rectangle moved by a drag of (dx, dy) pixels, kept whole on the page.
TSignatureRect DragRect(const TPreviewGeometry& geometry, const TSignatureRect& rect, double dx,
                        double dy);
// Where the signature lands when no rectangle is asked for: 70 x 70 points
// near the page's top-right corner, as the toolkit places it.
TSignatureRect DefaultRect(const TPreviewGeometry& geometry);

}  // namespace tavra
