#include "json.hpp"

#include "formats.hpp"

namespace varrow_formats {

const JsonValue *JsonValue::member(std::string_view name, std::string_view other_name) const {
  if (kind != Kind::object) return nullptr;
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i] == name || (!other_name.empty() && names[i] == other_name)) return &items[i];
  return nullptr;
}

namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  JsonValue document() {
    JsonValue v = value(0);
    skip_space();
    if (pos_ != text_.size()) fail("unexpected text after the document");
    return v;
  }

 private:
  [[noreturn]] void fail(const std::string &what) const {
    std::size_t line = 1, column = 1;
    for (std::size_t i = 0; i < pos_ && i < text_.size(); ++i) {
      if (text_[i] == '\n') ++line, column = 1;
      else ++column;
    }
    throw FormatError("line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + what);
  }
  void skip_space() {
    while (pos_ < text_.size() &&
           (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' || text_[pos_] == '\r'))
      ++pos_;
  }
  bool take(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  void literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) fail("unexpected character");
    pos_ += word.size();
  }

  JsonValue value(int depth) {
    if (depth > max_json_depth) fail("nested more than " + std::to_string(max_json_depth) + " deep");
    skip_space();
    if (pos_ >= text_.size()) fail("unexpected end of the document");
    JsonValue v;
    const char c = text_[pos_];
    if (c == '{') {
      v.kind = JsonValue::Kind::object;
      ++pos_;
      skip_space();
      if (take('}')) return v;
      do {
        skip_space();
        if (pos_ >= text_.size() || text_[pos_] != '"') fail("expected a member name");
        std::string name = string();
        skip_space();
        if (!take(':')) fail("expected ':'");
        v.names.push_back(std::move(name));
        v.items.push_back(value(depth + 1));
        skip_space();
      } while (take(','));
      if (!take('}')) fail("expected ',' or '}'");
    } else if (c == '[') {
      v.kind = JsonValue::Kind::array;
      ++pos_;
      skip_space();
      if (take(']')) return v;
      do v.items.push_back(value(depth + 1));
      while ((skip_space(), take(',')));
      if (!take(']')) fail("expected ',' or ']'");
    } else if (c == '"') {
      v.kind = JsonValue::Kind::string;
      v.text = string();
    } else if (c == 't' || c == 'f') {
      v.kind = JsonValue::Kind::boolean;
      v.boolean = c == 't';
      literal(v.boolean ? "true" : "false");
    } else if (c == 'n') {
      literal("null");
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      v.kind = JsonValue::Kind::number;
      v.text = number();
    } else {
      fail("unexpected character");
    }
    return v;
  }

  std::string number() {
    const std::size_t start = pos_;
    const auto digits = [&] {
      const std::size_t from = pos_;
      while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
      if (pos_ == from) fail("bad number");
    };
    take('-');
    digits();
    if (take('.')) digits();
    if (take('e') || take('E')) {
      if (!take('+')) take('-');
      digits();
    }
    return std::string(text_.substr(start, pos_ - start));
  }

  unsigned hex4() {
    if (pos_ + 4 > text_.size()) fail("bad \\u escape");
    unsigned code = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = text_[pos_++];
      code <<= 4;
      if (h >= '0' && h <= '9') code |= unsigned(h - '0');
      else if (h >= 'a' && h <= 'f') code |= unsigned(h - 'a' + 10);
      else if (h >= 'A' && h <= 'F') code |= unsigned(h - 'A' + 10);
      else fail("bad \\u escape");
    }
    return code;
  }

  static void append_utf8(std::string &out, unsigned code) {
    if (code < 0x80) {
      out += char(code);
    } else if (code < 0x800) {
      out += char(0xC0 | (code >> 6)), out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += char(0xE0 | (code >> 12)), out += char(0x80 | ((code >> 6) & 0x3F)), out += char(0x80 | (code & 0x3F));
    } else {
      out += char(0xF0 | (code >> 18)), out += char(0x80 | ((code >> 12) & 0x3F));
      out += char(0x80 | ((code >> 6) & 0x3F)), out += char(0x80 | (code & 0x3F));
    }
  }

  std::string string() {
    ++pos_;  // the opening quote
    std::string out;
    for (;;) {
      if (pos_ >= text_.size()) fail("string without its closing quote");
      const char c = text_[pos_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) fail("control character in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= text_.size()) fail("string without its closing quote");
      const char e = text_[pos_++];
      switch (e) {
        case '"': case '\\': case '/': out += e; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          unsigned code = hex4();
          constexpr unsigned high_first = 0xD800, low_first = 0xDC00, low_end = 0xE000;
          if (code >= high_first && code < low_first && text_.substr(pos_, 2) == "\\u") {
            pos_ += 2;
            const unsigned low = hex4();
            if (low < low_first || low >= low_end) fail("bad surrogate pair");
            code = 0x10000 + ((code - high_first) << 10) + (low - low_first);
          }
          append_utf8(out, code);
          break;
        }
        default: fail(std::string("unknown escape \\") + e);
      }
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

JsonValue parse_json(std::string_view text) { return Parser(text).document(); }

}  // namespace varrow_formats
