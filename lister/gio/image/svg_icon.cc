#include "lister/gio/image/svg_icon.h"

#include <glib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <string>
#include <unordered_map>
#include <utility>

namespace corvane::gio {
namespace {

constexpr double kPi = std::numbers::pi;

// ---- Bounds ------------------------------------------------------------------
// Real icons hold a few hundred elements at most, a few levels deep; these
// leave ample room while keeping a hostile file's cost small and fixed.
constexpr size_t kMaxElements = 20000;
constexpr int kMaxDepth = 64;       // element nesting kept in the tree
constexpr int kMaxUseDepth = 8;     // `use` within what a `use` draws
constexpr int kMaxDrawDepth = 96;   // nesting as drawn, through uses: bounds the recursion
constexpr int kMaxLayers = 16;      // groups drawn offscreen at one time
constexpr int kMaxHref = 16;        // gradients inheriting from gradients
constexpr size_t kMaxDrawn = 50000;  // elements drawn, counting each `use` again
constexpr size_t kMaxPoints = 1 << 18;  // flattened points, all shapes together
// Rasteriser and compositing steps: the clipped and stroked application
// icon takes 40 000, a symbolic one a few thousand; a hostile file stops
// within a few milliseconds.
constexpr double kMaxWork = 2e6;
constexpr double kMaxCoordinate = 1e7;  // in user units and in pixels
constexpr int kMaxSize = 256;  // layers of it stay a few megabytes

constexpr const char* kSvgNs = "http://www.w3.org/2000/svg";
constexpr const char* kXlinkNs = "http://www.w3.org/1999/xlink";
constexpr const char* kXmlNs = "http://www.w3.org/XML/1998/namespace";

// ---- The document ------------------------------------------------------------

struct Element {
  std::string name;  // local name; the element is in the SVG namespace
  std::vector<std::pair<std::string, std::string>> attributes;  // unprefixed, with href resolved
  std::vector<int> children;
  int parent = -1;
};

// A rule of a style sheet: its declarations for the elements of a class or
// an id.
struct Rule {
  bool byId;  // an id selector, which outweighs a class
  std::string name;
  std::string declarations;
};

struct Document {
  std::vector<Element> elements;  // [0] is the root
  std::unordered_map<std::string, int> ids;
  std::string styleText;    // the style elements' text, in order
  std::vector<Rule> rules;  // in document order
};

// The elements drawn or referenced here; any other SVG element declines.
bool knownElement(std::string_view n) {
  static constexpr std::string_view kKnown[] = {"svg",  "g",        "defs",    "path",          "rect",           "circle",
                                                "ellipse", "line", "polyline", "polygon", "use", "linearGradient",
                                                "radialGradient", "stop", "clipPath", "title", "desc", "metadata", "style"};
  return std::find(std::begin(kKnown), std::end(kKnown), n) != std::end(kKnown);
}

// Whose content no renderer looks into.
bool opaqueElement(std::string_view n) { return n == "title" || n == "desc" || n == "metadata" || n == "style"; }

struct ParseState {
  Document doc;
  std::vector<std::vector<std::pair<std::string, std::string>>> scopes;  // namespace declarations by level
  std::vector<int> open;  // elements kept, innermost last; -1 for one skipped
  int skipping = 0;       // levels inside an element whose content is ignored
  bool inStyle = false;   // directly inside a style element: its text is the sheet
  size_t seen = 0;
};

const std::string* lookupNs(const ParseState& s, std::string_view prefix) {
  for (auto scope = s.scopes.rbegin(); scope != s.scopes.rend(); ++scope)
    for (const auto& [p, uri] : *scope)
      if (p == prefix) return &uri;
  return nullptr;
}

void fail(GError** error, const char* why) { g_set_error_literal(error, G_MARKUP_ERROR, G_MARKUP_ERROR_INVALID_CONTENT, why); }

void startElement(GMarkupParseContext*, const gchar* name, const gchar** names, const gchar** values, gpointer data, GError** error) {
  auto& s = *static_cast<ParseState*>(data);
  if (++s.seen > kMaxElements) return fail(error, "elements");
  std::vector<std::pair<std::string, std::string>> scope;
  for (size_t i = 0; names[i]; ++i) {
    const std::string_view n = names[i];
    if (n == "xmlns") scope.emplace_back("", values[i]);
    else if (n.substr(0, 6) == "xmlns:") scope.emplace_back(std::string(n.substr(6)), values[i]);
  }
  s.scopes.push_back(std::move(scope));
  // A style sheet holds text only.
  if (s.inStyle) return fail(error, "element in a style sheet");
  if (s.skipping) {
    ++s.skipping;
    s.open.push_back(-1);
    return;
  }
  const std::string_view qname = name;
  const size_t colon = qname.find(':');
  const std::string_view prefix = colon == std::string_view::npos ? std::string_view() : qname.substr(0, colon);
  const std::string_view local = colon == std::string_view::npos ? qname : qname.substr(colon + 1);
  const std::string* ns = lookupNs(s, prefix);
  if (!prefix.empty() && !ns) return fail(error, "undeclared prefix");
  // An unprefixed element outside any namespace is drawn as SVG by the
  // general loader.
  const bool svg = ns ? *ns == kSvgNs : true;
  if (ns && ns->empty()) return fail(error, "namespace undeclared");
  if (!svg) {
    if (s.open.empty()) return fail(error, "root");  // whether first or after the first
    // Another vocabulary's element (an editor's settings, metadata): no
    // pixels, and nothing inside it is drawn.
    s.skipping = 1;
    s.open.push_back(-1);
    return;
  }
  if (!prefix.empty()) return fail(error, "prefixed SVG");
  if (!knownElement(local)) return fail(error, "element");
  if (s.open.empty() != (local == "svg") || (s.open.empty() && !s.doc.elements.empty())) return fail(error, "root");
  if (static_cast<int>(s.open.size()) >= kMaxDepth) return fail(error, "depth");
  Element e;
  e.name = std::string(local);
  e.parent = s.open.empty() ? -1 : s.open.back();
  bool href = false;
  for (size_t i = 0; names[i]; ++i) {
    const std::string_view n = names[i];
    if (n == "xmlns" || n.substr(0, 6) == "xmlns:") continue;
    const size_t c = n.find(':');
    if (c == std::string_view::npos) {
      if (n == "href") {
        if (href) return fail(error, "two hrefs");
        href = true;
      }
      e.attributes.emplace_back(std::string(n), values[i]);
      continue;
    }
    const std::string_view p = n.substr(0, c), l = n.substr(c + 1);
    const std::string* uri = p == "xml" ? nullptr : lookupNs(s, p);
    if (p == "xml") continue;  // xml:space and xml:lang touch text only
    if (!uri) return fail(error, "attribute prefix");
    if (*uri == kXlinkNs && l == "href") {
      if (href) return fail(error, "two hrefs");
      href = true;
      e.attributes.emplace_back("href", values[i]);
    } else if (*uri == kSvgNs || *uri == kXmlNs) {
      return fail(error, "attribute namespace");
    }
    // Other xlink attributes (title, show) and editors' own change nothing.
  }
  // An attribute given twice makes the document ill-formed to a stricter
  // parser than this one.
  if (e.attributes.size() > 256) return fail(error, "attributes");
  for (size_t i = 0; i < e.attributes.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      if (e.attributes[i].first == e.attributes[j].first) return fail(error, "attribute twice");
  const int index = static_cast<int>(s.doc.elements.size());
  s.doc.elements.push_back(std::move(e));
  if (index > 0) s.doc.elements[static_cast<size_t>(s.doc.elements[index].parent)].children.push_back(index);
  s.open.push_back(index);
  if (opaqueElement(local)) s.skipping = 1;
  if (local == "style") {
    // A sheet for other media, or in another language, would need its own
    // judgement.
    const Element& style = s.doc.elements[static_cast<size_t>(index)];
    for (const auto& [n, v] : style.attributes) {
      if (n == "id" || (n == "type" && (v.empty() || v == "text/css")) || (n == "media" && v == "all")) continue;
      return fail(error, "style attribute");
    }
    s.inStyle = true;
  }
}

void text(GMarkupParseContext*, const gchar* text, gsize length, gpointer data, GError**) {
  auto& s = *static_cast<ParseState*>(data);
  if (s.inStyle) s.doc.styleText.append(text, length);
}

void endElement(GMarkupParseContext*, const gchar*, gpointer data, GError**) {
  auto& s = *static_cast<ParseState*>(data);
  s.scopes.pop_back();
  s.open.pop_back();
  s.inStyle = false;
  if (s.skipping) --s.skipping;
}

std::optional<Document> parseDocument(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  if (bytes.size() > (64u << 20)) return std::nullopt;
  GMarkupParser parser{};
  parser.start_element = startElement;
  parser.end_element = endElement;
  parser.text = text;
  ParseState state;
  GMarkupParseContext* context = g_markup_parse_context_new(&parser, G_MARKUP_TREAT_CDATA_AS_TEXT, &state, nullptr);
  bool ok = g_markup_parse_context_parse(context, bytes.data(), static_cast<gssize>(bytes.size()), nullptr) &&
            g_markup_parse_context_end_parse(context, nullptr);
  g_markup_parse_context_free(context);
  if (!ok || state.doc.elements.empty()) return std::nullopt;
  for (size_t i = 0; i < state.doc.elements.size(); ++i) {
    for (const auto& [n, v] : state.doc.elements[i].attributes) {
      if (n != "id") continue;
      // The first of two equal ids is the one a reference finds.
      state.doc.ids.emplace(v, static_cast<int>(i));
    }
  }
  return std::move(state.doc);
}

// ---- Values --------------------------------------------------------------------

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  return s;
}

// The first word of a list separated by white space; the list loses it.
std::string_view nextWord(std::string_view& list) {
  list = trim(list);
  const auto end = static_cast<size_t>(std::find_if(list.begin(), list.end(), isSpace) - list.begin());
  const std::string_view word = list.substr(0, end);
  list.remove_prefix(end);
  return word;
}

bool finiteValue(double v) { return std::isfinite(v) && std::fabs(v) <= kMaxCoordinate; }

// A number at the front of s, consumed. Digits are read here, not by strtod:
// no locale, no hex, no "inf", no "nan".
bool readNumber(std::string_view& s, double& out) {
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  double mantissa = 0;
  int digits = 0, scale = 0;
  bool any = false;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    if (digits < 18) mantissa = mantissa * 10 + (s[i] - '0'), ++digits;
    else ++scale;
    ++i, any = true;
  }
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
      if (digits < 18) mantissa = mantissa * 10 + (s[i] - '0'), ++digits, --scale;
      ++i, any = true;
    }
  }
  if (!any) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    bool eneg = false;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) eneg = s[j++] == '-';
    if (j < s.size() && s[j] >= '0' && s[j] <= '9') {
      int e = 0;
      while (j < s.size() && s[j] >= '0' && s[j] <= '9') {
        if (e < 10000) e = e * 10 + (s[j] - '0');
        ++j;
      }
      scale += eneg ? -e : e;
      i = j;
    }
  }
  if (scale < -400 || scale > 400) {
    if (scale > 0 && mantissa != 0) return false;
    mantissa = 0, scale = 0;
  }
  static constexpr double kTens[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11,
                                     1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  double v = scale >= 0 && scale <= 22 ? mantissa * kTens[scale] : scale < 0 && scale >= -22 ? mantissa / kTens[-scale] : mantissa * std::pow(10.0, scale);
  if (negative) v = -v;
  if (!finiteValue(v)) return false;
  out = v;
  s.remove_prefix(i);
  return true;
}

void skipSeparators(std::string_view& s) {
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  if (!s.empty() && s.front() == ',') s.remove_prefix(1);
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
}

std::optional<double> number(std::string_view s) {
  s = trim(s);
  double v;
  if (!readNumber(s, v) || !s.empty()) return std::nullopt;
  return v;
}

// A length in user units. Relative units (%, em, ex) need what this does not
// track: they decline.
std::optional<double> length(std::string_view s) {
  s = trim(s);
  double v;
  if (!readNumber(s, v)) return std::nullopt;
  double unit;
  // The general loader takes 90 pixels an inch.
  if (s.empty() || s == "px") unit = 1;
  else if (s == "pt") unit = 90.0 / 72;
  else if (s == "pc") unit = 90.0 / 6;
  else if (s == "in") unit = 90;
  else if (s == "cm") unit = 90 / 2.54;
  else if (s == "mm") unit = 90 / 25.4;
  else return std::nullopt;
  v *= unit;
  if (!finiteValue(v)) return std::nullopt;
  return v;
}

// Numbers separated by spaces or commas, all of them.
std::optional<std::vector<double>> numberList(std::string_view s, size_t limit) {
  std::vector<double> out;
  s = trim(s);
  while (!s.empty()) {
    double v;
    if (out.size() >= limit || !readNumber(s, v)) return std::nullopt;
    out.push_back(v);
    skipSeparators(s);
  }
  return out;
}

struct Matrix {
  double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
  // this after m: points go through m first.
  Matrix operator*(const Matrix& m) const {
    return {a * m.a + c * m.b, b * m.a + d * m.b, a * m.c + c * m.d, b * m.c + d * m.d, a * m.e + c * m.f + e, b * m.e + d * m.f + f};
  }
  double det() const { return a * d - b * c; }
  bool finite() const {
    for (double v : {a, b, c, d, e, f})
      if (!std::isfinite(v) || std::fabs(v) > 1e12) return false;
    return true;
  }
  std::optional<Matrix> inverse() const {
    const double k = det();
    if (!std::isfinite(k) || std::fabs(k) < 1e-12) return std::nullopt;
    return Matrix{d / k, -b / k, -c / k, a / k, (c * f - d * e) / k, (b * e - a * f) / k};
  }
};

struct Point {
  double x, y;
};
Point apply(const Matrix& m, Point p) { return {m.a * p.x + m.c * p.y + m.e, m.b * p.x + m.d * p.y + m.f}; }

std::optional<Matrix> transformList(std::string_view s) {
  Matrix m;
  s = trim(s);
  int count = 0;
  while (!s.empty()) {
    if (++count > 64) return std::nullopt;
    const size_t open = s.find('(');
    if (open == std::string_view::npos) return std::nullopt;
    const std::string_view name = trim(s.substr(0, open));
    const size_t close = s.find(')', open);
    if (close == std::string_view::npos) return std::nullopt;
    const auto args = numberList(s.substr(open + 1, close - open - 1), 6);
    if (!args) return std::nullopt;
    const std::vector<double>& v = *args;
    const size_t n = v.size();
    Matrix t;
    if (name == "matrix" && n == 6) {
      t = {v[0], v[1], v[2], v[3], v[4], v[5]};
    } else if (name == "translate" && (n == 1 || n == 2)) {
      t.e = v[0], t.f = n == 2 ? v[1] : 0;
    } else if (name == "scale" && (n == 1 || n == 2)) {
      t.a = v[0], t.d = n == 2 ? v[1] : v[0];
    } else if (name == "rotate" && (n == 1 || n == 3)) {
      const double r = v[0] * kPi / 180;
      const Matrix rot{std::cos(r), std::sin(r), -std::sin(r), std::cos(r), 0, 0};
      t = n == 3 ? Matrix{1, 0, 0, 1, v[1], v[2]} * rot * Matrix{1, 0, 0, 1, -v[1], -v[2]} : rot;
    } else if (name == "skewX" && n == 1) {
      t.c = std::tan(v[0] * kPi / 180);
    } else if (name == "skewY" && n == 1) {
      t.b = std::tan(v[0] * kPi / 180);
    } else {
      return std::nullopt;
    }
    m = m * t;
    if (!m.finite()) return std::nullopt;
    s.remove_prefix(close + 1);
    skipSeparators(s);
  }
  return m;
}

struct Rgb {
  double r = 0, g = 0, b = 0;  // 0..1
};

struct NamedColour {
  const char* name;
  uint32_t rgb;
};
constexpr NamedColour kColours[] = {
    {"black", 0x000000},  {"white", 0xffffff},   {"red", 0xff0000},       {"green", 0x008000},   {"blue", 0x0000ff},
    {"yellow", 0xffff00}, {"cyan", 0x00ffff},    {"aqua", 0x00ffff},      {"magenta", 0xff00ff}, {"fuchsia", 0xff00ff},
    {"gray", 0x808080},   {"grey", 0x808080},    {"silver", 0xc0c0c0},    {"maroon", 0x800000},  {"olive", 0x808000},
    {"lime", 0x00ff00},   {"teal", 0x008080},    {"navy", 0x000080},      {"purple", 0x800080},  {"orange", 0xffa500},
    {"darkgray", 0xa9a9a9}, {"darkgrey", 0xa9a9a9}, {"lightgray", 0xd3d3d3}, {"lightgrey", 0xd3d3d3}, {"dimgray", 0x696969},
    {"dimgrey", 0x696969}, {"gainsboro", 0xdcdcdc}, {"whitesmoke", 0xf5f5f5}, {"brown", 0xa52a2a}, {"darkred", 0x8b0000},
    {"darkgreen", 0x006400}, {"darkblue", 0x00008b}, {"gold", 0xffd700}, {"pink", 0xffc0cb}, {"violet", 0xee82ee},
    {"indigo", 0x4b0082}, {"crimson", 0xdc143c}, {"tomato", 0xff6347}, {"coral", 0xff7f50}, {"salmon", 0xfa8072},
    {"orchid", 0xda70d6}, {"khaki", 0xf0e68c}, {"beige", 0xf5f5dc}, {"ivory", 0xfffff0}, {"tan", 0xd2b48c},
    {"chocolate", 0xd2691e}, {"firebrick", 0xb22222}, {"skyblue", 0x87ceeb}, {"steelblue", 0x4682b4}, {"royalblue", 0x4169e1},
    {"slategray", 0x708090}, {"slategrey", 0x708090}, {"lightblue", 0xadd8e6}, {"lightgreen", 0x90ee90}, {"darkorange", 0xff8c00},
    {"forestgreen", 0x228b22}, {"seagreen", 0x2e8b57}, {"limegreen", 0x32cd32}, {"turquoise", 0x40e0d0}, {"darkcyan", 0x008b8b},
};

std::optional<Rgb> colour(std::string_view s) {
  s = trim(s);
  const auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (!s.empty() && s[0] == '#') {
    int v[6];
    if (s.size() != 4 && s.size() != 7) return std::nullopt;
    for (size_t i = 1; i < s.size(); ++i)
      if ((v[i - 1] = hex(s[i])) < 0) return std::nullopt;
    if (s.size() == 4) return Rgb{v[0] * 17 / 255.0, v[1] * 17 / 255.0, v[2] * 17 / 255.0};
    return Rgb{(v[0] * 16 + v[1]) / 255.0, (v[2] * 16 + v[3]) / 255.0, (v[4] * 16 + v[5]) / 255.0};
  }
  if (s.size() > 4 && s.substr(0, 4) == "rgb(" && s.back() == ')') {
    std::string_view body = s.substr(4, s.size() - 5);
    double c[3];
    for (int i = 0; i < 3; ++i) {
      while (!body.empty() && isSpace(body.front())) body.remove_prefix(1);
      double v;
      if (!readNumber(body, v)) return std::nullopt;
      // Percentages and integers both become whole levels, as the general
      // loader keeps them.
      if (!body.empty() && body.front() == '%') body.remove_prefix(1), v = v * 255 / 100;
      c[i] = std::round(std::clamp(v, 0.0, 255.0)) / 255;
      while (!body.empty() && isSpace(body.front())) body.remove_prefix(1);
      if (i < 2) {
        if (body.empty() || body.front() != ',') return std::nullopt;
        body.remove_prefix(1);
      }
    }
    if (!trim(body).empty()) return std::nullopt;
    return Rgb{c[0], c[1], c[2]};
  }
  std::string lower(s);
  for (char& ch : lower) ch = static_cast<char>(g_ascii_tolower(ch));
  for (const NamedColour& n : kColours)
    if (lower == n.name) return Rgb{(n.rgb >> 16) / 255.0, ((n.rgb >> 8) & 255) / 255.0, (n.rgb & 255) / 255.0};
  return std::nullopt;
}

// ---- Properties ----------------------------------------------------------------

struct Paint {
  enum Kind { kNone, kColour, kCurrent, kServer } kind = kNone;
  Rgb rgb;
  int server = -1;  // a gradient element
};
enum class Cap { kButt, kRound, kSquare };
enum class Join { kMiter, kRound, kBevel };

// What an element states itself, before inheritance.
struct Declared {
  std::optional<Paint> fill, stroke;
  std::optional<double> fillOpacity, strokeOpacity, strokeWidth, miterLimit;
  std::optional<bool> fillEvenOdd, clipEvenOdd, visible, strokeFirst;
  std::optional<Cap> cap;
  std::optional<Join> join;
  std::optional<Rgb> colour;
  double opacity = 1;
  bool hidden = false;  // display: none
  int clip = -1;        // a clipPath element
  std::optional<Rgb> stopColour;
  double stopOpacity = 1;
};

// What an element is drawn with, inheritance done.
struct Style {
  Paint fill{Paint::kColour, {}, -1}, stroke;
  double fillOpacity = 1, strokeOpacity = 1, strokeWidth = 1, miterLimit = 4;
  bool fillEvenOdd = false, clipEvenOdd = false, visible = true;
  bool strokeFirst = false;  // paint-order puts the stroke under the fill
  Cap cap = Cap::kButt;
  Join join = Join::kMiter;
  Rgb colour;

  void inherit(const Declared& d) {
    if (d.fill) fill = *d.fill;
    if (d.stroke) stroke = *d.stroke;
    if (d.fillOpacity) fillOpacity = *d.fillOpacity;
    if (d.strokeOpacity) strokeOpacity = *d.strokeOpacity;
    if (d.strokeWidth) strokeWidth = *d.strokeWidth;
    if (d.miterLimit) miterLimit = *d.miterLimit;
    if (d.fillEvenOdd) fillEvenOdd = *d.fillEvenOdd;
    if (d.clipEvenOdd) clipEvenOdd = *d.clipEvenOdd;
    if (d.visible) visible = *d.visible;
    if (d.strokeFirst) strokeFirst = *d.strokeFirst;
    if (d.cap) cap = *d.cap;
    if (d.join) join = *d.join;
    if (d.colour) colour = *d.colour;
  }
};

// The element a "#id" names in the document.
std::optional<int> fragment(const Document& doc, std::string_view text) {
  text = trim(text);
  if (text.empty() || text[0] != '#') return std::nullopt;
  const auto it = doc.ids.find(std::string(text.substr(1)));
  if (it == doc.ids.end()) return std::nullopt;
  return it->second;
}

std::optional<int> reference(const Document& doc, std::string_view url) {
  url = trim(url);
  if (url.size() < 6 || url.substr(0, 4) != "url(" || url.back() != ')') return std::nullopt;
  std::string_view id = trim(url.substr(4, url.size() - 5));
  if (id.size() >= 2 && (id.front() == '"' || id.front() == '\'') && id.back() == id.front()) id = id.substr(1, id.size() - 2);
  return fragment(doc, id);
}

std::optional<Paint> paint(const Document& doc, std::string_view v) {
  v = trim(v);
  if (v == "none") return Paint{};
  // Keywords in any case, as CSS reads them.
  if (v.size() == 12 && g_ascii_strncasecmp(v.data(), "currentColor", 12) == 0) return Paint{Paint::kCurrent, {}, -1};
  if (v.substr(0, 4) == "url(") {
    // A fallback after the reference matters only when it does not
    // resolve, and then this declines anyway.
    const size_t close = v.find(')');
    if (close == std::string_view::npos) return std::nullopt;
    const auto target = reference(doc, v.substr(0, close + 1));
    if (!target) return std::nullopt;
    const std::string& name = doc.elements[static_cast<size_t>(*target)].name;
    if (name != "linearGradient" && name != "radialGradient") return std::nullopt;
    return Paint{Paint::kServer, {}, *target};
  }
  const auto c = colour(v);
  if (!c) return std::nullopt;
  return Paint{Paint::kColour, *c, -1};
}

std::optional<double> unitValue(std::string_view v) {
  const auto n = number(v);
  if (!n) return std::nullopt;
  return std::clamp(*n, 0.0, 1.0);
}

bool isOneOf(std::string_view v, std::initializer_list<std::string_view> allowed) {
  return std::find(allowed.begin(), allowed.end(), v) != allowed.end();
}

// Properties that touch only text, filters, the cursor or how an editor
// shows the file: no shape drawn here looks different for them.
bool inertProperty(std::string_view n) {
  // A name that starts with a dash is private to the program that wrote it.
  static constexpr std::string_view kPrefixes[] = {"-", "font", "text-", "stroke-dashoffset", "word-spacing", "letter-spacing",
                                                   "writing-mode", "block-progression", "filter-", "direction", "dominant-baseline", "alignment-baseline",
                                                   "baseline-shift", "line-height", "white-space", "shape-padding", "shape-inside",
                                                   "shape-margin", "inline-size", "solid-", "color-interpolation", "color-rendering",
                                                   "color-profile", "image-rendering", "text-rendering", "enable-background",
                                                   "overflow", "flood-", "lighting-color", "kerning", "unicode-bidi", "glyph-",
                                                   "cursor", "pointer-events", "aria-", "data-", "role", "tabindex",
                                                   "focusable"};
  for (std::string_view p : kPrefixes)
    if (n.substr(0, p.size()) == p) return true;
  return false;
}

// One property, from an attribute or a style declaration, onto d; false when
// it is one this does not draw or a value it cannot read.
bool property(const Document& doc, std::string_view n, std::string_view v, Declared& d) {
  v = trim(v);
  if (v == "inherit") {
    // Inherited properties are inherited anyway; the others would need the
    // parent's value.
    return isOneOf(n, {"fill", "stroke", "fill-opacity", "stroke-opacity", "stroke-width", "stroke-miterlimit", "fill-rule", "clip-rule",
                       "visibility", "stroke-linecap", "stroke-linejoin", "color", "paint-order"}) ||
           inertProperty(n);
  }
  if (n == "fill" || n == "stroke") {
    const auto p = paint(doc, v);
    if (!p) return false;
    (n == "fill" ? d.fill : d.stroke) = *p;
  } else if (n == "fill-opacity" || n == "stroke-opacity" || n == "opacity" || n == "stop-opacity") {
    const auto o = unitValue(v);
    if (!o) return false;
    if (n == "fill-opacity") d.fillOpacity = *o;
    else if (n == "stroke-opacity") d.strokeOpacity = *o;
    else if (n == "opacity") d.opacity = *o;
    else d.stopOpacity = *o;
  } else if (n == "stroke-width") {
    const auto w = length(v);
    if (!w || *w < 0) return false;
    d.strokeWidth = *w;
  } else if (n == "stroke-miterlimit") {
    const auto m = number(v);
    // A limit under 1 passes no miter: every one is bevelled, as the
    // general loader's rasteriser does with the 0 editors write.
    if (!m || *m < 0) return false;
    d.miterLimit = *m;
  } else if (n == "fill-rule" || n == "clip-rule") {
    if (v != "nonzero" && v != "evenodd") return false;
    (n == "fill-rule" ? d.fillEvenOdd : d.clipEvenOdd) = v == "evenodd";
  } else if (n == "stroke-linecap") {
    if (v == "butt") d.cap = Cap::kButt;
    else if (v == "round") d.cap = Cap::kRound;
    else if (v == "square") d.cap = Cap::kSquare;
    else return false;
  } else if (n == "stroke-linejoin") {
    if (v == "miter") d.join = Join::kMiter;
    else if (v == "round") d.join = Join::kRound;
    else if (v == "bevel") d.join = Join::kBevel;
    else return false;
  } else if (n == "color") {
    const auto c = colour(v);
    if (!c) return false;
    d.colour = *c;
  } else if (n == "stop-color") {
    const auto c = colour(v);
    if (!c) return false;
    d.stopColour = *c;
  } else if (n == "display") {
    d.hidden = v == "none";
    if (!d.hidden && !isOneOf(v, {"inline", "block", "inline-block", "list-item", "run-in", "compact", "marker", "table", "inline-table",
                          "table-row-group", "table-header-group", "table-footer-group", "table-row", "table-column-group",
                          "table-column", "table-cell", "table-caption"}))
      return false;
  } else if (n == "visibility") {
    if (v == "visible") d.visible = true;
    else if (v == "hidden" || v == "collapse") d.visible = false;
    else return false;
  } else if (n == "clip-path") {
    d.clip = -1;  // a declaration overrides the attribute
    if (v == "none") return true;
    const auto target = reference(doc, v);
    if (!target || doc.elements[static_cast<size_t>(*target)].name != "clipPath") return false;
    d.clip = *target;
  } else if (n == "mask" || n == "filter" || n == "marker" || n == "marker-start" || n == "marker-mid" || n == "marker-end" ||
             n == "stroke-dasharray") {
    return v == "none";
  } else if (n == "mix-blend-mode") {
    return v == "normal";
  } else if (n == "isolation") {
    // With every blend normal, isolating a group changes nothing.
    return v == "auto" || v == "isolate";
  } else if (n == "vector-effect") {
    return v == "none";
  } else if (n == "paint-order") {
    // "normal", or some of fill, stroke and markers, each once, the rest
    // following in that order. Markers are not drawn here: only whether
    // the stroke comes before the fill matters.
    if (v == "normal") {
      d.strokeFirst = false;
      return true;
    }
    int fill = -1, stroke = -1, markers = -1, at = 0;
    for (std::string_view list = v, word; !(word = nextWord(list)).empty(); ++at) {
      int* slot = word == "fill" ? &fill : word == "stroke" ? &stroke : word == "markers" ? &markers : nullptr;
      if (!slot || *slot >= 0) return false;
      *slot = at;
    }
    if (fill < 0) fill = at++;
    if (stroke < 0) stroke = at++;
    d.strokeFirst = stroke < fill;
  } else if (n == "shape-rendering") {
    // The others turn anti-aliasing off.
    return v == "auto" || v == "geometricPrecision";
  } else {
    return inertProperty(n);
  }
  return true;
}

// Attributes that are geometry or structure, read where they apply, and
// those that are harmless anywhere.
bool plainAttribute(std::string_view n) {
  return isOneOf(n, {"id", "class", "version", "baseProfile", "x", "y", "width", "height", "viewBox", "preserveAspectRatio", "d", "points",
                     "cx", "cy", "r", "rx", "ry", "x1", "y1", "x2", "y2", "fx", "fy", "offset", "gradientUnits", "gradientTransform",
                     "spreadMethod", "clipPathUnits", "href", "transform", "style", "pathLength", "zoomAndPan", "contentScriptType",
                     "contentStyleType", "lang"});
}

// A name as a class or id selector writes it: letters, digits, '-' and '_',
// not starting with a digit.
bool isCssName(std::string_view n) {
  if (n.empty() || (n[0] >= '0' && n[0] <= '9')) return false;
  for (char c : n)
    if (!g_ascii_isalnum(c) && c != '-' && c != '_') return false;
  return true;
}

// The rules of a style sheet made of comments and rules whose selectors
// are each one class or one id; false for anything more (element or
// attribute selectors, combinators, pseudo-classes, at-rules, escapes),
// which the general loader is left to match.
bool styleRules(std::string_view sheet, std::vector<Rule>& rules) {
  std::string text;
  for (size_t i = 0; i < sheet.size();) {
    if (sheet.compare(i, 2, "/*") == 0) {
      const size_t end = sheet.find("*/", i + 2);
      if (end == std::string_view::npos) return false;
      text.push_back(' ');
      i = end + 2;
    } else {
      text.push_back(sheet[i++]);
    }
  }
  std::string_view rest = text;
  // Markup's comment delimiters are allowed around a sheet.
  rest = trim(rest);
  if (rest.starts_with("<!--")) rest.remove_prefix(4);
  if (rest.ends_with("-->")) rest.remove_suffix(3);
  while (!(rest = trim(rest)).empty()) {
    const size_t open = rest.find('{'), close = rest.find('}');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) return false;
    const std::string_view selectors = rest.substr(0, open), body = rest.substr(open + 1, close - open - 1);
    if (body.find_first_of("{\\@\"'") != std::string_view::npos || selectors.find_first_of("@\\") != std::string_view::npos) return false;
    for (std::string_view list = selectors; !list.empty();) {
      const size_t comma = std::min(list.find(','), list.size());
      const std::string_view selector = trim(list.substr(0, comma));
      list.remove_prefix(std::min(comma + 1, list.size()));
      if (selector.size() < 2 || (selector[0] != '.' && selector[0] != '#') || !isCssName(selector.substr(1))) return false;
      rules.push_back({selector[0] == '#', std::string(selector.substr(1)), std::string(body)});
      if (rules.size() > 1024) return false;
    }
    rest.remove_prefix(close + 1);
  }
  return true;
}

// Declarations as a style attribute or a rule writes them, onto d.
bool declarations(const Document& doc, std::string_view list, Declared& d) {
  if (list.find("/*") != std::string_view::npos || list.find('!') != std::string_view::npos || list.find('\\') != std::string_view::npos) return false;
  while (!list.empty()) {
    const size_t end = std::min(list.find(';'), list.size());
    const std::string_view declaration = trim(list.substr(0, end));
    list.remove_prefix(std::min(end + 1, list.size()));
    if (declaration.empty()) continue;
    const size_t colon = declaration.find(':');
    if (colon == std::string_view::npos) return false;
    // Names as written: the general loader does not fold their case, and
    // one it does not know it ignores, so here it declines.
    if (!property(doc, trim(declaration.substr(0, colon)), declaration.substr(colon + 1), d)) return false;
  }
  return true;
}

// The element's own properties: its attributes, then the style sheet's
// rules that select it (classes before ids, each kind in sheet order), then
// its style attribute, which wins over both.
std::optional<Declared> declared(const Document& doc, const Element& e) {
  Declared d;
  std::string_view style, id, classes;
  for (const auto& [n, v] : e.attributes) {
    if (n == "style") style = v;
    if (n == "id") id = v;
    if (n == "class") classes = v;
    if (plainAttribute(n)) continue;
    if (!property(doc, n, v, d)) return std::nullopt;
  }
  for (bool byId : {false, true}) {
    for (const Rule& rule : doc.rules) {
      if (rule.byId != byId) continue;
      bool selected = byId && rule.name == id;
      for (std::string_view list = classes, word; !selected && !(word = nextWord(list)).empty();)
        selected = word == rule.name;
      if (selected && !declarations(doc, rule.declarations, d)) return std::nullopt;
    }
  }
  if (!declarations(doc, style, d)) return std::nullopt;
  return d;
}

const std::string* attribute(const Element& e, std::string_view name) {
  for (const auto& [n, v] : e.attributes)
    if (n == name) return &v;
  return nullptr;
}

// ---- Paths -----------------------------------------------------------------------

// A shape's outline flattened to polylines in user space; `corner` marks the
// points where the outline was given a corner (not inside a curve), where a
// stroke takes its join.
struct Subpath {
  std::vector<Point> points;
  std::vector<bool> corner;
  bool closed = false;
};
using Outline = std::vector<Subpath>;

struct Budget {
  double work = 0;
  size_t points = 0, drawn = 0;
  bool spend(double w) { return (work += w) <= kMaxWork; }
};

// Builds an outline from path commands, flattening curves finely enough for
// the device the user space maps onto.
class OutlineBuilder {
 public:
  OutlineBuilder(const Matrix& ctm, Budget& budget) : ctm_(ctm), budget_(budget) {}

  bool moveTo(Point p) {
    if (!open_ || !outline_.back().points.empty()) outline_.emplace_back();
    open_ = true;
    return add(p, true);
  }
  bool lineTo(Point p) {
    ensureStart();
    return add(p, true);
  }
  bool cubicTo(Point c1, Point c2, Point p) {
    ensureStart();
    const Point p0 = current_;
    const Point d0 = apply(ctm_, p0), d1 = apply(ctm_, c1), d2 = apply(ctm_, c2), d3 = apply(ctm_, p);
    const double m = std::max(std::hypot(d0.x - 2 * d1.x + d2.x, d0.y - 2 * d1.y + d2.y), std::hypot(d1.x - 2 * d2.x + d3.x, d1.y - 2 * d2.y + d3.y));
    // Segments enough to stay within a twentieth of a pixel of the curve.
    const double wanted = std::ceil(std::sqrt(0.75 * m / 0.05));
    if (!std::isfinite(wanted)) return false;
    const int n = static_cast<int>(std::clamp(wanted, 1.0, 200.0));
    for (int i = 1; i <= n; ++i) {
      const double t = static_cast<double>(i) / n, u = 1 - t;
      const Point q{u * u * u * p0.x + 3 * u * u * t * c1.x + 3 * u * t * t * c2.x + t * t * t * p.x,
                    u * u * u * p0.y + 3 * u * u * t * c1.y + 3 * u * t * t * c2.y + t * t * t * p.y};
      if (!add(i == n ? p : q, i == n)) return false;
    }
    return true;
  }
  bool quadTo(Point c, Point p) {
    ensureStart();
    const Point p0 = current_;
    return cubicTo({p0.x + 2.0 / 3 * (c.x - p0.x), p0.y + 2.0 / 3 * (c.y - p0.y)}, {p.x + 2.0 / 3 * (c.x - p.x), p.y + 2.0 / 3 * (c.y - p.y)}, p);
  }
  bool arcTo(double rx, double ry, double angle, bool large, bool sweep, Point p) {
    ensureStart();
    const Point p0 = current_;
    if (p0.x == p.x && p0.y == p.y) return true;
    rx = std::fabs(rx), ry = std::fabs(ry);
    if (rx == 0 || ry == 0) return lineTo(p);
    const double phi = angle * kPi / 180, cs = std::cos(phi), sn = std::sin(phi);
    const double hx = (p0.x - p.x) / 2, hy = (p0.y - p.y) / 2;
    const double x1 = cs * hx + sn * hy, y1 = -sn * hx + cs * hy;
    const double lambda = (x1 * x1) / (rx * rx) + (y1 * y1) / (ry * ry);
    if (lambda > 1) rx *= std::sqrt(lambda), ry *= std::sqrt(lambda);
    const double num = rx * rx * ry * ry - rx * rx * y1 * y1 - ry * ry * x1 * x1;
    const double den = rx * rx * y1 * y1 + ry * ry * x1 * x1;
    double k = den > 0 ? std::sqrt(std::max(0.0, num / den)) : 0;
    if (large == sweep) k = -k;
    const double cx1 = k * rx * y1 / ry, cy1 = -k * ry * x1 / rx;
    const double cx = cs * cx1 - sn * cy1 + (p0.x + p.x) / 2, cy = sn * cx1 + cs * cy1 + (p0.y + p.y) / 2;
    const auto angleOf = [](double ux, double uy, double vx, double vy) {
      return std::atan2(ux * vy - uy * vx, ux * vx + uy * vy);
    };
    const double t1 = angleOf(1, 0, (x1 - cx1) / rx, (y1 - cy1) / ry);
    double dt = angleOf((x1 - cx1) / rx, (y1 - cy1) / ry, (-x1 - cx1) / rx, (-y1 - cy1) / ry);
    if (!sweep && dt > 0) dt -= 2 * kPi;
    if (sweep && dt < 0) dt += 2 * kPi;
    if (!std::isfinite(dt) || !std::isfinite(cx) || !std::isfinite(cy)) return false;
    const int pieces = static_cast<int>(std::ceil(std::fabs(dt) / (kPi / 2) - 1e-9));
    const double step = dt / std::max(pieces, 1);
    const double kappa = 4.0 / 3 * std::tan(step / 4);
    const auto at = [&](double t) { return Point{cx + rx * std::cos(t) * cs - ry * std::sin(t) * sn, cy + rx * std::cos(t) * sn + ry * std::sin(t) * cs}; };
    const auto tangent = [&](double t) { return Point{-rx * std::sin(t) * cs - ry * std::cos(t) * sn, -rx * std::sin(t) * sn + ry * std::cos(t) * cs}; };
    for (int i = 0; i < pieces; ++i) {
      const double a = t1 + step * i, b = a + step;
      const Point pa = at(a), pb = i == pieces - 1 ? p : at(b), ta = tangent(a), tb = tangent(b);
      if (!cubicTo({pa.x + kappa * ta.x, pa.y + kappa * ta.y}, {pb.x - kappa * tb.x, pb.y - kappa * tb.y}, pb)) return false;
    }
    return true;
  }
  void close() {
    if (!open_ || outline_.back().points.empty()) return;
    outline_.back().closed = true;
    current_ = outline_.back().points.front();
    open_ = false;
  }
  Point current() const { return current_; }
  Outline take() { return std::move(outline_); }

 private:
  // A command after a close starts a new subpath where the closed one began.
  void ensureStart() {
    if (open_) return;
    const Point start = current_;
    outline_.emplace_back();
    open_ = true;
    outline_.back().points.push_back(start);
    outline_.back().corner.push_back(true);
  }
  bool add(Point p, bool corner) {
    if (!finiteValue(p.x) || !finiteValue(p.y) || ++budget_.points > kMaxPoints) return false;
    Subpath& s = outline_.back();
    s.points.push_back(p);
    s.corner.push_back(corner);
    current_ = p;
    return true;
  }

  Matrix ctm_;
  Budget& budget_;
  Outline outline_;
  Point current_{0, 0};
  bool open_ = false;
};

bool readFlag(std::string_view& s, bool& out) {
  if (s.empty() || (s[0] != '0' && s[0] != '1')) return false;
  out = s[0] == '1';
  s.remove_prefix(1);
  skipSeparators(s);
  return true;
}

bool pathData(std::string_view s, OutlineBuilder& b) {
  char command = 0;
  Point lastControl{0, 0};
  char lastKind = 0;  // 'C' or 'Q' when the previous segment was such a curve
  s = trim(s);
  if (s.empty()) return true;
  if (s[0] != 'M' && s[0] != 'm') return false;
  while (true) {
    skipSeparators(s);
    if (s.empty()) return true;
    if (std::strchr("MmLlHhVvCcSsQqTtAaZz", s[0]) && s[0] != 0) {
      command = s[0];
      s.remove_prefix(1);
      skipSeparators(s);
      if (command == 'Z' || command == 'z') {
        b.close();
        lastKind = 0;
        continue;
      }
    } else if (command == 0 || command == 'Z' || command == 'z') {
      return false;
    }
    const bool rel = command >= 'a';
    const Point cur = b.current();
    const auto pt = [&](double x, double y) { return rel ? Point{cur.x + x, cur.y + y} : Point{x, y}; };
    double v[7];
    const auto read = [&](int n) {
      for (int i = 0; i < n; ++i) {
        if (!readNumber(s, v[i])) return false;
        skipSeparators(s);
      }
      return true;
    };
    bool ok = true;
    char kind = 0;
    switch (command) {
      case 'M':
      case 'm':
        ok = read(2) && b.moveTo(pt(v[0], v[1]));
        command = rel ? 'l' : 'L';  // further pairs are lines
        break;
      case 'L':
      case 'l':
        ok = read(2) && b.lineTo(pt(v[0], v[1]));
        break;
      case 'H':
      case 'h':
        ok = read(1) && b.lineTo({rel ? cur.x + v[0] : v[0], cur.y});
        break;
      case 'V':
      case 'v':
        ok = read(1) && b.lineTo({cur.x, rel ? cur.y + v[0] : v[0]});
        break;
      case 'C':
      case 'c':
        if ((ok = read(6))) {
          lastControl = pt(v[2], v[3]);
          ok = b.cubicTo(pt(v[0], v[1]), lastControl, pt(v[4], v[5]));
          kind = 'C';
        }
        break;
      case 'S':
      case 's':
        if ((ok = read(4))) {
          const Point c1 = lastKind == 'C' ? Point{2 * cur.x - lastControl.x, 2 * cur.y - lastControl.y} : cur;
          lastControl = pt(v[0], v[1]);
          ok = b.cubicTo(c1, lastControl, pt(v[2], v[3]));
          kind = 'C';
        }
        break;
      case 'Q':
      case 'q':
        if ((ok = read(4))) {
          lastControl = pt(v[0], v[1]);
          ok = b.quadTo(lastControl, pt(v[2], v[3]));
          kind = 'Q';
        }
        break;
      case 'T':
      case 't':
        if ((ok = read(2))) {
          lastControl = lastKind == 'Q' ? Point{2 * cur.x - lastControl.x, 2 * cur.y - lastControl.y} : cur;
          ok = b.quadTo(lastControl, pt(v[0], v[1]));
          kind = 'Q';
        }
        break;
      case 'A':
      case 'a': {
        bool large = false, sweep = false;
        if (!(ok = read(3) && readFlag(s, large) && readFlag(s, sweep))) break;
        const double rx = v[0], ry = v[1], angle = v[2];
        ok = read(2) && b.arcTo(rx, ry, angle, large, sweep, pt(v[0], v[1]));
        break;
      }
      default:
        ok = false;
    }
    if (!ok) return false;
    lastKind = kind;
  }
}

// ---- Rasterising -------------------------------------------------------------------

// Coverage of polygons (device space, each closed) under a fill rule, by
// exact area: each edge adds, in every pixel it passes, the signed area it
// bounds to its right, and a running sum along the row gives the winding
// number weighted by area. Exact where edges do not overlap within a pixel,
// as the general loader's rasteriser is.
//
// Where pieces of the polygons overlap within a pixel their areas add up:
// a pixel whose sum passes full coverage is marked in `overlapped`, when
// given, for a count that unites them.
bool coverage(const std::vector<std::vector<Point>>& polygons, bool evenOdd, int size, Budget& budget, std::vector<float>& out,
              std::vector<bool>* overlapped = nullptr) {
  if (!budget.spend(static_cast<double>(size) * size)) return false;
  const size_t stride = static_cast<size_t>(size) + 2;
  std::vector<double> acc(stride * static_cast<size_t>(size), 0.0);
  const double right = size;
  // A piece of an edge within one pixel row and one column (or left of the
  // canvas, all of it counted in column 0).
  const auto cell = [&](int row, double xa, double ya, double xb, double yb) {
    const double dy = yb - ya;
    if (dy == 0) return;
    const double xm = std::clamp((xa + xb) / 2, 0.0, right);
    const int cx = std::min(static_cast<int>(xm), size);
    double* line = acc.data() + static_cast<size_t>(row) * stride;
    const double inside = xm - cx;  // how far into the cell: that part lies left of the edge
    line[cx] += dy * (1 - inside);
    line[cx + 1] += dy * inside;
  };
  for (const auto& poly : polygons) {
    for (size_t i = 0; i < poly.size(); ++i) {
      Point a = poly[i], b = poly[(i + 1) % poly.size()];
      if (!finiteValue(a.x) || !finiteValue(a.y)) return false;
      if (a.y == b.y) continue;
      const double sign = a.y < b.y ? 1 : -1;
      if (a.y > b.y) std::swap(a, b);
      if (b.y <= 0 || a.y >= size) continue;
      const double slope = (b.x - a.x) / (b.y - a.y);
      const double y0 = std::max(a.y, 0.0), y1 = std::min(b.y, right);
      const int first = static_cast<int>(y0), last = std::min(size - 1, static_cast<int>(std::ceil(y1)) - 1);
      if (!budget.spend((last - first + 1) * 2.0 + std::min(std::fabs(slope) * (y1 - y0), right * (last - first + 1)))) return false;
      for (int row = first; row <= last; ++row) {
        const double ya = std::max(y0, static_cast<double>(row)), yb = std::min(y1, row + 1.0);
        if (yb <= ya) continue;
        double xa = a.x + (ya - a.y) * slope, xb = a.x + (yb - a.y) * slope;
        // Split where the edge crosses column boundaries inside the canvas.
        const double lo = std::min(xa, xb), hi = std::max(xa, xb);
        if (std::floor(lo) == std::floor(hi) || hi <= 0 || lo >= right) {
          cell(row, xa, ya * sign, xb, yb * sign);
          continue;
        }
        // Only boundaries on the canvas: left of it everything counts in
        // column 0, right of it nothing shows.
        double x = xa, y = ya;
        const auto split = [&](double boundary) {
          const double yc = ya + (boundary - xa) / (xb - xa) * (yb - ya);
          cell(row, x, y * sign, boundary, yc * sign);
          x = boundary, y = yc;
        };
        if (xb > xa) {
          for (double boundary = std::max(std::floor(xa) + 1, 0.0); boundary < xb && boundary <= right; ++boundary) split(boundary);
        } else {
          for (double boundary = std::min(std::ceil(xa) - 1, right); boundary > xb && boundary >= 0; --boundary) split(boundary);
        }
        cell(row, x, y * sign, xb, yb * sign);
      }
    }
  }
  out.assign(static_cast<size_t>(size) * size, 0.0f);
  for (int row = 0; row < size; ++row) {
    double winding = 0;
    const double* line = acc.data() + static_cast<size_t>(row) * stride;
    for (int x = 0; x < size; ++x) {
      winding += line[x];
      double c = std::fabs(winding);
      if (overlapped && c > 1 + 1e-6) {
        if (overlapped->empty()) overlapped->assign(static_cast<size_t>(size) * size, false);
        (*overlapped)[static_cast<size_t>(row) * size + x] = true;
      }
      if (evenOdd && c > 1) {
        c -= 2 * std::floor(c / 2);
        if (c > 1) c = 2 - c;
      }
      out[static_cast<size_t>(row) * size + x] = static_cast<float>(std::min(c, 1.0));
    }
  }
  return true;
}

// Where polygons (device space, each closed) are inside under a fill rule,
// sampled on kRows lines a pixel row: for each line, its inside intervals,
// ordered and apart. Coarser than exact area vertically, but spans unite
// and intersect exactly: a stroke's overlapping pieces count once, and a
// shape clipped along its own edge keeps that edge's coverage rather than
// its square.
using Spans = std::vector<std::vector<std::pair<double, double>>>;
constexpr int kRows = 15;

struct Edge {
  double x0, y0, x1, y1;
  int winding;
};

bool spans(const std::vector<std::vector<Point>>& polygons, bool evenOdd, int size, Budget& budget, Spans& out) {
  if (!budget.spend(static_cast<double>(size) * kRows)) return false;
  out.assign(static_cast<size_t>(size) * kRows, {});
  std::vector<std::vector<int>> rows(static_cast<size_t>(size));
  std::vector<Edge> edges;
  for (const auto& poly : polygons) {
    for (size_t i = 0; i < poly.size(); ++i) {
      const Point a = poly[i], b = poly[(i + 1) % poly.size()];
      if (!finiteValue(a.x) || !finiteValue(a.y)) return false;
      if (a.y == b.y) continue;
      Edge e = a.y < b.y ? Edge{a.x, a.y, b.x, b.y, 1} : Edge{b.x, b.y, a.x, a.y, -1};
      if (e.y1 <= 0 || e.y0 >= size) continue;
      const int first = std::max(0, static_cast<int>(std::floor(e.y0))), last = std::min(size - 1, static_cast<int>(std::floor(e.y1)));
      if (!budget.spend(last - first + 1)) return false;
      for (int r = first; r <= last; ++r) rows[static_cast<size_t>(r)].push_back(static_cast<int>(edges.size()));
      edges.push_back(e);
    }
  }
  std::vector<std::pair<double, int>> crossings;
  for (int row = 0; row < size; ++row) {
    const auto& list = rows[static_cast<size_t>(row)];
    if (list.empty()) continue;
    for (int k = 0; k < kRows; ++k) {
      const double y = row + (k + 0.5) / kRows;
      crossings.clear();
      for (int i : list) {
        const Edge& e = edges[static_cast<size_t>(i)];
        if (y < e.y0 || y >= e.y1) continue;
        crossings.emplace_back(e.x0 + (y - e.y0) * (e.x1 - e.x0) / (e.y1 - e.y0), e.winding);
      }
      if (!budget.spend(static_cast<double>(list.size() + crossings.size() * 4))) return false;
      std::sort(crossings.begin(), crossings.end());
      auto& line = out[static_cast<size_t>(row) * kRows + k];
      int winding = 0;
      for (size_t i = 0; i + 1 < crossings.size(); ++i) {
        winding += crossings[i].second;
        if (evenOdd ? (winding & 1) == 0 : winding == 0) continue;
        const double a = std::clamp(crossings[i].first, 0.0, static_cast<double>(size));
        const double b = std::clamp(crossings[i + 1].first, 0.0, static_cast<double>(size));
        if (b <= a) continue;
        if (!line.empty() && line.back().second >= a) line.back().second = std::max(line.back().second, b);
        else line.emplace_back(a, b);
      }
    }
  }
  return true;
}

// Both sets of intervals of one line, each ordered, united or intersected.
void combine(std::vector<std::pair<double, double>>& into, const std::vector<std::pair<double, double>>& other, bool unite) {
  std::vector<std::pair<double, double>> result;
  if (unite) {
    std::vector<std::pair<double, double>> all(into.size() + other.size());
    std::merge(into.begin(), into.end(), other.begin(), other.end(), all.begin());
    for (const auto& span : all) {
      if (!result.empty() && result.back().second >= span.first) result.back().second = std::max(result.back().second, span.second);
      else result.push_back(span);
    }
  } else {
    for (size_t i = 0, j = 0; i < into.size() && j < other.size();) {
      const double a = std::max(into[i].first, other[j].first), b = std::min(into[i].second, other[j].second);
      if (a < b) result.emplace_back(a, b);
      (into[i].second < other[j].second ? i : j)++;
    }
  }
  into = std::move(result);
}

bool combine(Spans& into, const Spans& other, bool unite, Budget& budget) {
  for (size_t line = 0; line < into.size(); ++line) {
    if (!budget.spend(static_cast<double>(into[line].size() + other[line].size() + 1))) return false;
    if (!unite && into[line].empty()) continue;
    if (unite && other[line].empty()) continue;
    combine(into[line], other[line], unite);
  }
  return true;
}

void spanCoverage(const Spans& lines, int size, std::vector<float>& out) {
  out.assign(static_cast<size_t>(size) * size, 0.0f);
  constexpr float w = 1.0f / kRows;
  for (size_t l = 0; l < lines.size(); ++l) {
    float* row = out.data() + (l / kRows) * static_cast<size_t>(size);
    for (const auto& [a, b] : lines[l]) {
      const int ia = static_cast<int>(a), ib = static_cast<int>(b);
      if (ia == ib) {
        row[ia] += static_cast<float>(b - a) * w;
        continue;
      }
      row[ia] += static_cast<float>(ia + 1 - a) * w;
      for (int x = ia + 1; x < ib; ++x) row[x] += w;
      if (ib < size) row[ib] += static_cast<float>(b - ib) * w;
    }
  }
  for (float& c : out) c = std::min(c, 1.0f);
}

// ---- Strokes -----------------------------------------------------------------------

double cross(Point a, Point b) { return a.x * b.y - a.y * b.x; }

double signedArea(const std::vector<Point>& poly) {
  double area = 0;
  for (size_t i = 0; i < poly.size(); ++i) area += cross(poly[i], poly[(i + 1) % poly.size()]);
  return area / 2;
}

// The outline of a stroke as pieces (a quadrilateral for each segment, a
// wedge or disc for each join, caps at the ends) all wound one way, so that
// their non-zero fill is their union.
class Stroker {
 public:
  Stroker(const Style& style, double deviceScale, std::vector<std::vector<Point>>& out)
      : half_(style.strokeWidth / 2), style_(style), out_(out) {
    // Sides enough for a disc to stay within a twentieth of a pixel.
    const double r = half_ * deviceScale;
    discSides_ = r < 0.05 ? 4 : static_cast<int>(std::clamp(std::ceil(kPi / std::acos(std::max(-1.0, 1 - 0.05 / r))), 4.0, 128.0));
  }

  bool stroke(const Subpath& s, Budget& budget) {
    std::vector<Point> p;
    std::vector<bool> corner;
    for (size_t i = 0; i < s.points.size(); ++i) {
      if (!p.empty() && s.points[i].x == p.back().x && s.points[i].y == p.back().y) {
        corner.back() = corner.back() || s.corner[i];
        continue;
      }
      p.push_back(s.points[i]);
      corner.push_back(s.corner[i]);
    }
    bool closed = s.closed;
    if (closed && p.size() > 1 && p.front().x == p.back().x && p.front().y == p.back().y) p.pop_back(), corner.pop_back();
    // A lone point draws nothing with butt caps; what the others make of
    // it is not settled here.
    if (p.size() == 1) return style_.cap == Cap::kButt;
    const size_t n = p.size();
    const size_t segments = closed ? n : n - 1;
    if (!budget.spend(static_cast<double>(segments) * 8)) return false;
    for (size_t i = 0; i < segments; ++i) {
      Point a = p[i], b = p[(i + 1) % n];
      const Point d = unit(a, b);
      if (!closed && style_.cap == Cap::kSquare) {
        if (i == 0) a = {a.x - d.x * half_, a.y - d.y * half_};
        if (i == segments - 1) b = {b.x + d.x * half_, b.y + d.y * half_};
      }
      const Point nrm{-d.y * half_, d.x * half_};
      piece({{a.x + nrm.x, a.y + nrm.y}, {b.x + nrm.x, b.y + nrm.y}, {b.x - nrm.x, b.y - nrm.y}, {a.x - nrm.x, a.y - nrm.y}});
    }
    for (size_t i = closed ? 0 : 1; i < (closed ? n : n - 1); ++i) {
      const Point prev = p[(i + n - 1) % n], at = p[i], next = p[(i + 1) % n];
      if (!join(unit(prev, at), at, unit(at, next), corner[i], budget)) return false;
    }
    if (!closed && style_.cap == Cap::kRound) return disc(p.front(), budget) && disc(p.back(), budget);
    return true;
  }

 private:
  static Point unit(Point a, Point b) {
    const double l = std::hypot(b.x - a.x, b.y - a.y);
    return {(b.x - a.x) / l, (b.y - a.y) / l};
  }

  void piece(std::vector<Point> poly) {
    if (signedArea(poly) < 0) std::reverse(poly.begin(), poly.end());
    out_.push_back(std::move(poly));
  }

  bool disc(Point c, Budget& budget) {
    if (!budget.spend(discSides_)) return false;
    std::vector<Point> poly;
    for (int i = 0; i < discSides_; ++i) {
      const double t = 2 * kPi * i / discSides_;
      poly.push_back({c.x + half_ * std::cos(t), c.y + half_ * std::sin(t)});
    }
    piece(std::move(poly));
    return true;
  }

  bool join(Point d0, Point at, Point d1, bool corner, Budget& budget) {
    const double turn = cross(d0, d1), dot = d0.x * d1.x + d0.y * d1.y;
    if (std::fabs(turn) < 1e-12 && dot > 0) return true;
    // The outer side: away from the turn.
    const double side = turn > 0 ? -1 : 1;
    const Point a{at.x - d0.y * half_ * side, at.y + d0.x * half_ * side};
    const Point b{at.x - d1.y * half_ * side, at.y + d1.x * half_ * side};
    // Inside a curve the outline turns smoothly: a join that follows it.
    Join kind = style_.join;
    if (!corner) kind = dot > 0.99 ? Join::kMiter : Join::kRound;
    if (kind == Join::kRound) {
      // The segments' own pieces cover all of the disc about the vertex but
      // the wedge between their outer corners: only that is added.
      const double from = std::atan2(a.y - at.y, a.x - at.x);
      double sweep = std::atan2(b.y - at.y, b.x - at.x) - from;
      if (sweep > kPi) sweep -= 2 * kPi;
      if (sweep < -kPi) sweep += 2 * kPi;
      // The wedge opens away from the turn, towards d0 - d1. Where the path
      // turns back on itself, a and b are opposite and the sweep is +-pi by
      // rounding alone: it is turned to the side the segments leave open.
      const double middle = from + sweep / 2;
      if (std::cos(middle) * (d0.x - d1.x) + std::sin(middle) * (d0.y - d1.y) < 0) sweep += sweep > 0 ? -2 * kPi : 2 * kPi;
      const int steps = std::max(1, static_cast<int>(std::ceil(std::fabs(sweep) / (2 * kPi) * discSides_)));
      if (!budget.spend(steps)) return false;
      std::vector<Point> wedge{at};
      for (int i = 0; i <= steps; ++i) {
        const double t = from + sweep * i / steps;
        wedge.push_back({at.x + half_ * std::cos(t), at.y + half_ * std::sin(t)});
      }
      piece(std::move(wedge));
      return true;
    }
    if (kind == Join::kMiter) {
      const double ratio = 1 / std::sqrt(std::max(1e-300, (1 + dot) / 2));
      if (!corner || ratio <= style_.miterLimit) {
        const Point mid{a.x + b.x - 2 * at.x, a.y + b.y - 2 * at.y};
        const double ml = std::hypot(mid.x, mid.y);
        if (ml > 0) {
          const Point tip{at.x + mid.x / ml * half_ * ratio, at.y + mid.y / ml * half_ * ratio};
          piece({at, a, tip, b});
          return true;
        }
      }
    }
    piece({at, a, b});
    return true;
  }

  double half_;
  const Style& style_;
  std::vector<std::vector<Point>>& out_;
  int discSides_;
};

// ---- Drawing -----------------------------------------------------------------------

struct Stop {
  double offset;
  double r, g, b, a;
};

struct Gradient {
  bool radial = false, boundingBox = true;
  int spread = 0;  // pad, reflect, repeat
  Matrix transform;
  double x1 = 0, y1 = 0, x2 = 1, y2 = 0;         // linear
  double cx = 0.5, cy = 0.5, r = 0.5, fx = 0.5, fy = 0.5;  // radial
  std::vector<Stop> stops;
};

// A layer: premultiplied RGBA, 0..1.
using Layer = std::vector<float>;

class Renderer {
 public:
  Renderer(const Document& doc, int size) : doc_(doc), size_(size), declared_(doc.elements.size()) {}

  std::optional<std::vector<unsigned char>> draw() {
    const Element& root = doc_.elements[0];
    const auto viewport = rootTransform(root);
    if (!viewport) return std::nullopt;
    Layer canvas(static_cast<size_t>(size_) * size_ * 4, 0.0f);
    if (!drawElement(0, *viewport, Style{}, canvas, 0, 0)) return std::nullopt;
    std::vector<unsigned char> px(canvas.size());
    for (size_t i = 0; i < canvas.size(); i += 4) {
      const int a = static_cast<int>(std::lround(std::clamp(canvas[i + 3], 0.0f, 1.0f) * 255));
      if (a == 0) continue;
      for (int c = 0; c < 3; ++c) {
        const int premultiplied = static_cast<int>(std::lround(std::clamp(canvas[i + c], 0.0f, 1.0f) * 255));
        px[i + c] = static_cast<unsigned char>(std::min(255, premultiplied * 255 / a));
      }
      px[i + 3] = static_cast<unsigned char>(a);
    }
    return px;
  }

 private:
  // The viewBox, or the document's own size without one, placed on the whole
  // canvas.
  std::optional<Matrix> rootTransform(const Element& root) {
    double vx = 0, vy = 0, vw, vh;
    if (const std::string* box = attribute(root, "viewBox")) {
      const auto v = numberList(*box, 4);
      if (!v || v->size() != 4 || (*v)[2] <= 0 || (*v)[3] <= 0) return std::nullopt;
      vx = (*v)[0], vy = (*v)[1], vw = (*v)[2], vh = (*v)[3];
    } else {
      const std::string* w = attribute(root, "width");
      const std::string* h = attribute(root, "height");
      if (!w || !h) return std::nullopt;
      const auto lw = length(*w), lh = length(*h);
      if (!lw || !lh) return std::nullopt;
      vw = *lw, vh = *lh;
    }
    if (const std::string* w = attribute(root, "width"))
      if (const auto lw = length(*w); lw && *lw <= 0) return std::nullopt;
    if (const std::string* h = attribute(root, "height"))
      if (const auto lh = length(*h); lh && *lh <= 0) return std::nullopt;
    if (vw <= 1e-6 || vh <= 1e-6) return std::nullopt;
    viewportWidth_ = vw, viewportHeight_ = vh;
    double ax = 0.5, ay = 0.5;
    bool none = false, slice = false;
    if (const std::string* par = attribute(root, "preserveAspectRatio")) {
      std::string_view p = trim(*par);
      if (p.substr(0, 5) == "defer") p = trim(p.substr(5));
      const size_t space = std::min(p.find_first_of(" \t\r\n"), p.size());
      const std::string_view align = p.substr(0, space), rest = trim(p.substr(space));
      if (align == "none") none = true;
      else if (align.size() == 8 && align[0] == 'x' && align[4] == 'Y') {
        const auto pos = [](std::string_view s) { return s == "Min" ? 0.0 : s == "Mid" ? 0.5 : s == "Max" ? 1.0 : -1.0; };
        ax = pos(align.substr(1, 3)), ay = pos(align.substr(5, 3));
        if (ax < 0 || ay < 0) return std::nullopt;
      } else {
        return std::nullopt;
      }
      if (rest == "slice") slice = true;
      else if (!rest.empty() && rest != "meet") return std::nullopt;
    }
    double sx = size_ / vw, sy = size_ / vh;
    if (!none) sx = sy = slice ? std::max(sx, sy) : std::min(sx, sy);
    const Matrix m{sx, 0, 0, sy, -vx * sx + (size_ - vw * sx) * ax, -vy * sy + (size_ - vh * sy) * ay};
    if (!m.finite()) return std::nullopt;
    return m;
  }

  const Declared* declaredOf(int index) {
    auto& slot = declared_[static_cast<size_t>(index)];
    if (!slot.first) {
      slot.first = true;
      slot.second = declared(doc_, doc_.elements[static_cast<size_t>(index)]);
    }
    return slot.second ? &*slot.second : nullptr;
  }

  // The style an element has where it stands in the document (not as drawn
  // by a `use`): for clip paths' contents.
  std::optional<Style> styleInPlace(int index) {
    std::vector<int> chain;
    for (int i = index; i >= 0; i = doc_.elements[static_cast<size_t>(i)].parent) chain.push_back(i);
    Style s;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      const Declared* d = declaredOf(*it);
      if (!d) return std::nullopt;
      s.inherit(*d);
    }
    return s;
  }

  static bool isShape(std::string_view n) {
    return n == "path" || n == "rect" || n == "circle" || n == "ellipse" || n == "line" || n == "polyline" || n == "polygon";
  }

  // m with the element's own transform applied, if it has one; false when
  // that does not parse or leaves nothing finite.
  bool transformed(const Element& e, Matrix& m) const {
    const std::string* t = attribute(e, "transform");
    if (!t) return true;
    const auto own = transformList(*t);
    if (!own) return false;
    m = m * *own;
    return m.finite();
  }

  // The element a use draws, or -1.
  int useTarget(const Element& use) const {
    const std::string* href = attribute(use, "href");
    return href ? fragment(doc_, *href).value_or(-1) : -1;
  }

  // Where a use places what it draws: its x and y.
  static std::optional<Matrix> useOffset(const Element& use) {
    double x = 0, y = 0;
    if (const std::string* a = attribute(use, "x")) {
      const auto v = length(*a);
      if (!v) return std::nullopt;
      x = *v;
    }
    if (const std::string* a = attribute(use, "y")) {
      const auto v = length(*a);
      if (!v) return std::nullopt;
      y = *v;
    }
    return Matrix{1, 0, 0, 1, x, y};
  }

  bool drawElement(int index, const Matrix& parentCtm, const Style& parentStyle, Layer& target, int layers, int uses, int depth = 0) {
    if (++budget_.drawn > kMaxDrawn || depth > kMaxDrawDepth) return false;
    const Element& e = doc_.elements[static_cast<size_t>(index)];
    const std::string& n = e.name;
    if (n == "defs" || n == "linearGradient" || n == "radialGradient" || n == "clipPath" || opaqueElement(n)) return true;
    if (n == "stop") return false;
    const Declared* d = declaredOf(index);
    if (!d) return false;
    if (d->hidden) return true;
    Style style = parentStyle;
    style.inherit(*d);
    Matrix ctm = parentCtm;
    // On the root a transform is not settled between renderers.
    if ((index == 0 && attribute(e, "transform")) || !transformed(e, ctm)) return false;
    if (n == "use") {
      if (uses >= kMaxUseDepth) return false;
      const int referenced = useTarget(e);
      if (referenced < 0) return false;
      const std::string& tn = doc_.elements[static_cast<size_t>(referenced)].name;
      if (tn != "g" && tn != "use" && !isShape(tn)) return false;
      // A use inside what it draws would draw itself without end.
      for (int i = index; i >= 0; i = doc_.elements[static_cast<size_t>(i)].parent)
        if (i == referenced) return false;
      for (int active : useStack_)
        if (active == referenced) return false;
      const auto offset = useOffset(e);
      if (!offset) return false;
      const Matrix placed = ctm * *offset;
      return group(d, placed, [&](Layer& layer, int layerDepth) {
        useStack_.push_back(referenced);
        const bool ok = drawElement(referenced, placed, style, layer, layerDepth, uses + 1, depth + 1);
        useStack_.pop_back();
        return ok;
      }, target, layers);
    }
    if (n == "svg" || n == "g") {
      return group(d, ctm, [&](Layer& layer, int layerDepth) {
        for (int child : e.children)
          if (!drawElement(child, ctm, style, layer, layerDepth, uses, depth + 1)) return false;
        return true;
      }, target, layers);
    }
    // A shape.
    Outline outline;
    if (!shapeOutline(e, ctm, outline)) return false;
    return group(d, ctm, [&](Layer& layer, int) { return paintShape(outline, ctm, style, layer); }, target, layers);
  }

  // Draws what `content` draws through the element's clip and opacity. A
  // clip holds for everything drawn inside it, each shape cut by it as it
  // is drawn; opacity takes a layer of its own.
  template <class F>
  bool group(const Declared* d, const Matrix& ctm, F content, Layer& target, int layers) {
    if (d->opacity <= 0) return true;
    Spans clip;
    const Spans* outer = clip_;
    if (d->clip >= 0) {
      if (!clipSpans(d->clip, ctm, clip) || (outer && !combine(clip, *outer, false, budget_))) return false;
      clip_ = &clip;
    }
    bool ok;
    if (d->opacity >= 1) {
      ok = content(target, layers);
    } else if (layers >= kMaxLayers || !budget_.spend(static_cast<double>(size_) * size_ * 2)) {
      ok = false;
    } else {
      Layer layer(target.size(), 0.0f);
      ok = content(layer, layers + 1);
      const float k = static_cast<float>(d->opacity);
      for (size_t i = 0; ok && i < layer.size(); i += 4) {
        const float a = layer[i + 3] * k;
        for (int c = 0; c < 4; ++c) target[i + c] = layer[i + c] * k + target[i + c] * (1 - a);
      }
    }
    clip_ = outer;
    return ok;
  }

  // Where a clipPath lets drawing through: the union of its shapes, each
  // under its clip-rule.
  bool clipSpans(int index, const Matrix& ctm, Spans& out) {
    const Element& clip = doc_.elements[static_cast<size_t>(index)];
    const Declared* d = declaredOf(index);
    if (!d || d->clip >= 0) return false;
    if (const std::string* units = attribute(clip, "clipPathUnits"); units && trim(*units) != "userSpaceOnUse") return false;
    Matrix base = ctm;
    if (!transformed(clip, base)) return false;
    if (!budget_.spend(static_cast<double>(size_) * kRows)) return false;
    out.assign(static_cast<size_t>(size_) * kRows, {});
    for (int child : clip.children) {
      Matrix m = base;
      const Element* ce = &doc_.elements[static_cast<size_t>(child)];
      if (opaqueElement(ce->name)) continue;
      auto style = styleInPlace(child);
      const Declared* cd = declaredOf(child);
      if (!style || !cd || cd->clip >= 0) return false;
      if (cd->hidden) continue;
      if (!transformed(*ce, m)) return false;
      if (ce->name == "use") {
        // A use of one shape, as editors write a clip: the shape, placed,
        // with what it inherits from the use.
        const int target = useTarget(*ce);
        if (target < 0 || !isShape(doc_.elements[static_cast<size_t>(target)].name)) return false;
        const auto place = useOffset(*ce);
        const Declared* td = declaredOf(target);
        if (!place || !td || td->clip >= 0) return false;
        if (td->hidden) continue;
        m = m * *place;
        style->inherit(*td);
        ce = &doc_.elements[static_cast<size_t>(target)];
        if (!transformed(*ce, m)) return false;
      }
      if (!style->visible) continue;
      Outline outline;
      Spans shape;
      if (!shapeOutline(*ce, m, outline) || !spans(devicePolygons(outline, m), style->clipEvenOdd, size_, budget_, shape) ||
          !combine(out, shape, true, budget_))
        return false;
    }
    return true;
  }

  static std::vector<std::vector<Point>> devicePolygons(const Outline& outline, const Matrix& ctm) {
    std::vector<std::vector<Point>> polys;
    for (const Subpath& s : outline) {
      if (s.points.size() < 2) continue;
      std::vector<Point> poly;
      poly.reserve(s.points.size());
      for (Point p : s.points) poly.push_back(apply(ctm, p));
      polys.push_back(std::move(poly));
    }
    return polys;
  }

  // Coverage of polygons under a rule, cut by the clip in force. Without
  // one, by exact area, but as spans, which unite exactly, in the pixels
  // where subpaths overlap (summed areas counted them twice: a logo of
  // thin overlapping strands came out 71 levels off at a pixel); stroke
  // pieces always as a union.
  bool cover(const std::vector<std::vector<Point>>& polys, bool evenOdd, bool pieces, std::vector<float>& out) {
    if (!clip_ && !pieces) {
      std::vector<bool> overlapped;
      if (!coverage(polys, evenOdd, size_, budget_, out, polys.size() > 1 ? &overlapped : nullptr)) return false;
      if (overlapped.empty()) return true;
      Spans lines;
      std::vector<float> united;
      if (!spans(polys, evenOdd, size_, budget_, lines)) return false;
      spanCoverage(lines, size_, united);
      for (size_t i = 0; i < out.size(); ++i)
        if (overlapped[i]) out[i] = united[i];
      return true;
    }
    Spans lines;
    if (!spans(polys, evenOdd, size_, budget_, lines) || (clip_ && !combine(lines, *clip_, false, budget_))) return false;
    spanCoverage(lines, size_, out);
    return true;
  }

  bool paintShape(const Outline& outline, const Matrix& ctm, const Style& style, Layer& target) {
    if (!style.visible) return true;
    if (style.strokeFirst) return paintStroke(outline, ctm, style, target) && paintFill(outline, ctm, style, target);
    return paintFill(outline, ctm, style, target) && paintStroke(outline, ctm, style, target);
  }

  bool paintFill(const Outline& outline, const Matrix& ctm, const Style& style, Layer& target) {
    if (style.fill.kind == Paint::kNone || style.fillOpacity <= 0) return true;
    std::vector<float> cov;
    return cover(devicePolygons(outline, ctm), style.fillEvenOdd, false, cov) && composite(cov, style.fill, style.fillOpacity, style, outline, ctm, target);
  }

  bool paintStroke(const Outline& outline, const Matrix& ctm, const Style& style, Layer& target) {
    if (style.stroke.kind == Paint::kNone || style.strokeOpacity <= 0 || style.strokeWidth <= 0) return true;
    // How wide the stroke is on the canvas, at its narrowest and widest.
    const double p = ctm.a * ctm.a + ctm.b * ctm.b + ctm.c * ctm.c + ctm.d * ctm.d, q = std::fabs(ctm.det());
    const double root = std::sqrt(std::max(0.0, p * p / 4 - q * q));
    const double widest = std::sqrt(p / 2 + root) * style.strokeWidth, narrowest = std::sqrt(std::max(0.0, p / 2 - root)) * style.strokeWidth;
    // The general loader leaves out a stroke under a twentieth of a pixel
    // wide; one that is that only in some directions is left to it.
    if (widest < 0.05) return true;
    if (narrowest < 0.05) return false;
    const double deviceScale = widest / style.strokeWidth;
    std::vector<std::vector<Point>> pieces;
    Stroker stroker(style, deviceScale, pieces);
    for (const Subpath& s : outline)
      if (!s.points.empty() && !stroker.stroke(s, budget_)) return false;
    if ((budget_.points += pieces.size() * 4) > kMaxPoints) return false;
    for (auto& poly : pieces)
      for (Point& pt : poly) pt = apply(ctm, pt);
    std::vector<float> cov;
    return cover(pieces, false, true, cov) && composite(cov, style.stroke, style.strokeOpacity, style, outline, ctm, target);
  }

  bool composite(const std::vector<float>& cov, const Paint& paint, double opacity, const Style& style, const Outline& outline,
                 const Matrix& ctm, Layer& target) {
    if (!budget_.spend(static_cast<double>(size_) * size_)) return false;
    if (paint.kind == Paint::kColour || paint.kind == Paint::kCurrent) {
      const Rgb c = paint.kind == Paint::kColour ? paint.rgb : style.colour;
      const float a = static_cast<float>(opacity);
      over(target, cov, [&](int, int) { return std::array<float, 4>{float(c.r) * a, float(c.g) * a, float(c.b) * a, a}; });
      return true;
    }
    Gradient g;
    if (!gradient(paint.server, g)) return false;
    if (g.stops.empty()) return true;
    Matrix space = ctm;
    if (g.boundingBox) {
      // The general loader's box is the shape's extent on the canvas,
      // mapped back into the shape's user space: for a rotated shape,
      // larger than its own box. Followed here.
      double x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
      for (const Subpath& s : outline)
        for (Point u : s.points) {
          const Point p = apply(ctm, u);
          x0 = std::min(x0, p.x), y0 = std::min(y0, p.y), x1 = std::max(x1, p.x), y1 = std::max(y1, p.y);
        }
      {
        const auto inv = ctm.inverse();
        if (!inv) return false;
        const Point c[4] = {apply(*inv, {x0, y0}), apply(*inv, {x1, y0}), apply(*inv, {x0, y1}), apply(*inv, {x1, y1})};
        x0 = y0 = INFINITY, x1 = y1 = -INFINITY;
        for (Point p : c) x0 = std::min(x0, p.x), y0 = std::min(y0, p.y), x1 = std::max(x1, p.x), y1 = std::max(y1, p.y);
      }
      if (!(x1 - x0 > 0) || !(y1 - y0 > 0)) return false;
      space = space * Matrix{x1 - x0, 0, 0, y1 - y0, x0, y0};
    }
    space = space * g.transform;
    const auto inverse = space.inverse();
    if (!inverse || !inverse->finite()) return false;
    if (g.radial && std::hypot(g.fx - g.cx, g.fy - g.cy) >= g.r * 0.999) return false;
    if (!g.radial && g.x1 == g.x2 && g.y1 == g.y2) return false;
    const float o = static_cast<float>(opacity);
    over(target, cov, [&](int x, int y) {
      const Point p = apply(*inverse, {x + 0.5, y + 0.5});
      double t;
      if (!g.radial) {
        const double dx = g.x2 - g.x1, dy = g.y2 - g.y1;
        t = ((p.x - g.x1) * dx + (p.y - g.y1) * dy) / (dx * dx + dy * dy);
      } else {
        // The circle through p in the family from the focus (radius 0) to
        // the outer circle (t = 1).
        const double ddx = g.cx - g.fx, ddy = g.cy - g.fy, ex = p.x - g.fx, ey = p.y - g.fy;
        const double qa = ddx * ddx + ddy * ddy - g.r * g.r, qb = ex * ddx + ey * ddy, qc = ex * ex + ey * ey;
        t = (qb - std::sqrt(std::max(0.0, qb * qb - qa * qc))) / qa;
      }
      if (!std::isfinite(t)) t = 0;
      if (g.spread == 1) {
        t = std::fmod(std::fabs(t), 2.0);
        if (t > 1) t = 2 - t;
      } else if (g.spread == 2) {
        t -= std::floor(t);
      } else {
        t = std::clamp(t, 0.0, 1.0);
      }
      const std::vector<Stop>& s = g.stops;
      const auto mix = [](const Stop& p, const Stop& q, double k) {
        return Stop{0, p.r + (q.r - p.r) * k, p.g + (q.g - p.g) * k, p.b + (q.b - p.b) * k, p.a + (q.a - p.a) * k};
      };
      Stop c = s.back();
      if (g.spread == 2 && (t < s.front().offset || t > s.back().offset)) {
        // Repeating, the last stop runs on into the next period's first.
        const double gap = s.front().offset + 1 - s.back().offset;
        const double into = t > s.back().offset ? t - s.back().offset : t + 1 - s.back().offset;
        c = gap > 0 ? mix(s.back(), s.front(), into / gap) : s.front();
      } else if (t <= s.front().offset) {
        c = s.front();
      } else {
        for (size_t i = 1; i < s.size(); ++i) {
          if (t > s[i].offset) continue;
          const double span = s[i].offset - s[i - 1].offset;
          c = mix(s[i - 1], s[i], span > 0 ? (t - s[i - 1].offset) / span : 1);
          break;
        }
      }
      // Stops mix as straight colour, then the result is premultiplied.
      const float a = static_cast<float>(c.a) * o;
      return std::array<float, 4>{float(c.r) * a, float(c.g) * a, float(c.b) * a, a};
    });
    return true;
  }

  template <class F>
  void over(Layer& target, const std::vector<float>& cov, F colourAt) {
    for (int y = 0; y < size_; ++y) {
      for (int x = 0; x < size_; ++x) {
        const size_t p = static_cast<size_t>(y) * size_ + x;
        const float k = cov[p];
        if (k <= 0) continue;
        const std::array<float, 4> c = colourAt(x, y);
        float* t = target.data() + p * 4;
        const float a = c[3] * k;
        for (int i = 0; i < 4; ++i) t[i] = c[i] * k + t[i] * (1 - a);
      }
    }
  }

  // A gradient with what it inherits through href resolved.
  bool gradient(int index, Gradient& g) {
    std::vector<int> chain;
    for (int i = index;;) {
      if (std::find(chain.begin(), chain.end(), i) != chain.end() || chain.size() >= kMaxHref) return false;
      chain.push_back(i);
      const std::string* href = attribute(doc_.elements[static_cast<size_t>(i)], "href");
      if (!href) break;
      const std::optional<int> target = fragment(doc_, *href);
      if (!target) return false;
      const std::string& tn = doc_.elements[static_cast<size_t>(*target)].name;
      if (tn != "linearGradient" && tn != "radialGradient") return false;
      i = *target;
    }
    const Element& own = doc_.elements[static_cast<size_t>(index)];
    g.radial = own.name == "radialGradient";
    // The nearest in the chain that states an attribute gives it.
    const auto find = [&](std::string_view name, bool sameKind) -> const std::string* {
      for (int i : chain) {
        const Element& e = doc_.elements[static_cast<size_t>(i)];
        if (sameKind && e.name != own.name) continue;
        if (const std::string* v = attribute(e, name)) return v;
      }
      return nullptr;
    };
    // Every attribute of the chain known (its properties reach only the
    // stops, which read none of the inherited ones).
    for (int i : chain)
      if (!declaredOf(i)) return false;
    if (const std::string* u = find("gradientUnits", false)) {
      const std::string_view v = trim(*u);
      if (v == "userSpaceOnUse") g.boundingBox = false;
      else if (v != "objectBoundingBox") return false;
    }
    if (const std::string* t = find("gradientTransform", false)) {
      const auto m = transformList(*t);
      if (!m) return false;
      g.transform = *m;
    }
    if (const std::string* s = find("spreadMethod", false)) {
      const std::string_view v = trim(*s);
      g.spread = v == "pad" ? 0 : v == "reflect" ? 1 : v == "repeat" ? 2 : -1;
      if (g.spread < 0) return false;
    }
    // Coordinates: fractions of the box, or user units. In user units a
    // coordinate left out or given in percent is a share of the viewport
    // (the root's: nested ones are not drawn here), horizontal, vertical
    // or, for a radius, its normalised diagonal.
    enum Axis { kX, kY, kDiagonal };
    const auto coordinate = [&](std::string_view name, double fallback, Axis axis, double& out) {
      const std::string* v = find(name, true);
      const std::string_view s = v ? trim(*v) : std::string_view();
      const bool percent = !s.empty() && s.back() == '%';
      if (!v || percent) {
        double share = fallback;
        if (v) {
          const auto n = number(s.substr(0, s.size() - 1));
          if (!n) return false;
          share = *n / 100;
        }
        if (g.boundingBox) {
          out = share;
        } else {
          const double side = axis == kX ? viewportWidth_ : axis == kY ? viewportHeight_
                                                                       : std::sqrt((viewportWidth_ * viewportWidth_ + viewportHeight_ * viewportHeight_) / 2);
          out = share * side;
        }
        return finiteValue(out);
      }
      const auto n = g.boundingBox ? number(s) : length(s);
      if (!n) return false;
      out = *n;
      return true;
    };
    if (g.radial) {
      if (!coordinate("cx", 0.5, kX, g.cx) || !coordinate("cy", 0.5, kY, g.cy) || !coordinate("r", 0.5, kDiagonal, g.r)) return false;
      if (g.r <= 0) return false;
      g.fx = g.cx, g.fy = g.cy;
      if (find("fx", true) && !coordinate("fx", 0.5, kX, g.fx)) return false;
      if (find("fy", true) && !coordinate("fy", 0.5, kY, g.fy)) return false;
    } else {
      if (!coordinate("x1", 0, kX, g.x1) || !coordinate("y1", 0, kY, g.y1) || !coordinate("x2", 1, kX, g.x2) || !coordinate("y2", 0, kY, g.y2)) return false;
    }
    // Stops: the first in the chain that has any.
    for (int i : chain) {
      const Element& e = doc_.elements[static_cast<size_t>(i)];
      bool any = false;
      for (int child : e.children) {
        const Element& c = doc_.elements[static_cast<size_t>(child)];
        if (opaqueElement(c.name)) continue;
        if (c.name != "stop") return false;
        any = true;
        const Declared* d = declaredOf(child);
        if (!d) return false;
        Stop s{0, 0, 0, 0, d->stopOpacity};
        if (const std::string* o = attribute(c, "offset")) {
          std::string_view v = trim(*o);
          const bool percent = !v.empty() && v.back() == '%';
          const auto n = number(percent ? v.substr(0, v.size() - 1) : v);
          if (!n) return false;
          s.offset = std::clamp(percent ? *n / 100 : *n, 0.0, 1.0);
        }
        if (!g.stops.empty()) s.offset = std::max(s.offset, g.stops.back().offset);
        const Rgb rgb = d->stopColour.value_or(Rgb{});
        s.r = rgb.r, s.g = rgb.g, s.b = rgb.b;
        g.stops.push_back(s);
      }
      if (any) break;
    }
    // A step from one colour to another at a single offset falls between
    // pixel centres differently for each renderer's arithmetic: whole
    // pixels would come out the other colour. Left to the general loader.
    const auto differ = [](const Stop& p, const Stop& q) { return p.r != q.r || p.g != q.g || p.b != q.b || p.a != q.a; };
    for (size_t i = 1; i < g.stops.size(); ++i)
      if (g.stops[i].offset == g.stops[i - 1].offset && differ(g.stops[i], g.stops[i - 1])) return false;
    if (g.spread == 2 && g.stops.size() > 1 && g.stops.front().offset == 0 && g.stops.back().offset == 1 && differ(g.stops.front(), g.stops.back()))
      return false;
    return true;
  }

  bool shapeOutline(const Element& e, const Matrix& ctm, Outline& outline) {
    OutlineBuilder b(ctm, budget_);
    const auto len = [&](std::string_view name, double& out) {
      const std::string* v = attribute(e, name);
      if (!v) return true;
      const auto l = length(*v);
      if (!l) return false;
      out = *l;
      return true;
    };
    const std::string& n = e.name;
    if (n == "path") {
      if (const std::string* d = attribute(e, "d"))
        if (!pathData(*d, b)) return false;
    } else if (n == "rect") {
      double x = 0, y = 0, w = 0, h = 0, rx = -1, ry = -1;
      if (!len("x", x) || !len("y", y) || !len("width", w) || !len("height", h) || !len("rx", rx) || !len("ry", ry)) return false;
      if (w < 0 || h < 0 || (attribute(e, "rx") && rx < 0) || (attribute(e, "ry") && ry < 0)) return false;
      if (w > 0 && h > 0) {
        if (rx < 0) rx = ry;
        if (ry < 0) ry = rx;
        rx = std::clamp(rx, 0.0, w / 2), ry = std::clamp(ry, 0.0, h / 2);
        if (rx > 0 && ry > 0) {
          if (!(b.moveTo({x + rx, y}) && b.lineTo({x + w - rx, y}) && b.arcTo(rx, ry, 0, false, true, {x + w, y + ry}) &&
                b.lineTo({x + w, y + h - ry}) && b.arcTo(rx, ry, 0, false, true, {x + w - rx, y + h}) && b.lineTo({x + rx, y + h}) &&
                b.arcTo(rx, ry, 0, false, true, {x, y + h - ry}) && b.lineTo({x, y + ry}) && b.arcTo(rx, ry, 0, false, true, {x + rx, y})))
            return false;
        } else if (!(b.moveTo({x, y}) && b.lineTo({x + w, y}) && b.lineTo({x + w, y + h}) && b.lineTo({x, y + h}))) {
          return false;
        }
        b.close();
      }
    } else if (n == "circle" || n == "ellipse") {
      double cx = 0, cy = 0, rx = 0, ry = 0;
      if (!len("cx", cx) || !len("cy", cy)) return false;
      if (n == "circle") {
        if (!len("r", rx)) return false;
        ry = rx;
      } else if (!len("rx", rx) || !len("ry", ry)) {
        return false;
      }
      if (rx < 0 || ry < 0) return false;
      if (rx > 0 && ry > 0) {
        if (!(b.moveTo({cx + rx, cy}) && b.arcTo(rx, ry, 0, false, true, {cx, cy + ry}) && b.arcTo(rx, ry, 0, false, true, {cx - rx, cy}) &&
              b.arcTo(rx, ry, 0, false, true, {cx, cy - ry}) && b.arcTo(rx, ry, 0, false, true, {cx + rx, cy})))
          return false;
        b.close();
      }
    } else if (n == "line") {
      double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
      if (!len("x1", x1) || !len("y1", y1) || !len("x2", x2) || !len("y2", y2)) return false;
      if (!b.moveTo({x1, y1}) || !b.lineTo({x2, y2})) return false;
    } else if (n == "polyline" || n == "polygon") {
      const std::string* pts = attribute(e, "points");
      if (pts) {
        const auto v = numberList(*pts, kMaxPoints);
        if (!v || v->size() % 2) return false;
        for (size_t i = 0; i + 1 < v->size(); i += 2)
          if (!(i == 0 ? b.moveTo({(*v)[i], (*v)[i + 1]}) : b.lineTo({(*v)[i], (*v)[i + 1]}))) return false;
        if (n == "polygon") b.close();
      }
    } else {
      return false;
    }
    outline = b.take();
    return true;
  }

  const Document& doc_;
  int size_;
  std::vector<std::pair<bool, std::optional<Declared>>> declared_;
  std::vector<int> useStack_;
  const Spans* clip_ = nullptr;  // the clip in force, if any
  double viewportWidth_ = 0, viewportHeight_ = 0;  // the root's, in user units
  Budget budget_;
};

}  // namespace

std::optional<std::vector<unsigned char>> drawnSvg(std::string_view bytes, int size) {
  if (size <= 0 || size > kMaxSize) return std::nullopt;
  std::optional<Document> doc = parseDocument(bytes);
  if (!doc || !styleRules(doc->styleText, doc->rules)) return std::nullopt;
  return Renderer(*doc, size).draw();
}

}  // namespace corvane::gio
