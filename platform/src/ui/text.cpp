#include "ui/text.h"

#include "core/macroman.h"
#include "core/pstring.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <tuple>
#include <vector>

namespace vt::ui {
namespace {

const char* kRegularPaths[] = {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                               "/usr/share/fonts/TTF/DejaVuSans.ttf",
                               "/usr/share/fonts/dejavu/DejaVuSans.ttf"};
const char* kBoldPaths[] = {"/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
                            "/usr/share/fonts/TTF/DejaVuSans-Bold.ttf",
                            "/usr/share/fonts/dejavu/DejaVuSans-Bold.ttf"};

struct Glyph {
  int left = 0, top = 0, width = 0, rows = 0, advance = 0;
  std::vector<uint8_t> coverage;
};

struct Fonts {
  FT_Library lib = nullptr;
  FT_Face face[2] = {nullptr, nullptr};
  bool tried = false;
  std::map<std::tuple<int, int, uint32_t>, Glyph> glyphs;  // (bold, size, code point)
  size_t glyphBytes = 0;
  // Fonts fontconfig found for characters DejaVu lacks (CJK...), by file and face index, and
  // which of them draws each such character (null: none installed does).
  std::map<std::pair<std::string, int>, FT_Face> fallbackFaces;
  std::map<uint32_t, FT_Face> fallbackFor;
  bool fontconfigUsed = false;

  ~Fonts() {
    // Fontconfig keeps its configuration and caches until told to let go.
    if (fontconfigUsed) FcFini();
    for (FT_Face f : face)
      if (f) FT_Done_Face(f);
    for (auto& [key, f] : fallbackFaces)
      if (f) FT_Done_Face(f);
    if (lib) FT_Done_FreeType(lib);
  }
};

// A font file fontconfig knows for a family and weight (the primary faces when DejaVu is not in
// one of the usual places).
std::pair<std::string, int> fontconfigMatch(const char* family, bool bold) {
  std::pair<std::string, int> out{"", 0};
  FcPattern* pat = FcNameParse((const FcChar8*)family);
  if (!pat) return out;
  FcPatternAddInteger(pat, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcConfigSubstitute(nullptr, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
  FcResult result;
  if (FcPattern* m = FcFontMatch(nullptr, pat, &result)) {
    FcChar8* file = nullptr;
    int index = 0;
    if (FcPatternGetString(m, FC_FILE, 0, &file) == FcResultMatch) {
      FcPatternGetInteger(m, FC_INDEX, 0, &index);
      out = {(const char*)file, index};
    }
    FcPatternDestroy(m);
  }
  FcPatternDestroy(pat);
  return out;
}

Fonts& fonts() {
  static Fonts f;
  if (!f.tried) {
    f.tried = true;
    if (FT_Init_FreeType(&f.lib) != 0) {
      f.lib = nullptr;
      return f;
    }
    for (const char* p : kRegularPaths)
      if (!f.face[0] && FT_New_Face(f.lib, p, 0, &f.face[0]) != 0) f.face[0] = nullptr;
    for (const char* p : kBoldPaths)
      if (!f.face[1] && FT_New_Face(f.lib, p, 0, &f.face[1]) != 0) f.face[1] = nullptr;
    for (int bold = 0; bold < 2; ++bold) {
      if (f.face[bold]) continue;
      f.fontconfigUsed = true;
      auto [file, index] = fontconfigMatch("DejaVu Sans", bold == 1);
      if (!file.empty() && FT_New_Face(f.lib, file.c_str(), index, &f.face[bold]) != 0)
        f.face[bold] = nullptr;
    }
  }
  return f;
}

// A face that has a glyph for cp: one already loaded for another character if it has, else the
// first font fontconfig offers for sans-serif text that covers cp.
FT_Face fallbackFace(uint32_t cp) {
  Fonts& f = fonts();
  auto known = f.fallbackFor.find(cp);
  if (known != f.fallbackFor.end()) return known->second;
  FT_Face found = nullptr;
  for (auto& [key, face] : f.fallbackFaces)
    if (face && FT_Get_Char_Index(face, cp) != 0) {
      found = face;
      break;
    }
  if (!found && f.lib) {
    f.fontconfigUsed = true;
    FcPattern* pat = FcNameParse((const FcChar8*)"sans-serif");
    FcCharSet* want = FcCharSetCreate();
    if (pat && want && FcCharSetAddChar(want, cp)) {
      FcPatternAddCharSet(pat, FC_CHARSET, want);
      FcConfigSubstitute(nullptr, pat, FcMatchPattern);
      FcDefaultSubstitute(pat);
      FcResult result;
      if (FcFontSet* set = FcFontSort(nullptr, pat, FcFalse, nullptr, &result)) {
        for (int i = 0; i < set->nfont && !found; ++i) {
          FcCharSet* cs = nullptr;
          FcChar8* file = nullptr;
          int index = 0;
          if (FcPatternGetCharSet(set->fonts[i], FC_CHARSET, 0, &cs) != FcResultMatch ||
              !FcCharSetHasChar(cs, cp) ||
              FcPatternGetString(set->fonts[i], FC_FILE, 0, &file) != FcResultMatch)
            continue;
          FcPatternGetInteger(set->fonts[i], FC_INDEX, 0, &index);
          auto key = std::make_pair(std::string((const char*)file), index);
          auto it = f.fallbackFaces.find(key);
          if (it == f.fallbackFaces.end()) {
            FT_Face face = nullptr;
            if (FT_New_Face(f.lib, key.first.c_str(), index, &face) != 0) face = nullptr;
            it = f.fallbackFaces.emplace(key, face).first;
          }
          if (it->second && FT_Get_Char_Index(it->second, cp) != 0) found = it->second;
        }
        FcFontSetDestroy(set);
      }
    }
    if (want) FcCharSetDestroy(want);
    if (pat) FcPatternDestroy(pat);
  }
  f.fallbackFor[cp] = found;
  return found;
}

FT_Face faceFor(bool bold, int size) {
  Fonts& f = fonts();
  FT_Face face = f.face[bold ? 1 : 0] ? f.face[bold ? 1 : 0] : f.face[0];
  if (!face) return nullptr;
  FT_Set_Pixel_Sizes(face, 0, (FT_UInt)std::clamp(size, 1, 512));
  return face;
}

int clampSize(int size) { return std::clamp(size <= 0 ? 12 : size, 1, 512); }

const Glyph* glyphFor(uint32_t cp, int size, bool bold) {
  Fonts& f = fonts();
  auto key = std::make_tuple(bold ? 1 : 0, size, cp);
  auto it = f.glyphs.find(key);
  if (it != f.glyphs.end()) return &it->second;
  FT_Face face = faceFor(bold, size);
  if (!face) return nullptr;
  // Characters DejaVu lacks come from a fallback font (control characters never do).
  if (cp >= 0x20 && FT_Get_Char_Index(face, cp) == 0) {
    if (FT_Face other = fallbackFace(cp)) {
      face = other;
      FT_Set_Pixel_Sizes(face, 0, (FT_UInt)std::clamp(size, 1, 512));
    }
  }
  Glyph g;
  if (FT_Load_Char(face, cp, FT_LOAD_RENDER) == 0) {
    FT_GlyphSlot s = face->glyph;
    g.left = s->bitmap_left;
    g.top = s->bitmap_top;
    g.width = (int)s->bitmap.width;
    g.rows = (int)s->bitmap.rows;
    g.advance = (int)((s->advance.x + 32) >> 6);
    if (s->bitmap.pixel_mode == FT_PIXEL_MODE_GRAY) {
      g.coverage.resize((size_t)g.width * g.rows);
      for (int y = 0; y < g.rows; ++y)
        std::copy_n(s->bitmap.buffer + (ptrdiff_t)y * s->bitmap.pitch, g.width,
                    g.coverage.begin() + (ptrdiff_t)y * g.width);
    } else {
      g.width = g.rows = 0;
    }
  }
  // The cache is bounded: text in many sizes and scripts must not grow it without end.
  constexpr size_t kCacheLimit = 16u << 20;
  if (f.glyphBytes + g.coverage.size() > kCacheLimit) {
    f.glyphs.clear();
    f.glyphBytes = 0;
  }
  f.glyphBytes += g.coverage.size() + sizeof(Glyph);
  return &f.glyphs.emplace(key, std::move(g)).first->second;
}

// Decodes UTF-8; malformed bytes become U+FFFD so every input draws something bounded.
std::vector<uint32_t> decodeUtf8(std::string_view s) {
  std::vector<uint32_t> out;
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = (unsigned char)s[i];
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > s.size()) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    bool ok = true;
    for (int k = 1; k < len; ++k) {
      unsigned char d = (unsigned char)s[i + k];
      if ((d & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if (!ok) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    out.push_back(cp);
    i += len;
  }
  return out;
}

inline Pixel blend(Pixel dst, Pixel src, unsigned cov) {
  if (cov >= 255) return (dst & 0xFF000000u) | (src & 0x00FFFFFFu);
  unsigned inv = 255 - cov;
  unsigned r = (pixelR(src) * cov + pixelR(dst) * inv + 127) / 255;
  unsigned g = (pixelG(src) * cov + pixelG(dst) * inv + 127) / 255;
  unsigned b = (pixelB(src) * cov + pixelB(dst) * inv + 127) / 255;
  return (dst & 0xFF000000u) | (r << 16) | (g << 8) | b;
}

}  // namespace

bool fontsAvailable() { return fonts().face[0] != nullptr; }

FontMetrics fontMetrics(int size, bool bold) {
  FontMetrics m;
  size = clampSize(size);
  FT_Face face = faceFor(bold, size);
  if (!face) return m;
  const FT_Size_Metrics& sm = face->size->metrics;
  m.ascent = (int)((sm.ascender + 63) >> 6);
  m.descent = (int)((-sm.descender + 63) >> 6);
  int height = (int)((sm.height + 63) >> 6);
  m.leading = std::max(0, height - m.ascent - m.descent);
  m.widMax = (int)((sm.max_advance + 63) >> 6);
  return m;
}

int measureText(std::string_view utf8, int size, bool bold) {
  size = clampSize(size);
  if (!fontsAvailable()) return 0;
  int w = 0;
  for (uint32_t cp : decodeUtf8(utf8)) {
    const Glyph* g = glyphFor(cp, size, bold);
    if (g) w += g->advance;
  }
  return w;
}

int drawText(Image& dst, int x, int y, std::string_view utf8, const TextStyle& style,
             const Rect* clip) {
  int size = clampSize(style.size);
  if (!fontsAvailable()) return 0;
  Rect c{0, 0, (short)std::min(dst.height, 32767), (short)std::min(dst.width, 32767)};
  if (clip) {
    c.top = std::max(c.top, clip->top);
    c.left = std::max(c.left, clip->left);
    c.bottom = std::min(c.bottom, clip->bottom);
    c.right = std::min(c.right, clip->right);
  }
  int pen = x;
  for (uint32_t cp : decodeUtf8(utf8)) {
    const Glyph* g = glyphFor(cp, size, style.bold);
    if (!g) continue;
    int gx = pen + g->left, gy = y - g->top;
    int y0 = std::max<int>(gy, c.top), y1 = std::min<int>(gy + g->rows, c.bottom);
    int x0 = std::max<int>(gx, c.left), x1 = std::min<int>(gx + g->width, c.right);
    for (int yy = y0; yy < y1; ++yy) {
      Pixel* row = dst.row(yy);
      const uint8_t* cov = g->coverage.data() + (size_t)(yy - gy) * g->width;
      for (int xx = x0; xx < x1; ++xx) {
        unsigned a = cov[xx - gx];
        if (a) row[xx] = blend(row[xx], style.color, a);
      }
    }
    pen += g->advance;
  }
  return pen - x;
}

std::string toolboxToUtf8(std::string_view bytes) { return vt::toolboxToUtf8(bytes); }

std::string pascalToUtf8(const unsigned char* pstr) { return toolboxToUtf8(vt::fromPascal(pstr)); }

std::string utf8ToToolbox(std::string_view utf8, size_t maxBytes) {
  return vt::utf8ToToolbox(utf8, maxBytes);
}

}  // namespace vt::ui
