#include "helpers/text.h"

namespace helpers {

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

std::string Escape(const std::string& bytes, const std::string& mark, const std::string& special) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7f && special.find(static_cast<char>(c)) == std::string::npos) {
      out += static_cast<char>(c);
    } else {
      out += mark;
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace helpers
