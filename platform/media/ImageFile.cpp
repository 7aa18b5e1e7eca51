// The user's background picture. PNG is decoded with libpng a row at a time
// and box-filtered down to kMaxImageSide, so a huge picture costs time in
// proportion to its pixels and memory in proportion to one output row. JPEG
// data goes into the PDF as it is; libjpeg reads its header and decodes it at
// an eighth of its size to prove the data whole.
#include <fcntl.h>
// jpeglib.h needs FILE declared first.
#include <cstdio>
// clang-format off
#include <jpeglib.h>
// clang-format on
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <vector>

#include "platform/media/MediaFiles.h"
#include "toolkit/common/CvScope.h"
#include "toolkit/pdf/CvPDF.h"

namespace tavra::media {

namespace {

constexpr char kBroken[] = "soubor je poškozený nebo neúplný";

std::string ImageError(const std::string& path, const std::string& why) {
  return "Obrázek \"" + path + "\" nelze použít: " + why;
}

// Sums k x k blocks of input rows into output rows.
class TBoxScaler {
 public:
  TBoxScaler(int width, int height, int channels)
      : width_(width), height_(height), channels_(channels) {
    const int side = std::max(width, height);
    factor_ = (side + kMaxImageSide - 1) / kMaxImageSide;
    outWidth_ = (width + factor_ - 1) / factor_;
    outHeight_ = (height + factor_ - 1) / factor_;
    sums_.assign(static_cast<size_t>(outWidth_) * channels_, 0);
    out_.reserve(static_cast<size_t>(outWidth_) * outHeight_ * channels_);
  }
  int OutWidth() const { return outWidth_; }
  int OutHeight() const { return outHeight_; }

  void AddRow(const uint8_t* row) {
    for (int x = 0; x < width_; ++x)
      for (int c = 0; c < channels_; ++c)
        sums_[static_cast<size_t>(x / factor_) * channels_ + c] += row[x * channels_ + c];
    ++rows_;
    ++y_;
    if (rows_ == factor_ || y_ == height_) Flush();
  }
  std::vector<uint8_t>& Pixels() { return out_; }

 private:
  void Flush() {
    for (int ox = 0; ox < outWidth_; ++ox) {
      const int columns = std::min(factor_, width_ - ox * factor_);
      const uint32_t count = static_cast<uint32_t>(columns * rows_);
      for (int c = 0; c < channels_; ++c) {
        uint32_t& sum = sums_[static_cast<size_t>(ox) * channels_ + c];
        out_.push_back(static_cast<uint8_t>((sum + count / 2) / count));
        sum = 0;
      }
    }
    rows_ = 0;
  }

  int width_, height_, channels_;
  int factor_ = 1, outWidth_ = 0, outHeight_ = 0, rows_ = 0, y_ = 0;
  std::vector<uint32_t> sums_;
  std::vector<uint8_t> out_;
};

// --- PNG ---------------------------------------------------------------------------------

struct TPngSource {
  const std::string* Data = nullptr;
  size_t Position = 0;
  std::string Message;
};

void PngRead(png_structp png, png_bytep out, size_t length) {
  auto* source = static_cast<TPngSource*>(png_get_io_ptr(png));
  if (length > source->Data->size() - source->Position) png_error(png, "truncated");
  std::memcpy(out, source->Data->data() + source->Position, length);
  source->Position += length;
}

void PngError(png_structp png, png_const_charp message) {
  auto* source = static_cast<TPngSource*>(png_get_error_ptr(png));
  source->Message = message ? message : "";
  png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

// Reads the picture into scaler (made once the size is known). No object
// with a destructor lives in this frame: libpng leaves it by longjmp.
bool DecodePng(png_structp png, png_infop info, std::unique_ptr<TBoxScaler>& scaler,
               std::vector<uint8_t>& row, std::vector<uint8_t>& whole, std::vector<png_bytep>& rows,
               bool& tooLarge) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_user_limits(png, kMaxImageDimension, kMaxImageDimension);
  png_set_chunk_malloc_max(png, 8u << 20);
  png_read_info(png, info);
  png_set_expand(png);
  png_set_strip_16(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const int channels = png_get_channels(png, info);
  if (width == 0 || height == 0 || width > kMaxImageDimension || height > kMaxImageDimension) {
    tooLarge = true;
    return false;
  }
  const size_t stride = static_cast<size_t>(width) * channels;
  scaler = std::make_unique<TBoxScaler>(width, height, channels);
  if (passes == 1) {
    row.resize(stride);
    for (png_uint_32 y = 0; y < height; ++y) {
      png_read_row(png, row.data(), nullptr);
      scaler->AddRow(row.data());
    }
  } else {
    // An interlaced picture comes whole only after its last pass.
    if (static_cast<uint64_t>(width) * height > (4u << 20)) {
      tooLarge = true;
      return false;
    }
    whole.resize(stride * height);
    rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = whole.data() + y * stride;
    png_read_image(png, rows.data());
    for (png_uint_32 y = 0; y < height; ++y) scaler->AddRow(rows[y]);
  }
  png_read_end(png, nullptr);
  return true;
}

void LoadPng(const std::string& path, const std::string& data, corvane::TOvPDFImage& image) {
  TPngSource source;
  source.Data = &data;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &source, PngError, PngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  const corvane::TCvScopeExit release([&] { png_destroy_read_struct(&png, &info, nullptr); });
  if (!info) throw EMediaError(ImageError(path, kBroken));
  png_set_read_fn(png, &source, PngRead);
  std::unique_ptr<TBoxScaler> scaler;
  std::vector<uint8_t> row, whole;
  std::vector<png_bytep> rows;
  bool tooLarge = false;
  if (!DecodePng(png, info, scaler, row, whole, rows, tooLarge) || !scaler) {
    if (tooLarge || source.Message.find("exceeds user limit") != std::string::npos ||
        source.Message.find("Image width") != std::string::npos ||
        source.Message.find("Image height") != std::string::npos)
      throw EMediaError(ImageError(path, "obrázek je příliš velký (nejvýše " +
                                             std::to_string(kMaxImageDimension) + " × " +
                                             std::to_string(kMaxImageDimension) + " bodů)"));
    throw EMediaError(ImageError(path, kBroken));
  }
  const int channels = static_cast<int>(
      scaler->Pixels().size() / (static_cast<size_t>(scaler->OutWidth()) * scaler->OutHeight()));
  const bool alpha = channels == 2 || channels == 4;
  const int colours = alpha ? channels - 1 : channels;
  image = corvane::TOvPDFImage();
  image.ImageType = 2;
  image.Width = scaler->OutWidth();
  image.Height = scaler->OutHeight();
  image.Components = colours;
  const std::vector<uint8_t>& pixels = scaler->Pixels();
  image.Data.reserve(pixels.size());
  bool opaque = true;
  for (size_t at = 0; at < pixels.size(); at += channels) {
    image.Data.append(reinterpret_cast<const char*>(&pixels[at]), colours);
    if (alpha) {
      image.Alpha.push_back(static_cast<char>(pixels[at + colours]));
      opaque = opaque && pixels[at + colours] == 255;
    }
  }
  // A picture without transparency needs no mask.
  if (opaque) image.Alpha.clear();
}

// --- JPEG --------------------------------------------------------------------------------

struct TJpegErrors {
  jpeg_error_mgr Manager;
  std::jmp_buf Jump;
};

void JpegExit(j_common_ptr info) {
  std::longjmp(reinterpret_cast<TJpegErrors*>(info->err)->Jump, 1);
}

// libjpeg reports damaged data (a premature end, a corrupt marker) as
// warnings and goes on; a picture we embed has to be whole.
void JpegMessage(j_common_ptr info, int level) {
  if (level < 0) info->err->num_warnings++;
}

// As DecodePng: nothing with a destructor in this frame.
bool DecodeJpeg(jpeg_decompress_struct& info, TJpegErrors& errors, const std::string& data,
                std::vector<uint8_t>& row) {
  if (setjmp(errors.Jump)) return false;
  jpeg_create_decompress(&info);
  info.mem->max_memory_to_use = 128L << 20;
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.data()),
               static_cast<unsigned long>(data.size()));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) return false;
  if (info.data_precision != 8 || info.image_width == 0 || info.image_height == 0) return false;
  info.scale_num = 1;
  info.scale_denom = 8;
  info.dct_method = JDCT_IFAST;
  jpeg_start_decompress(&info);
  row.resize(static_cast<size_t>(info.output_width) * info.output_components);
  JSAMPROW rows[1] = {row.data()};
  while (info.output_scanline < info.output_height) {
    if (jpeg_read_scanlines(&info, rows, 1) != 1) return false;
  }
  jpeg_finish_decompress(&info);
  return errors.Manager.num_warnings == 0;
}

void LoadJpeg(const std::string& path, const std::string& data, corvane::TOvPDFImage& image) {
  jpeg_decompress_struct info{};
  TJpegErrors errors{};
  info.err = jpeg_std_error(&errors.Manager);
  errors.Manager.error_exit = JpegExit;
  errors.Manager.emit_message = JpegMessage;
  const corvane::TCvScopeExit release([&] { jpeg_destroy_decompress(&info); });
  std::vector<uint8_t> row;
  if (!DecodeJpeg(info, errors, data, row)) throw EMediaError(ImageError(path, kBroken));
  if (info.num_components != 1 && info.num_components != 3 && info.num_components != 4)
    throw EMediaError(ImageError(path, "nepodporovaný počet barevných složek"));
  if (info.image_width > kMaxImageDimension || info.image_height > kMaxImageDimension)
    throw EMediaError(ImageError(path, "obrázek je příliš velký (nejvýše " +
                                           std::to_string(kMaxImageDimension) + " × " +
                                           std::to_string(kMaxImageDimension) + " bodů)"));
  image = corvane::TOvPDFImage();
  image.ImageType = 1;
  image.Width = static_cast<int32_t>(info.image_width);
  image.Height = static_cast<int32_t>(info.image_height);
  image.Components = info.num_components;
  // Adobe's applications write CMYK JPEG inverted and mark it so.
  image.InvertedCMYK = info.num_components == 4 && info.saw_Adobe_marker;
  image.Data = data;
}

}  // namespace

std::string ReadMediaFile(const std::string& path, const std::string& what) {
  const std::string prefix = what + " \"" + path + "\" nelze použít: ";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) throw EMediaError(prefix + "soubor nelze otevřít");
  const corvane::TCvScopeExit closeFile([fd] { ::close(fd); });
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    throw EMediaError(prefix + "není to obyčejný soubor");
  if (static_cast<uint64_t>(st.st_size) > kMaxMediaFileSize)
    throw EMediaError(prefix + "soubor je větší než " + std::to_string(kMaxMediaFileSize >> 20) +
                      " MB");
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) throw EMediaError(prefix + "soubor nelze přečíst");
    if (n == 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
    if (bytes.size() > kMaxMediaFileSize)
      throw EMediaError(prefix + "soubor je větší než " + std::to_string(kMaxMediaFileSize >> 20) +
                        " MB");
  }
  return bytes;
}

void LoadImageFile(const std::string& path, corvane::TOvPDFImage& image) {
  const std::string data = ReadMediaFile(path, "Obrázek");
  if (data.size() >= 8 && png_sig_cmp(reinterpret_cast<png_const_bytep>(data.data()), 0, 8) == 0) {
    LoadPng(path, data, image);
  } else if (data.size() >= 3 && data.compare(0, 3, "\xFF\xD8\xFF") == 0) {
    LoadJpeg(path, data, image);
  } else {
    throw EMediaError(ImageError(path, "není to obrázek PNG ani JPEG"));
  }
}

}  // namespace tavra::media
