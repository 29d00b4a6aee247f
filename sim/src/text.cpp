#include "text.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <limits>

namespace dapsim::text {

std::string lower(std::string s) {
  for (char &c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string upper(std::string s) {
  for (char &c : s)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string trim(const std::string &s) {
  const char *blanks = " \t\r\n\f\v";
  const auto first = s.find_first_not_of(blanks);
  if (first == std::string::npos)
    return {};
  const auto last = s.find_last_not_of(blanks);
  return s.substr(first, last - first + 1);
}

bool iequals(const std::string &a, const std::string &b) { return lower(a) == lower(b); }

std::string quoted(const std::uint8_t *bytes, std::size_t count) {
  std::string out = "\"";
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char c = bytes[i];
    switch (c) {
    case '\r':
      out += "\\r";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\t':
      out += "\\t";
      break;
    case '\\':
      out += "\\\\";
      break;
    case '"':
      out += "\\\"";
      break;
    default:
      if (c >= 0x20 && c < 0x7f) {
        out += static_cast<char>(c);
      } else {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\x%02x", c);
        out += buf;
      }
    }
  }
  out += '"';
  return out;
}

std::string quoted(const std::string &bytes) {
  return quoted(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
}

std::string hex(const std::uint8_t *bytes, std::size_t count, bool spaced) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(count * 3);
  for (std::size_t i = 0; i < count; ++i) {
    if (spaced && i > 0)
      out += ' ';
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 0x0f];
  }
  return out;
}

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

} // namespace

std::optional<std::int64_t> parse_integer(const std::string &token) {
  std::size_t i = 0;
  bool negative = false;
  if (i < token.size() && (token[i] == '-' || token[i] == '+')) {
    negative = token[i] == '-';
    ++i;
  }
  int base = 10;
  if (i + 1 < token.size() && token[i] == '0' && (token[i + 1] == 'x' || token[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= token.size())
    return std::nullopt;
  // Accumulate as a negative number so that the most negative value fits.
  constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
  std::int64_t value = 0;
  for (; i < token.size(); ++i) {
    const int d = hex_digit(token[i]);
    if (d < 0 || d >= base)
      return std::nullopt;
    if (value < (min + d) / base)
      return std::nullopt;
    value = value * base - d;
  }
  if (negative)
    return value;
  if (value == min)
    return std::nullopt;
  return -value;
}

std::optional<std::vector<Token>> tokenize(const std::string &line, std::string *error) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  const std::size_t n = line.size();
  while (true) {
    while (i < n && std::isspace(static_cast<unsigned char>(line[i])))
      ++i;
    if (i >= n)
      break;
    Token token;
    if (line[i] != '"') {
      while (i < n && !std::isspace(static_cast<unsigned char>(line[i])))
        token.text += line[i++];
      tokens.push_back(std::move(token));
      continue;
    }
    token.quoted = true;
    ++i;
    bool closed = false;
    while (i < n) {
      const char c = line[i++];
      if (c == '"') {
        closed = true;
        break;
      }
      if (c != '\\') {
        token.text += c;
        continue;
      }
      if (i >= n)
        break;
      const char e = line[i++];
      switch (e) {
      case 'r':
        token.text += '\r';
        break;
      case 'n':
        token.text += '\n';
        break;
      case 't':
        token.text += '\t';
        break;
      case '0':
        token.text += '\0';
        break;
      case '\\':
        token.text += '\\';
        break;
      case '"':
        token.text += '"';
        break;
      case '\'':
        token.text += '\'';
        break;
      case 'x': {
        const int hi = i < n ? hex_digit(line[i]) : -1;
        const int lo = i + 1 < n ? hex_digit(line[i + 1]) : -1;
        if (hi < 0 || lo < 0) {
          *error = "bad \\x escape (two hex digits expected)";
          return std::nullopt;
        }
        token.text += static_cast<char>(hi * 16 + lo);
        i += 2;
        break;
      }
      default:
        *error = std::string("unknown escape \\") + e;
        return std::nullopt;
      }
    }
    if (!closed) {
      *error = "unterminated quoted text";
      return std::nullopt;
    }
    tokens.push_back(std::move(token));
  }
  return tokens;
}

std::optional<std::vector<std::uint8_t>> parse_bytes(const std::vector<Token> &tokens,
                                                     std::string *error) {
  std::vector<std::uint8_t> bytes;
  if (tokens.size() == 1 && tokens[0].quoted) {
    bytes.assign(tokens[0].text.begin(), tokens[0].text.end());
    return bytes;
  }
  if (tokens.empty()) {
    *error = "no data given";
    return std::nullopt;
  }
  for (const auto &token : tokens) {
    if (token.quoted) {
      *error = "give either hex bytes or one quoted text";
      return std::nullopt;
    }
    if (token.text.size() % 2 != 0) {
      *error = "odd number of hex digits in '" + token.text + "'";
      return std::nullopt;
    }
    for (std::size_t i = 0; i < token.text.size(); i += 2) {
      const int hi = hex_digit(token.text[i]);
      const int lo = hex_digit(token.text[i + 1]);
      if (hi < 0 || lo < 0) {
        *error = "not hex bytes: '" + token.text + "'";
        return std::nullopt;
      }
      bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
  }
  return bytes;
}

std::optional<int> parse_errno(const std::string &token) {
  static const struct {
    const char *name;
    int value;
  } names[] = {{"EPERM", EPERM},   {"ENOENT", ENOENT}, {"EINTR", EINTR},        {"EIO", EIO},
               {"ENXIO", ENXIO},   {"EBADF", EBADF},   {"EAGAIN", EAGAIN},      {"ENOMEM", ENOMEM},
               {"EACCES", EACCES}, {"EFAULT", EFAULT}, {"EBUSY", EBUSY},        {"ENODEV", ENODEV},
               {"EINVAL", EINVAL}, {"ENFILE", ENFILE}, {"EMFILE", EMFILE},      {"ENOTTY", ENOTTY},
               {"ENOSPC", ENOSPC}, {"EPIPE", EPIPE},   {"ETIMEDOUT", ETIMEDOUT}};
  for (const auto &entry : names)
    if (iequals(token, entry.name))
      return entry.value;
  const auto value = parse_integer(token);
  if (!value || *value <= 0 || *value > 4095)
    return std::nullopt;
  return static_cast<int>(*value);
}

} // namespace dapsim::text
