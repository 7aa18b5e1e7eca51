// The TrueType font of an appearance through HarfBuzz: glyphs of characters,
// advance widths, the metrics a font descriptor needs, and subsets that keep
// every glyph under its own id (so the CIDToGIDMap can name original ids).
#include <hb-ot.h>
#include <hb-subset.h>
#include <hb.h>

#include <cmath>

#include "platform/media/MediaFiles.h"
#include "toolkit/pdf/CvPDF.h"

namespace tavra::media {

namespace {

template <typename T, void (*Destroy)(T*)>
struct THbDeleter {
  void operator()(T* p) const { Destroy(p); }
};
using TBlob = std::unique_ptr<hb_blob_t, THbDeleter<hb_blob_t, hb_blob_destroy>>;
using TFace = std::unique_ptr<hb_face_t, THbDeleter<hb_face_t, hb_face_destroy>>;
using TFont = std::unique_ptr<hb_font_t, THbDeleter<hb_font_t, hb_font_destroy>>;
using TInput =
    std::unique_ptr<hb_subset_input_t, THbDeleter<hb_subset_input_t, hb_subset_input_destroy>>;

std::string Table(hb_face_t* face, const char* tag) {
  const TBlob blob(hb_face_reference_table(face, hb_tag_from_string(tag, 4)));
  unsigned int length = 0;
  const char* data = hb_blob_get_data(blob.get(), &length);
  return data ? std::string(data, length) : std::string();
}

int ReadInt16(const std::string& table, size_t at) {
  if (table.size() < at + 2) return 0;
  return static_cast<int16_t>((static_cast<uint8_t>(table[at]) << 8) |
                              static_cast<uint8_t>(table[at + 1]));
}

class THbTrueTypeProgram final : public corvane::TOvTrueTypeProgram {
 public:
  THbTrueTypeProgram(std::string bytes, const std::string& path) : bytes_(std::move(bytes)) {
    blob_.reset(hb_blob_create(bytes_.data(), static_cast<unsigned int>(bytes_.size()),
                               HB_MEMORY_MODE_READONLY, nullptr, nullptr));
    face_.reset(hb_face_create(blob_.get(), 0));
    // FontFile2 holds TrueType outlines: a font of CFF outlines, a
    // collection or anything else is not one.
    for (const char* tag : {"head", "hhea", "hmtx", "cmap", "glyf", "loca"}) {
      if (Table(face_.get(), tag).empty())
        throw EMediaError("Písmo \"" + path + "\" nelze použít: není to písmo TrueType");
    }
    font_.reset(hb_font_create(face_.get()));
    upem_ = hb_face_get_upem(face_.get());
    if (upem_ == 0) upem_ = 1000;
    hb_font_set_scale(font_.get(), static_cast<int>(upem_), static_cast<int>(upem_));
    name_ = ReadPostScriptName();
  }

  std::string PostScriptName() const override { return name_; }

  uint32_t GlyphOf(uint32_t codePoint) const override {
    hb_codepoint_t glyph = 0;
    return hb_font_get_nominal_glyph(font_.get(), codePoint, &glyph) ? glyph : 0;
  }

  int32_t GlyphWidth(uint32_t glyph) const override {
    return Scaled(hb_font_get_glyph_h_advance(font_.get(), glyph));
  }

  TMetrics Metrics() const override {
    TMetrics m;
    hb_position_t value = 0;
    hb_ot_metrics_get_position_with_fallback(font_.get(), HB_OT_METRICS_TAG_HORIZONTAL_ASCENDER,
                                             &value);
    m.Ascent = Scaled(value);
    hb_ot_metrics_get_position_with_fallback(font_.get(), HB_OT_METRICS_TAG_HORIZONTAL_DESCENDER,
                                             &value);
    m.Descent = Scaled(value);
    hb_ot_metrics_get_position_with_fallback(font_.get(), HB_OT_METRICS_TAG_CAP_HEIGHT, &value);
    m.CapHeight = Scaled(value);
    // head: xMin, yMin, xMax, yMax at 36; post: the italic angle (16.16) at 4.
    const std::string head = Table(face_.get(), "head");
    for (int i = 0; i < 4; ++i) m.BBox[i] = Scaled(ReadInt16(head, 36 + 2 * i));
    const std::string post = Table(face_.get(), "post");
    if (post.size() >= 8) {
      const uint32_t fixed = (static_cast<uint32_t>(static_cast<uint8_t>(post[4])) << 24) |
                             (static_cast<uint32_t>(static_cast<uint8_t>(post[5])) << 16) |
                             (static_cast<uint32_t>(static_cast<uint8_t>(post[6])) << 8) |
                             static_cast<uint8_t>(post[7]);
      m.ItalicAngle = static_cast<int32_t>(fixed) / 65536.0;
    }
    return m;
  }

  corvane::ByteString Subset(const std::vector<uint32_t>& glyphs) const override {
    const TInput input(hb_subset_input_create_or_fail());
    if (!input) throw EMediaError("Písmo " + name_ + " nelze zmenšit na použité znaky");
    hb_set_t* set = hb_subset_input_glyph_set(input.get());
    for (const uint32_t glyph : glyphs) hb_set_add(set, glyph);
    hb_subset_input_set_flags(input.get(), HB_SUBSET_FLAGS_RETAIN_GIDS);
    const TFace subset(hb_subset_or_fail(face_.get(), input.get()));
    if (!subset) throw EMediaError("Písmo " + name_ + " nelze zmenšit na použité znaky");
    const TBlob blob(hb_face_reference_blob(subset.get()));
    unsigned int length = 0;
    const char* data = hb_blob_get_data(blob.get(), &length);
    if (!data || length == 0)
      throw EMediaError("Písmo " + name_ + " nelze zmenšit na použité znaky");
    return corvane::ByteString(data, length);
  }

 private:
  int32_t Scaled(hb_position_t units) const {
    return static_cast<int32_t>(std::lround(units * 1000.0 / upem_));
  }

  // Only the characters a PDF name can hold without escapes.
  std::string ReadPostScriptName() const {
    char buffer[128] = {};
    unsigned int size = sizeof buffer;
    hb_ot_name_get_utf8(face_.get(), HB_OT_NAME_ID_POSTSCRIPT_NAME, nullptr, &size, buffer);
    std::string name;
    for (const char* c = buffer; *c; ++c) {
      if ((*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9') ||
          *c == '-' || *c == '_')
        name += *c;
    }
    return name.empty() ? "EmbeddedFont" : name;
  }

  std::string bytes_;  // the blob points into it
  TBlob blob_;
  TFace face_;
  TFont font_;
  unsigned int upem_ = 1000;
  std::string name_;
};

}  // namespace

std::shared_ptr<const corvane::TOvTrueTypeProgram> LoadTrueTypeFont(const std::string& path) {
  return std::make_shared<THbTrueTypeProgram>(ReadMediaFile(path, "Písmo"), path);
}

}  // namespace tavra::media
