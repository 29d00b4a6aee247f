// Small text helpers shared by the board model and the control language.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dapsim::text {

std::string lower(std::string s);
std::string upper(std::string s);
std::string trim(const std::string &s);
bool iequals(const std::string &a, const std::string &b);

// C-style quoted form: "start x\r".
std::string quoted(const std::string &bytes);
std::string quoted(const std::uint8_t *bytes, std::size_t count);
// Hex pairs, no separator ("1000f0ff"), or separated by spaces.
std::string hex(const std::uint8_t *bytes, std::size_t count, bool spaced);

// A whole token as a number: decimal, or hex with 0x; optional sign.
std::optional<std::int64_t> parse_integer(const std::string &token);

// One token of a control line. Quoted tokens have their C escapes resolved.
struct Token {
  std::string text;
  bool quoted = false;
};

// Splits a control line on blanks, honouring double quotes. Returns nullopt
// with `error` set on an unterminated quote or a bad escape.
std::optional<std::vector<Token>> tokenize(const std::string &line, std::string *error);

// Bytes given as hex pairs (in one or more tokens) or as one quoted string.
std::optional<std::vector<std::uint8_t>> parse_bytes(const std::vector<Token> &tokens,
                                                     std::string *error);

// An errno given as a number or a name such as ENOENT.
std::optional<int> parse_errno(const std::string &token);

} // namespace dapsim::text
