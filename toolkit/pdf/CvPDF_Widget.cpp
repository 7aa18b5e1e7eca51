// The visible signature widget: its rectangle, the appearance form XObjects,
// and the fonts and encodings they use.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <unordered_map>
#include <unordered_set>

#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDF_SignatureImpl.h"
#include "toolkit/pdf/CvZlib.h"

namespace corvane {

namespace {

// Glyph names of U+00A0..U+00FF and U+0100..U+017F as the Adobe Glyph List
// has them; empty where readers know the character only as "uniXXXX".
constexpr const char* kLatin1[96] = {"",
                                     "exclamdown",
                                     "cent",
                                     "sterling",
                                     "currency",
                                     "yen",
                                     "brokenbar",
                                     "section",
                                     "dieresis",
                                     "copyright",
                                     "ordfeminine",
                                     "guillemotleft",
                                     "logicalnot",
                                     "",
                                     "registered",
                                     "macron",
                                     "degree",
                                     "plusminus",
                                     "twosuperior",
                                     "threesuperior",
                                     "acute",
                                     "mu",
                                     "paragraph",
                                     "periodcentered",
                                     "cedilla",
                                     "onesuperior",
                                     "ordmasculine",
                                     "guillemotright",
                                     "onequarter",
                                     "onehalf",
                                     "threequarters",
                                     "questiondown",
                                     "Agrave",
                                     "Aacute",
                                     "Acircumflex",
                                     "Atilde",
                                     "Adieresis",
                                     "Aring",
                                     "AE",
                                     "Ccedilla",
                                     "Egrave",
                                     "Eacute",
                                     "Ecircumflex",
                                     "Edieresis",
                                     "Igrave",
                                     "Iacute",
                                     "Icircumflex",
                                     "Idieresis",
                                     "Eth",
                                     "Ntilde",
                                     "Ograve",
                                     "Oacute",
                                     "Ocircumflex",
                                     "Otilde",
                                     "Odieresis",
                                     "multiply",
                                     "Oslash",
                                     "Ugrave",
                                     "Uacute",
                                     "Ucircumflex",
                                     "Udieresis",
                                     "Yacute",
                                     "Thorn",
                                     "germandbls",
                                     "agrave",
                                     "aacute",
                                     "acircumflex",
                                     "atilde",
                                     "adieresis",
                                     "aring",
                                     "ae",
                                     "ccedilla",
                                     "egrave",
                                     "eacute",
                                     "ecircumflex",
                                     "edieresis",
                                     "igrave",
                                     "iacute",
                                     "icircumflex",
                                     "idieresis",
                                     "eth",
                                     "ntilde",
                                     "ograve",
                                     "oacute",
                                     "ocircumflex",
                                     "otilde",
                                     "odieresis",
                                     "divide",
                                     "oslash",
                                     "ugrave",
                                     "uacute",
                                     "ucircumflex",
                                     "udieresis",
                                     "yacute",
                                     "thorn",
                                     "ydieresis"};

constexpr const char* kLatinExtendedA[128] = {
    "Amacron",       "amacron",       "Abreve",       "abreve",
    "Aogonek",       "aogonek",       "Cacute",       "cacute",
    "Ccircumflex",   "ccircumflex",   "Cdotaccent",   "cdotaccent",
    "Ccaron",        "ccaron",        "Dcaron",       "dcaron",
    "Dcroat",        "dcroat",        "Emacron",      "emacron",
    "Ebreve",        "ebreve",        "Edotaccent",   "edotaccent",
    "Eogonek",       "eogonek",       "Ecaron",       "ecaron",
    "Gcircumflex",   "gcircumflex",   "Gbreve",       "gbreve",
    "Gdotaccent",    "gdotaccent",    "Gcommaaccent", "gcommaaccent",
    "Hcircumflex",   "hcircumflex",   "Hbar",         "hbar",
    "Itilde",        "itilde",        "Imacron",      "imacron",
    "Ibreve",        "ibreve",        "Iogonek",      "iogonek",
    "Idotaccent",    "dotlessi",      "IJ",           "ij",
    "Jcircumflex",   "jcircumflex",   "Kcommaaccent", "kcommaaccent",
    "kgreenlandic",  "Lacute",        "lacute",       "Lcommaaccent",
    "lcommaaccent",  "Lcaron",        "lcaron",       "Ldot",
    "ldot",          "Lslash",        "lslash",       "Nacute",
    "nacute",        "Ncommaaccent",  "ncommaaccent", "Ncaron",
    "ncaron",        "napostrophe",   "Eng",          "eng",
    "Omacron",       "omacron",       "Obreve",       "obreve",
    "Ohungarumlaut", "ohungarumlaut", "OE",           "oe",
    "Racute",        "racute",        "Rcommaaccent", "rcommaaccent",
    "Rcaron",        "rcaron",        "Sacute",       "sacute",
    "Scircumflex",   "scircumflex",   "Scedilla",     "scedilla",
    "Scaron",        "scaron",        "Tcommaaccent", "tcommaaccent",
    "Tcaron",        "tcaron",        "Tbar",         "tbar",
    "Utilde",        "utilde",        "Umacron",      "umacron",
    "Ubreve",        "ubreve",        "Uring",        "uring",
    "Uhungarumlaut", "uhungarumlaut", "Uogonek",      "uogonek",
    "Wcircumflex",   "wcircumflex",   "Ycircumflex",  "ycircumflex",
    "Ydieresis",     "Zacute",        "zacute",       "Zdotaccent",
    "zdotaccent",    "Zcaron",        "zcaron",       "longs"};

std::string UniName(uint32_t codePoint) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string name = "uni";
  for (int shift = 12; shift >= 0; shift -= 4) name += kDigits[(codePoint >> shift) & 15];
  return name;
}

// Fixed notation with two decimals and a period, whatever the locale.
std::string F2(double value) {
  char buffer[64];
  auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
  if (ec != std::errc()) return "0.00";
  std::string text(buffer, end);
  if (text == "-0.00") text = "0.00";
  return text;
}

// UTF-8 to code points: surrogate pairs joined, byte-order marks dropped.
std::vector<uint32_t> CodePoints(const std::string& utf8) {
  const std::u16string wide = UTF8ToWide(utf8);
  std::vector<uint32_t> out;
  for (size_t i = 0; i < wide.size(); ++i) {
    uint32_t unit = wide[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      unit = 0x10000 + ((unit - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    }
    if (unit == 0xFEFF) continue;
    out.push_back(unit);
  }
  return out;
}

// The widget's texts and how each becomes a string operand.
class TCvTextEncoder {
 public:
  TCvTextEncoder(TOvPDFDocument& document, TOvPDFSignatureWidgetProps& props)
      : document_(document),
        props_(props),
        composite_(dynamic_cast<const TOvPDFCompositeFont*>(props.Fonts.front().get())) {}

  void Collect(const std::string& text) {
    for (const uint32_t cp : CodePoints(text)) {
      if (cp < 128 || index_.count(cp) || table_.size() >= 128) continue;
      index_.emplace(cp, static_cast<int>(table_.size()));
      table_.push_back(cp);
    }
  }
  const std::vector<uint32_t>& Table() const { return table_; }

  // The width of the text as its operand shows it, in 1/1000 em: the
  // embedded font's own widths, else the standard Helvetica's.
  double Width(const std::string& text) const {
    if (composite_) return composite_->TextWidth(text);
    if (props_.AutoFontEncoding && table_.size() >= 128) return 0;
    double width = 0;
    for (const uint32_t cp : CodePoints(text)) {
      if (props_.AutoFontEncoding && cp >= 128 && !index_.count(cp)) continue;
      width += sigimpl::HelveticaWidth(cp);
    }
    return width;
  }

  // Every literal operand escapes backslash and both parentheses, so no
  // text can end the string early and corrupt the content stream.
  std::string Operand(const std::string& text) const {
    if (props_.AutoFontEncoding) {
      if (table_.size() >= 128) return "()";
      std::string bytes;
      for (const uint32_t cp : CodePoints(text)) {
        if (cp < 128) {
          bytes += static_cast<char>(cp);
        } else if (auto it = index_.find(cp); it != index_.end()) {
          bytes += static_cast<char>(128 + it->second);
        }
      }
      return Literal(bytes);
    }
    if (props_.UnicodeText) {
      std::string out = "<";
      for (const char16_t unit : UTF8ToWide(text)) {
        const char u[2] = {static_cast<char>(unit >> 8), static_cast<char>(unit & 0xFF)};
        out += sigimpl::Hex(std::string_view(u, 2));
      }
      return out + ">";
    }
    ByteString bytes = text;
    if (props_.OnConvertText) props_.OnConvertText(&document_, text, bytes);
    return Literal(bytes);
  }

 private:
  static std::string Literal(const std::string& bytes) {
    std::string out = "(";
    for (const char c : bytes) {
      if (c == '\\' || c == '(' || c == ')') out += '\\';
      out += c;
    }
    return out + ")";
  }

  TOvPDFDocument& document_;
  TOvPDFSignatureWidgetProps& props_;
  const TOvPDFCompositeFont* composite_;
  std::vector<uint32_t> table_;
  std::unordered_map<uint32_t, int> index_;
};

std::string Matrix(double a, double x, double y) {
  return F2(a) + " 0 0 " + F2(a) + " " + F2(x) + " " + F2(y);
}

TOvPDFStream* FormXObject(TOvPDFFile& file, const std::vector<double>& matrix,
                          const std::vector<double>& bbox, TOvPDFDictionary* resources,
                          const std::string& content) {
  TOvPDFStream* stream = TOvPDFStream::NewStream(&file);
  TOvPDFDictionary* dict = stream->Dictionary;
  AddNameEntry(dict, "Subtype", "Form");
  dict->AddEntry("Matrix", sigimpl::NewNumberArray(file, matrix));
  AddNameEntry(dict, "Type", "XObject");
  dict->AddEntry("BBox", sigimpl::NewNumberArray(file, bbox));
  AddIntEntry(dict, "FormType", 1);
  dict->AddEntry("Resources", resources);
  stream->SetContent(content);
  return stream;
}

TOvPDFArray* NameArray(TOvPDFFile& file, std::initializer_list<const char*> names) {
  TOvPDFArray* array = sigimpl::NewFlatArray(file);
  for (const char* name : names) sigimpl::AppendToArray(array, file.NewName(name));
  return array;
}

constexpr char kLogo[] =
    "q\r\n1.5 1 66.001 66.001 re\r\nW* n\r\nq\r\n0.6666718 0 0 0.6666718 1.4997559 0.3330841 "
    "cm\r\n0.83 0.9 0.9 rg\r\n0 i\r\n48.0 1.0 m\r\n96.0 48.0 l\r\n48.0 96.0 l\r\n1.0 48.0 "
    "l\r\n48.0 1.0 l\r\n55.0 16.0 m\r\n87.0 48.0 l\r\n55.0 80.0 l\r\n24.0 48.0 l\r\n55.0 16.0 "
    "l\r\nh\r\nf*\r\n55.0 26.0 m\r\n77.0 48.0 l\r\n55.0 70.0 l\r\n47.0 62.0 l\r\n61.5 48.0 "
    "l\r\n47.0 34.0 l\r\n55.0 26.0 l\r\nh\r\nf\r\nQ\r\nQ\r\n\r\n";

std::string TextBlock(const std::string& matrix, const std::string& body, bool block) {
  std::string out = "q\r\nBT\r\n/T1_0 1 Tf\r\n0 Tc 0 Tw 0 Ts 100 Tz 0 Tr " + matrix + " Tm\r\n";
  out += block ? "0 -1.2 TD\r\n" + body : body + "Tj\r\n";
  return out + "ET\r\nQ\r\n";
}

}  // namespace

std::string DefaultGlyphName(uint32_t codePoint) {
  const char* name = "";
  if (codePoint >= 0xA0 && codePoint <= 0xFF) {
    name = kLatin1[codePoint - 0xA0];
  } else if (codePoint >= 0x100 && codePoint <= 0x17F) {
    name = kLatinExtendedA[codePoint - 0x100];
  }
  return *name ? std::string(name) : UniName(codePoint);
}

// --- fonts, encodings, images -----------------------------------------------------------

TOvPDFDictionary* TOvPDFCustomFont::BuildDictionary(TOvPDFDocument& document) {
  TOvPDFFile& file = document.File();
  TOvPDFDictionary* dict = file.NewDictionary();
  AddNameEntry(dict, "Type", "Font");
  AddNameEntry(dict, "Subtype", Subtype);
  AddNameEntry(dict, "BaseFont", BaseFont);
  if (!ToUnicode.empty()) {
    TOvPDFStream* cmap = TOvPDFStream::NewStream(&file);
    cmap->SetContent(ToUnicode);
    CompressStream(cmap, false);
    dict->AddEntry("ToUnicode", sigimpl::NewIndirectRef(document, cmap));
  }
  return dict;
}

void TOvPDFCustomFont::Write(TOvPDFDocument& document) {
  if (IsWritten()) return;
  TOvPDFRef* ref = sigimpl::NewIndirectRef(document, BuildDictionary(document));
  ObjectNumber = ref->Number;
  ObjectGeneration = ref->Generation;
}

void TOvPDFSimpleFont::Write(TOvPDFDocument& document) {
  if (IsWritten()) return;
  TOvPDFFile& file = document.File();
  TOvPDFDictionary* dict = BuildDictionary(document);
  if (!Name.empty()) AddNameEntry(dict, "Name", Name);
  if (Encoding) {
    Encoding->Write(document);
    dict->AddEntry("Encoding",
                   document.MakeRef(Encoding->ObjectNumber, Encoding->ObjectGeneration));
  } else if (!EncodingName.empty()) {
    AddNameEntry(dict, "Encoding", EncodingName);
  }
  if (FontDescriptor) {
    FontDescriptor->Write(document);
    dict->AddEntry("FontDescriptor", document.MakeRef(FontDescriptor->ObjectNumber,
                                                      FontDescriptor->ObjectGeneration));
  }
  if (FirstChar > 0 || LastChar > 0) {
    AddIntEntry(dict, "FirstChar", FirstChar);
    AddIntEntry(dict, "LastChar", LastChar);
  }
  if (!Widths.empty()) {
    std::vector<double> widths(Widths.begin(), Widths.end());
    dict->AddEntry("Widths", sigimpl::NewNumberArray(file, widths));
  }
  TOvPDFRef* ref = sigimpl::NewIndirectRef(document, dict);
  ObjectNumber = ref->Number;
  ObjectGeneration = ref->Generation;
}

const std::string& TOvPDFEncoding::GlyphName(int32_t code) const {
  if (code < 0 || code > 255) {
    throw EOvPDFError("Index out of bounds (" + std::to_string(code) + ")");
  }
  return names_[code];
}

void TOvPDFEncoding::SetGlyphName(int32_t code, std::string name) {
  if (code < 0 || code > 255) {
    throw EOvPDFError("Index out of bounds (" + std::to_string(code) + ")");
  }
  names_[code] = std::move(name);
}

void TOvPDFEncoding::Write(TOvPDFDocument& document) {
  if (IsWritten()) return;
  TOvPDFFile& file = document.File();
  TOvPDFDictionary* dict = file.NewDictionary();
  AddNameEntry(dict, "Type", "Encoding");
  if (!BaseEncoding.empty()) AddNameEntry(dict, "BaseEncoding", BaseEncoding);
  TOvPDFArray* differences = sigimpl::NewFlatArray(file);
  for (int code = 0; code < 256; ++code) {
    if (names_[code].empty()) continue;
    if (code == 0 || names_[code - 1].empty()) {
      sigimpl::AppendToArray(differences, file.NewInt(code));
    }
    sigimpl::AppendToArray(differences, file.NewName(names_[code]));
  }
  if (differences->ItemCount() > 0) dict->AddEntry("Differences", differences);
  TOvPDFRef* ref = sigimpl::NewIndirectRef(document, dict);
  ObjectNumber = ref->Number;
  ObjectGeneration = ref->Generation;
}

namespace {

TOvPDFStream* NewImageStream(TOvPDFFile& file, int32_t width, int32_t height) {
  TOvPDFStream* stream = TOvPDFStream::NewStream(&file);
  AddNameEntry(stream->Dictionary, "Type", "XObject");
  AddNameEntry(stream->Dictionary, "Subtype", "Image");
  AddIntEntry(stream->Dictionary, "Width", width);
  AddIntEntry(stream->Dictionary, "Height", height);
  return stream;
}

void AddSampleFormat(TOvPDFStream* stream, int32_t components) {
  AddNameEntry(stream->Dictionary, "ColorSpace",
               components == 1 ? "DeviceGray" : (components == 4 ? "DeviceCMYK" : "DeviceRGB"));
  AddIntEntry(stream->Dictionary, "BitsPerComponent", 8);
}

bool SamplesFit(const TOvPDFImage& image) {
  if (image.Width <= 0 || image.Height <= 0) return false;
  const uint64_t pixels = static_cast<uint64_t>(image.Width) * static_cast<uint64_t>(image.Height);
  if (image.ImageType == 1)
    return image.Components == 1 || image.Components == 3 || image.Components == 4;
  return (image.Components == 1 || image.Components == 3) &&
         image.Data.size() == pixels * static_cast<uint64_t>(image.Components) &&
         (image.Alpha.empty() || image.Alpha.size() == pixels);
}

}  // namespace

void TOvPDFImage::Write(TOvPDFDocument& document) {
  if (ImageType < 0 || ImageType > 2 || (ImageType != 0 && !SamplesFit(*this)))
    throw EOvPDFError("Unsupported image type");
  if (!document.Opened()) throw EOvPDFError("Document is not opened");
  if (ObjectNumber > 0) return;
  TOvPDFFile& file = document.File();
  TOvPDFStream* stream = NewImageStream(file, Width, Height);
  if (ImageType == 0) {
    AddNameEntry(stream->Dictionary, "Filter", "JPXDecode");
    stream->SetContent(Data);
  } else if (ImageType == 1) {
    AddSampleFormat(stream, Components);
    if (Components == 4 && InvertedCMYK) {
      stream->Dictionary->AddEntry("Decode",
                                   sigimpl::NewNumberArray(file, {1, 0, 1, 0, 1, 0, 1, 0}));
    }
    AddNameEntry(stream->Dictionary, "Filter", "DCTDecode");
    stream->SetContent(Data);
  } else {
    AddSampleFormat(stream, Components);
    if (!Alpha.empty()) {
      TOvPDFStream* mask = NewImageStream(file, Width, Height);
      AddSampleFormat(mask, 1);
      mask->SetContent(Alpha);
      CompressStream(mask, false);
      stream->Dictionary->AddEntry("SMask", sigimpl::NewIndirectRef(document, mask));
    }
    stream->SetContent(Data);
    CompressStream(stream, false);
  }
  TOvPDFRef* ref = sigimpl::NewIndirectRef(document, stream);
  ObjectNumber = ref->Number;
  ObjectGeneration = ref->Generation;
}

// --- the widget -----------------------------------------------------------------------------

TOvPDFSignatureWidgetProps::TOvPDFSignatureWidgetProps()
    : OnGlyphName([](TOvPDFDocument*, uint32_t codePoint, std::string& name) {
        name = DefaultGlyphName(codePoint);
      }) {}

TOvPDFSignatureWidgetProps::~TOvPDFSignatureWidgetProps() = default;

int32_t TOvPDFSignatureWidgetProps::Flags() const {
  return (Print ? 4 : 0) + (NoZoom ? 8 : 0) + (NoRotate ? 16 : 0) + (NoView ? 32 : 0) +
         (ReadOnly ? 64 : 0) + (Locked ? 128 : 0) + (ToggleNoView ? 256 : 0);
}

namespace sigimpl {

TCvWidgetRect ComputeWidgetRect(const TOvPDFSignatureWidgetProps& props,
                                TOvPDFDictionary* pageDictionary) {
  TCvWidgetRect rect;
  if (props.AutoSize) {
    if (props.StandardLayout) {
      rect.W = rect.H = 70;
    } else {
      rect.W = rect.H = 2 * static_cast<int64_t>(std::ceil(props.TitleFontSize)) +
                        2 * static_cast<int64_t>(std::ceil(props.CaptionFontSize)) +
                        6 * static_cast<int64_t>(std::ceil(props.TextFontSize)) + 8;
    }
  } else {
    rect.W = props.Width;
    rect.H = props.Height;
  }
  if (((props.Rotate % 180) + 180) % 180 == 90) std::swap(rect.W, rect.H);
  if (props.AutoPos) {
    // The MediaBox as the page shows it: corners in either order, and an
    // origin that need not be 0 0.
    double box[4] = {0, 0, 0, 0};
    std::unordered_set<TOvPDFDictionary*> seen;
    TOvPDFDictionary* node = pageDictionary;
    for (int depth = 0; node && depth <= PDF_MAX_TREE_DEPTH && seen.insert(node).second; ++depth) {
      if (TOvPDFArray* media = GetArrayEntry(node, "MediaBox", false)) {
        if (media->ItemCount() == 4) {
          for (size_t i = 0; i < 4; ++i) {
            auto* number = dynamic_cast<TOvPDFReal*>(ResolveValue(media->GetItem(i)));
            box[i] = number ? number->AsInt() : 0;
          }
        }
        break;
      }
      node = GetDictEntry(node, "Parent", false);
    }
    const auto llx = static_cast<int64_t>(std::min(box[0], box[2]));
    const auto lly = static_cast<int64_t>(std::min(box[1], box[3]));
    const auto width = static_cast<int64_t>(std::max(box[0], box[2])) - llx;
    const auto height = static_cast<int64_t>(std::max(box[1], box[3])) - lly;
    rect.X1 = llx + std::max<int64_t>(0, width - rect.W - 55);
    rect.Y1 = lly + std::max<int64_t>(0, height - rect.H - 45);
    rect.X2 = llx + std::max<int64_t>(0, width - 55);
    rect.Y2 = lly + std::max<int64_t>(0, height - 45);
  } else {
    rect.X1 = props.OffsetX;
    rect.Y1 = props.OffsetY;
    rect.X2 = rect.X1 + rect.W;
    rect.Y2 = rect.Y1 + rect.H;
  }
  return rect;
}

namespace {

// The three texts of the appearance: the signer's, from the handler or the
// properties.
struct TCvSignerTexts {
  std::string Name, Details, Key;
};

TCvSignerTexts SignerTexts(TOvPDFSignature& entry, const TOvPDFSignatureWidgetProps& props) {
  TCvSignerTexts texts;
  if (!props.AutoText) return {props.SignerName, props.SignerDetails, props.KeyDescription};
  TOvPDFSecurityHandler* handler = entry.Handler();
  if (!handler || !handler->GetSignerInfo(texts.Name, texts.Details, texts.Key)) {
    texts = {"UNKNOWN SIGNER", "Not available", "Unknown"};
  }
  return texts;
}

// The automatic encoding of the first font, when it applies: every
// character above ASCII in the texts gets a code from 128 on.
void BuildAutoEncoding(TOvPDFDocument& document, TOvPDFSignatureWidgetProps& props,
                       TCvTextEncoder& encoder, const TCvSignerTexts& texts) {
  auto* simple = dynamic_cast<TOvPDFSimpleFont*>(props.Fonts.front().get());
  if (!props.AutoFontEncoding || !simple || simple->Encoding) {
    props.AutoFontEncoding = false;
    return;
  }
  // Captions first, then the texts, in the order they are numbered.
  for (const std::string& text :
       {std::cref(props.SignerCaption), std::cref(props.PublicKeyCaption), std::cref(texts.Name),
        std::cref(texts.Details), std::cref(texts.Key)}) {
    encoder.Collect(text);
  }
  if (encoder.Table().empty()) return;
  auto encoding = std::make_unique<TOvPDFEncoding>();
  encoding->BaseEncoding = "WinAnsiEncoding";
  for (size_t i = 0; i < encoder.Table().size(); ++i) {
    std::string glyph;
    if (props.OnGlyphName) props.OnGlyphName(&document, encoder.Table()[i], glyph);
    if (glyph.empty()) glyph = UniName(encoder.Table()[i]);
    encoding->SetGlyphName(static_cast<int32_t>(128 + i), std::move(glyph));
  }
  simple->Encoding = encoding.get();
  props.AddEncoding(std::move(encoding));
}

// Writes the encodings and fonts not written yet; the /Font resources that
// name them (the first font as T1_0 when none has a name).
TOvPDFDictionary* WriteFonts(TOvPDFDocument& document, TOvPDFSignatureWidgetProps& props) {
  for (auto& encoding : props.Encodings) encoding->Write(document);
  for (auto& font : props.Fonts) font->Write(document);
  TOvPDFDictionary* fonts = document.File().NewDictionary();
  bool named = false;
  for (auto& font : props.Fonts) {
    if (font->ResourceName.empty()) continue;
    named = true;
    fonts->AddEntry(font->ResourceName,
                    document.MakeRef(font->ObjectNumber, font->ObjectGeneration));
  }
  if (!named) {
    TOvPDFCustomFont* firstFont = props.Fonts.front().get();
    firstFont->ResourceName = "T1_0";
    fonts->AddEntry("T1_0", document.MakeRef(firstFont->ObjectNumber, firstFont->ObjectGeneration));
  }
  return fonts;
}

// Sizes and positions of the generated content, in the unrotated box.
struct TCvLayout {
  double F = 8.77, G = 4.89, E = 7, P = 5;  // name, date, caption and text sizes
  double Sx = 1, Sy = 1;                    // content scale
  double Bx = 1, By = 1;                    // background scale
  double Cw = 66, Ch = 66;                  // clip
  double M = 70, O = 70;                    // text box
};

TCvLayout ComputeLayout(const TOvPDFSignatureWidgetProps& props, double ux, double uy) {
  TCvLayout l;
  if (!props.StandardLayout) {
    l.F = props.TitleFontSize;
    l.G = props.DateFontSize;
    l.E = props.CaptionFontSize;
    l.P = props.TextFontSize;
  }
  if (props.StandardLayout) {
    if (!props.AutoSize) {
      l.Sx = ux / 67;
      l.Sy = uy / 70;
    }
  } else {
    l.Cw = ux * 66 / 70;
    l.Ch = uy * 66 / 70;
    l.M = std::floor(ux * 68 / 70);
    l.O = std::floor(uy * 68 / 70);
  }
  if (!props.AutoStretchBackground) {
    l.Bx = props.BackgroundWidth / 70;
    l.By = props.BackgroundHeight / 70;
  } else if (props.StandardLayout) {
    l.Bx = l.Sx;
    l.By = l.Sy;
  } else {
    l.Bx = ux / 70;
    l.By = uy / 70;
  }
  return l;
}

// The details text as it is shown: at most four lines.
std::vector<std::string> SplitDetails(const std::string& details) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (int count = 0; count < 4 && start <= details.size(); ++count) {
    const size_t end = details.find("\r\n", start);
    lines.push_back(
        details.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return lines;
}

// The details block: each line shown and the next begun.
std::string DetailsLines(const TCvTextEncoder& encoder, const std::vector<std::string>& details) {
  std::string lines;
  for (size_t i = 0; i < details.size(); ++i) {
    if (i > 0) lines += "T*\r\n";
    lines += encoder.Operand(details[i]) + "Tj\r\n";
  }
  return lines;
}

// The size a line is set in: the layout's, or, when the text (width in
// 1/1000 em) would run past the room it has, the largest size in hundredths
// that fits.
double FittedSize(double size, double room, double width) {
  if (width <= 0 || width * size / 1000 <= room) return size;
  return std::max(0.0, std::floor(room * 1000 / width * 100) / 100);
}

std::string BackgroundOperand(const TOvPDFSignatureWidgetProps& props) {
  if (props.BackgroundStyle == 1) return {};
  if (props.BackgroundStyle == 2) {
    // An image that is not square keeps its proportions, centred in the box.
    const TOvPDFImage& image = props.Background;
    if (image.Width <= 0 || image.Height <= 0 || image.Width == image.Height)
      return "q 66 0 0 66 0 0 cm /CvBgImg Do Q\r\n";
    const double w = image.Width > image.Height ? 66 : 66.0 * image.Width / image.Height;
    const double h = image.Height > image.Width ? 66 : 66.0 * image.Height / image.Width;
    return "q " + F2(w) + " 0 0 " + F2(h) + " " + F2((66 - w) / 2) + " " + F2((66 - h) / 2) +
           " cm /CvBgImg Do Q\r\n";
  }
  return kLogo;
}

// The content of n2: the background, then the six text lines in the clip.
std::string GeneratedContent(const TOvPDFSignature& entry, const TCvTextEncoder& encoder,
                             const TCvSignerTexts& texts, const TCvLayout& l) {
  const TOvPDFSignatureWidgetProps& props = entry.WidgetProps();
  const double t1 = l.O - std::ceil(l.F) - 1;
  // The name and date lines sit a fifth of the name's size lower than the
  // grid puts them, so that the accents of capitals (Č, Ř, Š) stay inside
  // the clip instead of being cut off.
  const double nameLine = t1 - std::ceil(0.2 * l.F);
  const double t2 = t1 - std::ceil(l.F) - std::ceil(l.E) - 1;
  const double t3 = t2 - 5 * std::ceil(l.P) - std::ceil(l.E) - 3;
  // With the standard layout no line runs past the clip's right edge: one
  // that would is set smaller. Positions stay on the layout's grid.
  const auto size = [&](double layoutSize, double x, double width) {
    return props.StandardLayout ? FittedSize(layoutSize, 1 + l.Cw - x, width) : layoutSize;
  };
  const std::vector<std::string> details = SplitDetails(texts.Details);
  double detailsWidth = 0;
  for (const std::string& line : details)
    detailsWidth = std::max(detailsWidth, encoder.Width(line));
  std::string date;
  std::string dateMatrix = "0 0 0 0 0 0";
  if (props.ShowDate) {
    int year, month, day, hour, minute, second;
    DecodeDateTimeParts(entry.SigningTime(), year, month, day, hour, minute, second);
    char text[64];
    std::snprintf(text, sizeof text, "%04d.%02d.%02d %02d:%02d:%02d", year, month, day, hour,
                  minute, second);
    date = text;
    const double x = l.M - 10 * l.G;
    dateMatrix = Matrix(size(l.G, x, encoder.Width(date)), x, nameLine - l.G - 1.1);
  }
  std::string content =
      "q\r\n" + F2(l.Bx) + " 0 0 " + F2(l.By) + " 1 1 cm\r\n" + BackgroundOperand(props) + "Q\r\n";
  content += "q\r\n" + F2(l.Sx) + " 0 0 " + F2(l.Sy) + " 1 1 cm\r\n1 1 " + F2(l.Cw) + " " +
             F2(l.Ch) + " re\r\nW* n\r\nq\r\n1 0 0 1 1 1 cm\r\n0 0 " + F2(l.Cw) + " " + F2(l.Ch) +
             " re\r\nW n\r\n1 0 0 1 -1 -1 cm\r\n0 g\r\n1 i\r\n";
  const auto line = [&](double layoutSize, double x, double y, const std::string& text) {
    return TextBlock(Matrix(size(layoutSize, x, encoder.Width(text)), x, y), encoder.Operand(text),
                     false);
  };
  content += line(l.F, 1, nameLine, texts.Name);
  content += TextBlock(dateMatrix, encoder.Operand(date), false);
  content += line(l.E, 1, t2, props.SignerCaption);
  content += TextBlock(Matrix(size(l.P, l.P, detailsWidth), l.P, t2 - 2),
                       DetailsLines(encoder, details), true);
  content += line(l.E, 1, t3, props.PublicKeyCaption);
  content += line(l.P, l.P, t3 - std::ceil(l.P) - 2, texts.Key);
  content += "Q\r\nQ\r\n\r\n";
  return content;
}

// n2, the text layer: its rotation, box, fonts and background image.
TOvPDFRef* WriteTextLayer(TOvPDFDocument& document, TOvPDFSignatureWidgetProps& props,
                          TOvPDFDictionary* fonts, const std::string& content, int rotate, double W,
                          double H) {
  TOvPDFFile& file = document.File();
  TOvPDFDictionary* resources = file.NewDictionary();
  resources->AddEntry("Font", fonts);
  resources->AddEntry("ProcSet", NameArray(file, {"PDF", "Text"}));
  if (props.BackgroundStyle == 2) {
    props.Background.Write(document);
    TOvPDFDictionary* xobjects = file.NewDictionary();
    xobjects->AddEntry("CvBgImg", document.MakeRef(props.Background.ObjectNumber,
                                                   props.Background.ObjectGeneration));
    resources->AddEntry("XObject", xobjects);
  }
  std::vector<double> matrix = {1, 0, 0, 1, 0, 0};
  if (rotate == 90) matrix = {0, -1, 1, 0, 0, H};
  if (rotate == 180) matrix = {-1, 0, 0, -1, W, H};
  if (rotate == 270) matrix = {0, 1, -1, 0, W, 0};
  const std::vector<double> box = rotate % 180 == 90 ? std::vector<double>{1, 1, H - 1, W - 1}
                                                     : std::vector<double>{1, 1, W - 1, H - 1};
  return NewIndirectRef(document, FormXObject(file, matrix, box, resources, content));
}

// A form XObject of the box W x H drawing the named XObjects.
TOvPDFRef* WriteHolder(TOvPDFDocument& document, TOvPDFDictionary* xobjects, double W, double H,
                       const std::string& content) {
  TOvPDFFile& file = document.File();
  TOvPDFDictionary* resources = file.NewDictionary();
  resources->AddEntry("XObject", xobjects);
  resources->AddEntry("ProcSet", NameArray(file, {"PDF"}));
  return NewIndirectRef(document,
                        FormXObject(file, {1, 0, 0, 1, 0, 0}, {0, 0, W, H}, resources, content));
}

}  // namespace

void WriteWidgetAppearance(TOvPDFDocument& document, TOvPDFSignature& entry,
                           TOvPDFDictionary* field, const TCvWidgetRect& rect) {
  TOvPDFFile& file = document.File();
  TOvPDFSignatureWidgetProps& props = entry.WidgetProps();
  const double W = static_cast<double>(rect.W);
  const double H = static_cast<double>(rect.H);
  const int rotate = ((props.Rotate % 360) + 360) % 360;

  const TCvSignerTexts texts = SignerTexts(entry, props);
  if (props.Fonts.empty()) props.AddFont(std::make_unique<TOvPDFSimpleFont>());
  TCvTextEncoder encoder(document, props);
  BuildAutoEncoding(document, props, encoder, texts);
  // An embedded font holds the glyphs of every text it shows.
  if (auto* composite = dynamic_cast<TOvPDFCompositeFont*>(props.Fonts.front().get())) {
    for (const std::string& text :
         {std::cref(props.SignerCaption), std::cref(props.PublicKeyCaption), std::cref(texts.Name),
          std::cref(texts.Details), std::cref(texts.Key)}) {
      composite->Use(text);
    }
    composite->Use("0123456789.: ");  // the date
  }
  TOvPDFDictionary* fonts = WriteFonts(document, props);
  std::string content = props.CustomAppearance;
  if (content.empty()) {
    const double ux = rotate % 180 == 90 ? H : W;  // the unrotated width and height
    const double uy = rotate % 180 == 90 ? W : H;
    content = GeneratedContent(entry, encoder, texts, ComputeLayout(props, ux, uy));
  }

  TOvPDFRef* n2 = WriteTextLayer(document, props, fonts, content, rotate, W, H);
  // n0: the blank layer.
  TOvPDFDictionary* n0Resources = file.NewDictionary();
  n0Resources->AddEntry("ProcSet", NameArray(file, {"PDF"}));
  TOvPDFRef* n0 = NewIndirectRef(document, FormXObject(file, {1, 0, 0, 1, 0, 0}, {0, 0, 100, 100},
                                                       n0Resources, "% DSBlank\r\n\r\n"));
  // FRM holds both layers; N holds FRM.
  TOvPDFDictionary* frmObjects = file.NewDictionary();
  frmObjects->AddEntry("n0", n0);
  frmObjects->AddEntry("n2", n2);
  TOvPDFRef* frm = WriteHolder(document, frmObjects, W, H,
                               "q 1 0 0 1 0 0 cm /n0 Do Q\r\nq 1 0 0 1 0 0 cm /n2 Do Q\r\n\r\n");
  TOvPDFDictionary* nObjects = file.NewDictionary();
  nObjects->AddEntry("FRM", frm);
  TOvPDFRef* n = WriteHolder(document, nObjects, W, H, "q 1 0 0 1 0 0 cm /FRM Do Q\r\n");
  TOvPDFDictionary* ap = file.NewDictionary();
  ap->AddEntry("N", n);
  SetEntry(field, "AP", ap);
}

}  // namespace sigimpl

}  // namespace corvane
